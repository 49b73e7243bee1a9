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

protected:
    void StartThread();

    std::thread m_thread;
};

}  // namespace com::mivo::kmr::client
