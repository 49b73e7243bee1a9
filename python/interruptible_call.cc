#include "python/interruptible_call.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/result_codes.h"

namespace com::mivo::kmr::client {

namespace {

constexpr std::chrono::milliseconds kSignalCheck{100};

struct Call {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    bool abandoned = false;
    int result = 0;
    std::function<void(int)> on_abandoned;
};

// One blocking call at a time; held by the helper for the whole work.
std::mutex& SerialMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

// Helpers of abandoned calls. Never destroyed: a joinable std::thread left
// at process exit would end the process.
std::mutex& AbandonedMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}
std::vector<std::thread>& Abandoned() {
    static auto* threads = new std::vector<std::thread>();
    return *threads;
}

std::atomic<InterruptibleCall::SignalCheck> s_signal_check{nullptr};

void RunHelper(const std::shared_ptr<Call>& call, const std::function<int()>& work) {
    std::lock_guard<std::mutex> serial(SerialMutex());
    const int result = work();
    std::function<void(int)> after;
    {
        std::lock_guard<std::mutex> lock(call->mutex);
        call->done = true;
        call->result = result;
        if (call->abandoned) {
            after = std::move(call->on_abandoned);
        }
    }
    call->done_cv.notify_all();
    if (after) {
        after(result);
    }
}

}  // namespace

void InterruptibleCall::SetSignalCheck(SignalCheck check) {
    s_signal_check.store(check);
}

int InterruptibleCall::Run(const std::function<int()>& work, const std::function<void(int)>& on_abandoned) {
    const SignalCheck signal_raised = s_signal_check.load();
    if (signal_raised == nullptr) {
        std::lock_guard<std::mutex> serial(SerialMutex());
        return work();
    }
    auto call = std::make_shared<Call>();
    std::thread helper([call, work] { RunHelper(call, work); });
    std::unique_lock<std::mutex> lock(call->mutex);
    while (!call->done_cv.wait_for(lock, kSignalCheck, [&call] { return call->done; })) {
        lock.unlock();
        const bool raised = signal_raised();
        lock.lock();
        if (!raised) {
            continue;
        }
        if (call->done) {
            break;
        }
        call->abandoned = true;
        call->on_abandoned = on_abandoned;
        lock.unlock();
        std::lock_guard<std::mutex> abandoned(AbandonedMutex());
        Abandoned().push_back(std::move(helper));
        return RESULT_INTERRUPTED;
    }
    const int result = call->result;
    lock.unlock();
    helper.join();
    // A signal that came while the work ended still raises in the caller.
    return result;
}

void InterruptibleCall::WaitForAbandoned() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(AbandonedMutex());
        threads.swap(Abandoned());
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace com::mivo::kmr::client
