// Throughput of a datafeed connection's frame reader into the raw data queue,
// against a bare loop reading the same bytes from a loopback socket, plus the
// resident memory of the ring queue and the cost of payload copies by
// source/destination distance.
//
//   transport_reader_bench [megabytes per case, default 1024]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MetaData.pb.h"
#include "SysLogin.pb.h"
#include "client/socket_connect_thread.h"
#include "common/base_config.h"
#include "pipeline/data_disruptor.h"
#include "pipeline/raw_data.h"
#include "protocol/nuvexia_message_impl.h"
#include "support/loopback_listener.h"

using namespace com::mivo::kmr::client;
namespace model = com::mivo::zel::model;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string MarketFrame(size_t payload_size, int channel) {
    model::MetaData meta;
    meta.set_sysmessagetype(model::PUSH_MARKET_DATA);
    meta.set_channelno(channel);
    meta.set_channelindex(channel * 1000);
    meta.set_zelsysmessagenum(1);
    std::string payload(payload_size, static_cast<char>('a' + channel % 26));
    char* buf = nullptr;
    int n = NuvexiaMessage::EncodeRawPayload(0, &meta, payload.data(), static_cast<int>(payload.size()), buf);
    std::string out(buf, static_cast<size_t>(n));
    NuvexiaMessage::ReleaseBuffer(buf);
    return out;
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// A node that writes one prepared block of frames `rounds` times to the
// first connection; with login set it first answers the client's login.
class BlastNode {
public:
    BlastNode(const std::string* block, size_t rounds, bool login)
        : m_block(block), m_rounds(rounds), m_login(login), m_listener(4) {
        m_thread = std::thread([this] { Serve(); });
    }
    ~BlastNode() { m_thread.join(); }
    int Port() const { return m_listener.Port(); }

private:
    void Serve() {
        int fd = m_listener.Accept();
        if (fd < 0) {
            return;
        }
        if (m_login && !AnswerLogin(fd)) {
            ::close(fd);
            return;
        }
        for (size_t i = 0; i < m_rounds; ++i) {
            if (!WriteAll(fd, m_block->data(), m_block->size())) {
                break;
            }
        }
        // Wait for the client to hang up so nothing is cut short.
        char sink[4096];
        while (::recv(fd, sink, sizeof(sink), 0) > 0) {
        }
        ::close(fd);
    }

    bool AnswerLogin(int fd) {
        std::string in;
        char buf[4096];
        while (true) {
            ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
            if (n <= 0) {
                return false;
            }
            in.append(buf, static_cast<size_t>(n));
            if (in.size() < 12) {
                continue;
            }
            MessageHeader header;
            NuvexiaMessage::DecodeMsgHeader(in.data(), header);
            if (in.size() < 12u + header.m_metaLength + header.m_payloadLength) {
                continue;
            }
            model::MetaData meta;
            NuvexiaMessage::DecodeMsgMeatData(in.data() + 12, header.m_metaLength, meta);
            model::MetaData answer_meta;
            answer_meta.set_sysmessagetype(model::LOGIN_RESPONSE);
            answer_meta.set_traceid(meta.traceid());
            model::LoginResponse answer;
            answer.set_issuccess(true);
            char* frame = nullptr;
            int length = NuvexiaMessage::EncodeResponse(&answer_meta, &answer, frame);
            bool ok = length > 0 && WriteAll(fd, frame, static_cast<size_t>(length));
            NuvexiaMessage::ReleaseBuffer(frame);
            return ok;
        }
    }

