#pragma once

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Marks the stretch of a thread that runs the host's code on the library's
// behalf: a callback of the handler or a line handed to the log sink. A
// teardown asked for from there cannot wait for the thread it runs on, nor
// for locks the library may hold around the call, so it finishes elsewhere.
class ZEL_API HostCall {
public:
    HostCall();
    ~HostCall();
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

    // Whether the calling thread is inside at least one such call.
    static bool Inside();
};

}  // namespace com::mivo::kmr::client
