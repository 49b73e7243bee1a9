#include "pipeline/c_thread.h"

namespace com::mivo::kmr::client {

CThread::~CThread() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CThread::StartThread() {
    // The thread's only start argument is this object, captured before the
    // constructor of std::thread returns.
    m_thread = std::thread([this] { Run(); });
}

}  // namespace com::mivo::kmr::client