    const std::string* m_block;
    size_t m_rounds;
    bool m_login;
    testing::LoopbackListener m_listener;
    std::thread m_thread;
};

struct Rate {
    double seconds = 0;
    uint64_t bytes = 0;
    uint64_t frames = 0;
    double cpu_seconds = 0;  // every thread of the process, node included
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Rate BareRead(const std::string& block, size_t rounds, size_t frames_per_block) {
    BlastNode node(&block, rounds, false);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(node.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    double cpu = CpuSeconds();
    auto start = Clock::now();
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    const uint64_t total = static_cast<uint64_t>(block.size()) * rounds;
    std::vector<char> buf(65536);
    uint64_t got = 0;
    while (got < total) {
        ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<uint64_t>(n);
    }
    Rate rate{Seconds(start), got, frames_per_block * rounds, CpuSeconds() - cpu};
    ::close(fd);
    return rate;
}

Rate ReaderRun(const std::string& block, size_t rounds, size_t frames_per_block, long* rss_after) {
    BlastNode node(&block, rounds, true);
    auto flow = std::make_shared<SiteFlow>(1, int64_t{1} << 30);
    auto raw = DataDisruptor::CreateRawDataQueue(flow);
    std::string user = "bench", token = "token";
    SiteNodeMap nodes;
    nodes.emplace(1, ServerHost("127.0.0.1", node.Port(), false));
    SocketConnectThread connection(nullptr, nodes, raw, flow, user, token, 1, nullptr);
    connection.Start();

    const uint64_t want = frames_per_block * rounds;
    std::atomic<uint64_t> frames{0}, bytes{0};
    // The consumer parks when the queue stays empty, as the pipeline's does,
    // so that it does not take the processor from the reader.
    struct Parking {
        std::mutex mutex;
        std::condition_variable cv;
        bool woken = false;
    } parking;
    raw->SetWakeHook(
        [](void* ctx) {
            auto* p = static_cast<Parking*>(ctx);
            std::lock_guard<std::mutex> lock(p->mutex);
            p->woken = true;
            p->cv.notify_one();
        },
        &parking);
    std::thread consumer([&] {
        uint64_t n = 0, b = 0;
        int idle = 0;
        while (n < want) {
            RawData* item = raw->front();
            if (item == nullptr) {
                if (++idle < 4096) {
                    continue;
                }
                idle = 0;
                if (raw->PrepareToPark()) {
                    std::unique_lock<std::mutex> lock(parking.mutex);
                    parking.cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return parking.woken; });
                    parking.woken = false;
                    raw->CancelPark();
                }
                continue;
            }
            b += static_cast<uint64_t>(item->m_payload->m_length);
            item->m_payload->Unref();
            item->m_payload = nullptr;
            raw->pop();
            ++n;
        }
        frames = n;
        bytes = b;
    });
    double cpu = CpuSeconds();
    auto start = Clock::now();
    connection.TryConnect();
    consumer.join();
    // Every frame arrived: the same bytes as the bare loop read.
    (void)bytes;
    Rate rate{Seconds(start), static_cast<uint64_t>(block.size()) * rounds, frames.load(),
              CpuSeconds() - cpu};
    *rss_after = ResidentKiB();
    connection.Stop();
    return rate;
}

void CopyDistances() {
    std::printf(
        "\npayload copy by (dst - src) mod 4096, 60000-byte copies, GB/s (glibc memcpy / 64-byte blocks)\n");
    const size_t n = 60000;
    std::vector<char> a(1 << 20, 1), b(1 << 20, 2);
    auto base = [](std::vector<char>& v) {
        uintptr_t p = reinterpret_cast<uintptr_t>(v.data());
        return reinterpret_cast<char*>((p + 8191) & ~static_cast<uintptr_t>(4095));
    };
    char* src = base(a) + 128;
    for (int dist : {0, 1, 16, 32, 48, 63, 64, 256, 2048, 4032, 4095}) {
        char* dst = base(b) + 128 + dist;
        const int reps = 20000;
        auto t0 = Clock::now();
        for (int i = 0; i < reps; ++i) {
            std::memcpy(dst, src, n);
            asm volatile("" ::: "memory");
        }
        double glibc = reps * static_cast<double>(n) / Seconds(t0) / 1e9;
        t0 = Clock::now();
        for (int i = 0; i < reps; ++i) {
            size_t done = 0;
            for (; done + 64 <= n; done += 64) {
                char block[64];
                std::memcpy(block, src + done, 64);
                std::memcpy(dst + done, block, 64);
            }
            std::memcpy(dst + done, src + done, n - done);
            asm volatile("" ::: "memory");
        }
        double blocks = reps * static_cast<double>(n) / Seconds(t0) / 1e9;
        std::printf("  distance %4d: %6.1f / %6.1f\n", dist, glibc, blocks);
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    BaseConfig& config = BaseConfig::GetInstance();
    config.SetLogSeverity(3);
    config.CloseFileLog();
    config.CloseCoutLog();

    long rss0 = ResidentKiB();
    auto queue = std::make_unique<RawDataQueue>();
    long rss_new = ResidentKiB();
    std::printf("ring queue of %u slots: %.0f MiB address space, resident on creation %ld KiB\n",
                kRawDataQueueSize, kRawDataQueueSize * 128.0 / 1048576, rss_new - rss0);
    // One million records through it, one at a time: every slot gets used.
    for (int i = 0; i < 1000000; ++i) {
        RawData* slot = queue->alloc();
        slot->m_msg_num = i;
        queue->push();
        queue->front();
        queue->pop();
    }
    std::printf("same queue after one million records passed through: resident %ld KiB\n",
                ResidentKiB() - rss0);
    queue.reset();

    std::printf(
        "\nframes from one loopback node into the raw data queue (plain consumer) vs a bare recv loop\n");
    for (size_t payload : {1000ul, 16000ul, 60000ul}) {
        const size_t frames_per_block = std::max<size_t>(1, 1048576 / payload);
        std::string block;
        for (size_t i = 0; i < frames_per_block; ++i) {
            block += MarketFrame(payload, static_cast<int>(i % 16));
        }
        size_t rounds = std::max<size_t>(1, megabytes * 1048576 / block.size());
        if (payload == 1000) {
            // At least one million frames, for the resident size after a long run.
            rounds = std::max(rounds, (1000000 + frames_per_block - 1) / frames_per_block);
        }
        Rate bare = BareRead(block, rounds, frames_per_block);
        long rss_before = ResidentKiB();
        long rss_after = 0;
        Rate reader = ReaderRun(block, rounds, frames_per_block, &rss_after);
        double bare_mbs = bare.bytes / bare.seconds / 1048576,
               reader_mbs = reader.bytes / reader.seconds / 1048576;
        std::printf(
            "payload %5zu B: bare %8.0f MB/s %9.0f frames/s | reader %8.0f MB/s %9.0f frames/s | ratio "
            "%.2f\n",
            payload, bare_mbs, bare.frames / bare.seconds, reader_mbs, reader.frames / reader.seconds,
            reader_mbs / bare_mbs);
        std::printf("                 processor time per MB: bare %.2f ms, reader %.2f ms (ratio %.2f)\n",
                    bare.cpu_seconds * 1e3 / (bare.bytes / 1048576.0),
                    reader.cpu_seconds * 1e3 / (reader.bytes / 1048576.0),
                    (bare.cpu_seconds / bare.bytes) / (reader.cpu_seconds / reader.bytes));
        std::printf("                 %llu frames through two new queues: resident +%ld KiB during the run\n",
                    static_cast<unsigned long long>(reader.frames), rss_after - rss_before);
    }
    CopyDistances();
    return 0;
}
