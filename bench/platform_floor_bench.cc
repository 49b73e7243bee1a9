// What this machine allows a market data client, before any of the library's
// own work: the figures that bound host_feed_bench's latency at 50 000
// records/s in 1 ms frames (50 MDStock records each).
//
//   arrival   a frame of the same size written to a loopback TCP socket by
//             another process every millisecond; write stamp to the first
//             bytes read, with the reader blocked in poll() or polling the
//             socket without blocking;
//   wake-up   a thread posting a semaphore every millisecond to a thread
//             that sleeps on it: the poster's cost and the sleeper's delay
//             until it runs, left to the scheduler and on two given cores;
//   decode    one frame's records parsed on one thread: the median record of
//             a frame waits for half of them, however fast the hand-off.
//
//   platform_floor_bench [frames=2000]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "MarketData.pb.h"
#include "pipeline_bench_kit.h"
#include "sample_records.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::kmr::client::pipeline_bench;

namespace {

constexpr size_t kFrameRecords = 50;

struct Figures {
    std::vector<double> samples;
    void Print(const char* what) {
        std::sort(samples.begin(), samples.end());
        std::printf("  %-62s p50 %7.1f us, p99 %7.1f us (%zu samples)\n", what, Percentile(samples, 50),
                    Percentile(samples, 99), samples.size());
    }
};

bool Pin(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

// A connected loopback TCP pair; false when the machine refuses one.
bool LoopbackPair(int* writer, int* reader) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0) {
            close(listener);
        }
        return false;
    }
    *writer = socket(AF_INET, SOCK_STREAM, 0);
    *reader = -1;
    if (*writer >= 0 && connect(*writer, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        *reader = accept(listener, nullptr, nullptr);
    }
    close(listener);
    if (*reader < 0) {
        if (*writer >= 0) {
            close(*writer);
        }
        return false;
    }
    const int one = 1;
    setsockopt(*writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return true;
}

// Frames of frame_bytes from a child process, one per millisecond, each
// starting with its write stamp; the first bytes of each are timed here.
// Cores of -1 leave placement to the scheduler.
void Arrival(size_t frame_bytes, int frames, bool blocking, int writer_cpu, int reader_cpu,
             Figures& figures) {
    int writer = -1;
    int reader = -1;
    if (!LoopbackPair(&writer, &reader)) {
        std::perror("loopback pair");
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (writer_cpu >= 0) {
            (void)Pin(writer_cpu);
        }
        std::vector<char> frame(frame_bytes, 'x');
        for (int i = 0; i < frames; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const int64_t stamp = WallNanos();
            std::memcpy(frame.data(), &stamp, sizeof(stamp));
            size_t sent = 0;
            while (sent < frame_bytes) {
                const ssize_t n = write(writer, frame.data() + sent, frame_bytes - sent);
                if (n <= 0) {
                    _exit(1);
                }
                sent += static_cast<size_t>(n);
            }
        }
        _exit(0);
    }
    close(writer);
    cpu_set_t before;
    pthread_getaffinity_np(pthread_self(), sizeof(before), &before);
    if (reader_cpu >= 0) {
        (void)Pin(reader_cpu);
    }
    if (!blocking) {
        fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) | O_NONBLOCK);
    }
    std::vector<char> buffer(frame_bytes);
    size_t in_frame = 0;
    for (int received = 0; received < frames;) {
        if (blocking) {
            pollfd wait{reader, POLLIN, 0};
            poll(&wait, 1, 1000);
        }
        const ssize_t n = recv(reader, buffer.data() + in_frame, frame_bytes - in_frame, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            break;
        }
        if (n < 0) {
            continue;
        }
        if (in_frame == 0 && static_cast<size_t>(n) >= sizeof(int64_t)) {
            int64_t stamp = 0;
            std::memcpy(&stamp, buffer.data(), sizeof(stamp));
            figures.samples.push_back(static_cast<double>(WallNanos() - stamp) / 1000.0);
        }
        in_frame += static_cast<size_t>(n);
        if (in_frame == frame_bytes) {
            in_frame = 0;
            ++received;
        }
    }
    close(reader);
    waitpid(child, nullptr, 0);
    pthread_setaffinity_np(pthread_self(), sizeof(before), &before);
}

