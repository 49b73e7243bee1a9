// The Python module _zel_gateway_client and its shadow zel_gateway_client.py.
// Parameters go in as JSON text, messages come back as JSON text through a
// Python subclass of Notify.
%module(directors="1", threads="1") zel_gateway_client

%{
#include "python/interruptible_call.h"
#include "python/python_gil.h"
#include "python/python_handle.h"
#include "python/python_module.h"
#include "python/record_delivery.h"

// True when a signal handler raised: KeyboardInterrupt is then set for the
// thread that asked (the one waiting in a blocking call).
static bool zel_signal_raised() {
    PyGILState_STATE state = PyGILState_Ensure();
    const bool raised = PyErr_CheckSignals() != 0;
    PyGILState_Release(state);
    return raised;
}
%}

// Market data reaches Python from the delivery thread, which takes the
// interpreter lock once per batch and calls OnMarketData directly.
// Blocking calls look for Ctrl-C.
%init %{
    static ZelDeliveryGil s_python_gil;
    com::mivo::kmr::client::RecordDelivery::UseInterpreterLock(&s_python_gil);
    com::mivo::kmr::client::PythonHandle::UseDirectCall(com::mivo::kmr::client::MarketDataCall::Call);
    com::mivo::kmr::client::MarketDataCall::Install(d);
    com::mivo::kmr::client::InterruptibleCall::SetSignalCheck(zel_signal_raised);
%}

// Every wrapper carries its signature; the calls a program uses carry a text.
%feature("autodoc", "1");
%include "python/zel_gateway_client_doc.i"

%include <exception.i>
%include <std_string.i>
%include <std_vector.i>
%include <cdata.i>

// A blocking call ended by Ctrl-C returns with KeyboardInterrupt set: raise it.
%define ZEL_RAISE_PENDING(name)
%exception name {
    try {
        $action
    } catch (const std::exception& e) {
        SWIG_exception(SWIG_RuntimeError, e.what());
    }
    if (PyErr_Occurred()) {
        SWIG_fail;
    }
}
%enddef
ZEL_RAISE_PENDING(python_login)
ZEL_RAISE_PENDING(python_logout)
ZEL_RAISE_PENDING(python_subscribeByDataType)
ZEL_RAISE_PENDING(python_subscribeBySecurityId)

// No C++ exception may cross into the interpreter.
%exception {
    try {
        $action
    } catch (const Swig::DirectorException& e) {
        // The Python error was reported and cleared in the director.
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
        SWIG_fail;
    } catch (const std::exception& e) {
        SWIG_exception(SWIG_RuntimeError, e.what());
    }
}

namespace std {
%template(IntVector) vector<int>;
}

// A Python method that raised: show its traceback while the interpreter lock
// is still held, clear it (the library thread has no Python frame to take
// it), and let the bridge contain the C++ exception.
%feature("director:except") {
    if ($error != NULL) {
        Swig::DirectorMethodException pending("Error detected when calling 'Notify.$symname'");
        PyErr_WriteUnraisable(swig_get_self());
        throw pending;
    }
}
%feature("director") Notify;

// PyLog is offered as a pointer type only.
%nodefaultctor PyLog;
class PyLog;

%constant int EFFECTIVE_LENGTH = 1;
%constant int EFFECTIVE_DATA = -999;
%constant int INIT_DATA = 0;

%immutable;
extern int QUERY_TYPE_BASE_INFORMATION;
extern int QUERY_TYPE_LATEST_BASE_INFORMATION;
extern int QUERY_TYPE_ETF_BASE_INFORMATION;
extern int QUERY_TYPE_STATUS;
extern int QUERY_TYPE_SUBSCRIBE_ANSWER;
%mutable;

%include "python/notify.h"

void python_init_env();
void python_fini_env();
void python_open_file_log();
void python_close_file_log();
void python_open_cout_log();
void python_close_cout_log();
int python_login(const char* json, int reserved);
void python_logout();
int python_subscribeByDataType(const char* json, int reserved);
int python_subscribeBySecurityId(const char* json, int reserved);
void python_request_fin_info_query_sync(const char* json, int reserved);
int python_request_fin_info_query_async(const char* json, int reserved);

void Notify_Regist(Notify* notify);
void Log_Regist(PyLog* log);
std::string python_get_statistics();
std::string python_get_subscriptions();

%pythoncode %{
# The module keeps the registered object alive, so a temporary such as
# Notify_Regist(MyNotify()) does not leave the library calling a freed one.
_registered_notify = None


def Notify_Regist(*args):
    """Notify_Regist(notify) -> None

    Registers the Notify subclass instance whose methods receive the
    library's callbacks (market data, subscribe answers, login and link
    events). The module keeps a reference to it until the next registration.
    """
    result = _zel_gateway_client.Notify_Regist(*args)
    global _registered_notify
    _registered_notify = args[0]
    return result


def _logout_at_exit():
    """Ends the session when the interpreter exits."""
    # Library threads must not call into an interpreter that is shutting down.
    python_logout()


import atexit as _atexit
_atexit.register(_logout_at_exit)
%}

// Market data's direct call into Python, which needs the wrapper's cdata
// above; installed by the module's initialisation.
%wrapper %{
#include "python/market_data_call.h"

// The delivery thread's lock; a batch's cached method goes before the lock.
class ZelDeliveryGil : public com::mivo::kmr::client::PythonGil {
public:
    void Release() override {
        com::mivo::kmr::client::MarketDataCall::Forget();
        PythonGil::Release();
    }
};
%}
