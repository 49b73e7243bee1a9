#pragma once

#include "client/client_interface.h"

// A log sink type offered to Python for Log_Regist. It is never registered
// with the library, so the library's log lines do not reach Python.
class PyLog : public com::mivo::kmr::client::LogInterface {
public:
    ~PyLog() override {}
    void LogPrint(com::mivo::kmr::client::NuvexiaLogLevel level, const char* message) override {
        (void)level;
        (void)message;
    }
    virtual void Flush() {}
};
