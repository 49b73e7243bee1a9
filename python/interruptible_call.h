#pragma once

#include <functional>

namespace com::mivo::kmr::client {

// Runs a blocking module call so that Ctrl-C ends it for Python.
//
// The work runs on a helper thread while the calling thread (which SWIG has
// let go of the interpreter lock) waits, checking every 100 ms for a pending
// signal. On SIGINT the default handler leaves KeyboardInterrupt set; Run
// returns RESULT_INTERRUPTED at once and the wrapper raises it. The helper
// goes on to the end of its work (nothing in the library can be cut short
// safely); its outcome then goes to on_abandoned. Blocking calls run one at
// a time, in order, so an abandoned one never overlaps the next.
//
// Without a signal check (C++ tests, no interpreter) the work runs in place.
class InterruptibleCall {
public:
    // How to learn that a signal handler raised (the module installs one that
    // runs PyErr_CheckSignals under the interpreter lock); null: none.
    using SignalCheck = bool (*)();
    static void SetSignalCheck(SignalCheck check);

    static int Run(const std::function<int()>& work,
                   const std::function<void(int)>& on_abandoned = std::function<void(int)>());
    // Waits for every abandoned call to end; teardown calls it first so that
    // the client is never destroyed under a call still using it.
    static void WaitForAbandoned();

private:
    InterruptibleCall() = delete;
};

}  // namespace com::mivo::kmr::client
