#pragma once

#include <functional>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Finishes teardowns that were asked for on a thread that cannot wait for
// them (see HostCall): the jobs run one after another, in the order handed
// over, on a thread of the reaper's own. It ends when idle and is joined by
// the next hand-over, by Drain, or at process exit, so nothing is left
// running or allocated behind the host's back.
class ZEL_API Reaper {
public:
    static void Hand(std::function<void()> job);
    // Returns once every job handed over so far has run. Inside a host call
    // it returns at once: the job may be waiting for that very call.
    static void Drain();

    Reaper() = delete;
};

}  // namespace com::mivo::kmr::client