// One post per millisecond to a thread sleeping on the semaphore; cpus of -1 leave placement to the
// scheduler.
void WakeUp(int frames, int poster_cpu, int sleeper_cpu, Figures& poster, Figures& sleeper) {
    cpu_set_t before;
    pthread_getaffinity_np(pthread_self(), sizeof(before), &before);
    sem_t semaphore;
    sem_init(&semaphore, 0, 0);
    std::atomic<int64_t> posted{0};
    std::atomic<bool> pinned{true};
    std::thread sleeping([&] {
        if (sleeper_cpu >= 0 && !Pin(sleeper_cpu)) {
            pinned = false;
        }
        for (int i = 0; i < frames; ++i) {
            while (sem_wait(&semaphore) != 0) {
            }
            sleeper.samples.push_back(static_cast<double>(WallNanos() - posted.load()) / 1000.0);
        }
    });
    if (poster_cpu >= 0 && !Pin(poster_cpu)) {
        pinned = false;
    }
    for (int i = 0; i < frames; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int64_t start = WallNanos();
        posted.store(start);
        sem_post(&semaphore);
        poster.samples.push_back(static_cast<double>(WallNanos() - start) / 1000.0);
    }
    sleeping.join();
    sem_destroy(&semaphore);
    if (!pinned) {
        std::printf("  (could not pin the threads: placement was the scheduler's)\n");
    }
    pthread_setaffinity_np(pthread_self(), sizeof(before), &before);
}

// Microseconds to parse one frame's records on one thread, per frame.
void Decode(const std::vector<std::string>& records, int frames, Figures& figures) {
    com::mivo::zel::model::MarketData record;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        for (size_t r = 0; r < kFrameRecords; ++r) {
            const std::string& bytes = records[(static_cast<size_t>(i) * kFrameRecords + r) % records.size()];
            (void)record.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
        }
        figures.samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
    const std::vector<std::string> records = SampleRecords(kFrameRecords * 20);
    size_t frame_bytes = 64;  // header and meta record, about
    for (size_t r = 0; r < kFrameRecords; ++r) {
        frame_bytes += records[r].size() + 4;
    }
    std::printf("one frame: %zu MDStock records, %zu bytes; %ld cores online\n", kFrameRecords, frame_bytes,
                sysconf(_SC_NPROCESSORS_ONLN));

    std::printf("arrival, one frame per ms from another process over loopback TCP:\n");
    Figures blocked;
    Arrival(frame_bytes, frames, true, -1, -1, blocked);
    blocked.Print("reader blocked in poll(), placement the scheduler's");
    Figures apart;
    if (sysconf(_SC_NPROCESSORS_ONLN) >= 2) {
        Arrival(frame_bytes, frames, true, 0, 1, apart);
        apart.Print("reader blocked in poll(), writer and reader on cores 0 and 1");
    }
    Figures polling;
    Arrival(frame_bytes, frames, false, -1, -1, polling);
    polling.Print("reader polling without blocking (one core busy)");

    std::printf("wake-up of a sleeping thread, one post per ms:\n");
    Figures poster;
    Figures sleeper;
    WakeUp(frames, -1, -1, poster, sleeper);
    poster.Print("poster's cost, placement left to the scheduler");
    sleeper.Print("sleeper runs after, placement left to the scheduler");
    if (sysconf(_SC_NPROCESSORS_ONLN) >= 2) {
        Figures cross_poster;
        Figures cross_sleeper;
        WakeUp(frames, 0, 1, cross_poster, cross_sleeper);
        cross_poster.Print("poster's cost, threads on cores 0 and 1");
        cross_sleeper.Print("sleeper runs after, threads on cores 0 and 1");
    }

    std::printf("decoding, one frame's records into one reused record on one thread:\n");
    Figures decode;
    Decode(records, frames, decode);
    decode.Print("whole frame");
    const double half_frame = Percentile(decode.samples, 50) / 2;
    std::printf("floor for the median record of such frames, before any hand-off between threads:\n");
    std::printf(
        "  arrival p50 %.1f us + half a frame's decoding %.1f us = %.1f us (placement the scheduler's)\n",
        Percentile(blocked.samples, 50), half_frame, Percentile(blocked.samples, 50) + half_frame);
    if (!apart.samples.empty()) {
        std::printf(
            "  arrival p50 %.1f us + half a frame's decoding %.1f us = %.1f us (reader on the other core)\n",
            Percentile(apart.samples, 50), half_frame, Percentile(apart.samples, 50) + half_frame);
    }
    return 0;
}
