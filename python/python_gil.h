#pragma once

#include <Python.h>

#include "python/interpreter_lock.h"

namespace com::mivo::kmr::client {

// The delivery thread keeps one Python thread state for its whole life, so
// a batch costs one handover of the interpreter lock, and the director's own
// PyGILState_Ensure inside each call only counts a nesting level. Included
// by the module's wrapper only: the C++ tests link no interpreter.
class PythonGil : public InterpreterLock {
public:
    void Attach() override {
        if (Finalizing()) {
            return;  // no thread state: every batch is refused
        }
        s_gil_state = PyGILState_Ensure();
        s_thread_state = PyEval_SaveThread();
    }
    void Detach() override {
        // A shutting-down interpreter may not be entered again; the thread
        // state then goes with the process.
        if (s_thread_state == nullptr || Finalizing()) {
            return;
        }
        PyEval_RestoreThread(s_thread_state);
        s_thread_state = nullptr;
        PyGILState_Release(s_gil_state);
    }
    bool Acquire() override {
        if (s_thread_state == nullptr || Finalizing()) {
            return false;
        }
        PyEval_RestoreThread(s_thread_state);
        return true;
    }
    void Release() override { s_thread_state = PyEval_SaveThread(); }

private:
    static bool Finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
        return Py_IsFinalizing() != 0;
#else
        return _Py_IsFinalizing() != 0;
#endif
    }

    static thread_local inline PyGILState_STATE s_gil_state{};
    static thread_local inline PyThreadState* s_thread_state = nullptr;
};

}  // namespace com::mivo::kmr::client
