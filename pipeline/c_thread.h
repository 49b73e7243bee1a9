#pragma once

#include <thread>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Small thread base: a derived class supplies Run, StartThread runs it on
// m_thread. A derived class must end its thread in its own destructor (Run
// may not outlive the derived part); the base only joins what is left.
class ZEL_API CThread {
public:
    CThread() = default;
    virtual ~CThread();
    virtual void Run() = 0;

    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Id of the running thread (a default id when none runs).
    std::thread::id GetThreadId() const { return m_thread.get_id(); }

protected:
    void StartThread();

    std::thread m_thread;
};

}  // namespace com::mivo::kmr::client
