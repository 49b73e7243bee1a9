#pragma once

#include <string>

#include "python/notify.h"
#include "python/py_log.h"

// The functions of the Python module _zel_gateway_client. Parameters travel
// as JSON text; the int after each text is checked by the module and not used.

// Prints "init env ...", creates the callback bridge if there is none.
void python_init_env();
// Prints "fini env ...", deletes the callback bridge (and with it the
// registration). Call it after python_logout.
void python_fini_env();

void python_open_file_log();
void python_close_file_log();
void python_open_cout_log();
void python_close_cout_log();

// 0 logged in; 1 parameters incomplete; -1 no client; else the login result.
int python_login(const char* json, int reserved);
// Stops and destroys the client.
void python_logout();
int python_subscribeByDataType(const char* json, int reserved);
int python_subscribeBySecurityId(const char* json, int reserved);

// Query kinds for the two query functions, which do nothing yet.
extern int QUERY_TYPE_BASE_INFORMATION;
extern int QUERY_TYPE_LATEST_BASE_INFORMATION;
extern int QUERY_TYPE_ETF_BASE_INFORMATION;
extern int QUERY_TYPE_STATUS;
extern int QUERY_TYPE_SUBSCRIBE_ANSWER;
void python_request_fin_info_query_sync(const char* json, int reserved);
int python_request_fin_info_query_async(const char* json, int reserved);

// Forwards every callback to the Notify (not owned); None stops forwarding.
void Notify_Regist(Notify* notify);
// Accepted for compatibility; the library's log lines are not forwarded.
void Log_Regist(PyLog* log);

// The session's live statistics as JSON text (ClientFactory::GetStatisticsJson).
std::string python_get_statistics();
// The subscriptions the session replays, with their last results, as JSON text.
std::string python_get_subscriptions();
