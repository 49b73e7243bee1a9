#pragma once

namespace com::mivo::kmr::client {

// The interpreter lock as the delivery thread takes it. The module installs
// the Python one; without it (the C++ tests) every step does nothing.
class InterpreterLock {
public:
    virtual ~InterpreterLock() = default;

    // The calling thread starts or stops delivering; Detach undoes Attach
    // on the same thread.
    virtual void Attach() {}
    virtual void Detach() {}
    // Around one batch of calls. Acquire returns false when the interpreter
    // can no longer be entered (it is shutting down); Release is then skipped.
    virtual bool Acquire() { return true; }
    virtual void Release() {}
};

}  // namespace com::mivo::kmr::client
