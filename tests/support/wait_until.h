#pragma once

#include <chrono>
#include <thread>

namespace com::mivo::kmr::client::testing {

// Polls the predicate until it holds; false after the limit, which only
// keeps a broken build from hanging.
template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace com::mivo::kmr::client::testing
