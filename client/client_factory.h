#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "client/client_interface.h"
#include "client/client_statistics.h"
#include "client/message_handle.h"
#include "client/subscription_list.h"
#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// The library's entry: configuration, log sink, and the one client of the
// process.
//
//   auto* factory = ClientFactory::Instance();
//   factory->SetConfig("zel.conf");           // optional
//   factory->RegistLogHandle(&my_sink);       // optional
//   ClientInterface* client = factory->CreateClient(&my_handler);
//   client->LoginByServiceDiscovery(user, password, ip, port, {});
//   client->SubscribeByDatatype(...);
//   ...
//   ClientFactory::Uninstance();              // stops and destroys the client
//
// Instance, CreateClient and Uninstance may be called from any thread.
// Uninstance called from the host's own thread returns when the client and
// all its threads are gone. Called inside a callback or the log sink it
// returns once no callback can start any more (callbacks running on other
// threads have ended, for up to 5 s); the client then finishes on a thread
// of its own as soon as the calling callback has returned, and a later
// Uninstance from a host thread waits for that.
class ZEL_API ClientFactory {
public:
    static ClientFactory* Instance();
    // Destroys the client (if any) and the factory; harmless when repeated
    // and safe inside callbacks (see above).
    static void Uninstance();

    // Reads a key=value configuration file; a null or empty path does nothing.
    void SetConfig(const char* path);
    // True when the last configuration file was read and every line of it
    // was taken as written. Otherwise problems (if not null) receives one
    // text per problem: file not readable, unknown key, value rejected (the
    // setting keeps its earlier value), malformed or overlong line.
    static bool IsConfigClean(std::vector<std::string>* problems = nullptr);

    // What every site's link and pipeline have done since the client was
    // created; callable from any thread at any time, callbacks included.
    // Without a client, has_client is false and there are no sites.
    static ClientStatistics GetStatistics();
    // The same snapshot as one line of JSON (keys as the struct's fields).
    static std::string GetStatisticsJson();
    // The subscriptions the client holds and replays after a reconnect, in
    // order, each with the result of its latest send; any thread, any time.
    static SubscriptionList GetSubscriptions();
    static std::string GetSubscriptionsJson();
    // Registers the process log sink (not owned); null keeps the previous one.
    void RegistLogHandle(LogInterface* log_handle);
    // The process's client, created on the first call with this handler
    // (which must outlive the client); later calls return the same client
    // and ignore their handler. Null for a null handler or when the TLS set-up
    // fails (a later call tries again).
    ClientInterface* CreateClient(MessageHandle* message_handle);

    ClientFactory(const ClientFactory&) = delete;
    ClientFactory& operator=(const ClientFactory&) = delete;

private:
    ClientFactory() = default;
    ~ClientFactory() = default;

    static ClientFactory* s_factory;
    static ClientInterface* s_client;
    static std::mutex s_factory_mutex;
    static std::mutex s_handler_mutex;
};

}  // namespace com::mivo::kmr::client
