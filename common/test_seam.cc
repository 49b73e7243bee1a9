#include "common/test_seam.h"

#include <atomic>
#include <thread>

namespace com::mivo::kmr::client {

namespace {
std::atomic<int> s_time_divisor{1};
}

void TestSeam::SetTimeDivisor(int divisor) {
    s_time_divisor.store(divisor > 0 ? divisor : 1);
}

int TestSeam::GetTimeDivisor() {
    return s_time_divisor.load();
}

std::chrono::milliseconds TestSeam::Scaled(std::chrono::milliseconds pause) {
    const int divisor = s_time_divisor.load(std::memory_order_relaxed);
    if (divisor <= 1) {
        return pause;
    }
    auto scaled = pause / divisor;
    if (scaled.count() == 0 && pause.count() > 0) {
        scaled = std::chrono::milliseconds(1);
    }
    return scaled;
}

void TestSeam::Sleep(std::chrono::milliseconds pause) {
    std::this_thread::sleep_for(Scaled(pause));
}

}  // namespace com::mivo::kmr::client
