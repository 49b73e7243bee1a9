// How fast one simulated datafeed node pushes MDStock records over loopback to a client that reads and
// discards them (plain and LZ4 frames). The node runs on its own loop thread, the reader on the main thread.
//
//   sim_firehose_bench [seconds per run, default 3]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <event2/buffer.h>

#include "MetaData.pb.h"
#include "SysSubscribe.pb.h"
#include "common/base_config.h"
#include "protocol/message_header.h"
#include "protocol/nuvexia_message_impl.h"
#include "sim/sim_data_types.h"
#include "sim/sim_feed_cursor.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_service.h"

using namespace com::mivo::kmr::client;

namespace {

double ThreadCpuSeconds() {
    timespec used;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

struct Figures {
    double seconds = 0;
    double node_cpu_seconds = 0;
    int64_t records = 0;
    int64_t frames = 0;
    int64_t bytes = 0;
};

bool SendFrame(int fd, char* buffer, int length) {
    bool ok = length > 0 && ::send(fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL) == length;
    NuvexiaMessage::ReleaseBuffer(buffer);
    return ok;
}

// Logs in, subscribes to every MDStock and counts what arrives for the given time.
Figures Drain(SimService& service, double seconds) {
    Figures figures;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(service.Node(0).Port());
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    int buffer_size = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof(buffer_size));
    const std::string token = service.Accounts().IssueToken("bench");
    char* frame = nullptr;
    SendFrame(fd, frame,
              NuvexiaMessage::PrepareLoginRequest(frame, com::mivo::zel::model::NUVEXIA_LOGIN_FOR_DATAFEED,
                                                  "127.0.0.1", service.Node(0).Port(), "bench", token, true,
                                                  "sdk_login_1"));
    com::mivo::zel::model::SubscribeRequest request;
    request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdStock);
    frame = nullptr;
    SendFrame(fd, frame, NuvexiaMessage::PrepareSubscribeRequest(frame, &request, "sdk_subscribe_1"));

    std::vector<char> buffer(1 << 20);
    double cpu_start = 0;
    size_t have = 0;
    com::mivo::zel::model::MetaData meta;
    auto start = std::chrono::steady_clock::now();
    bool counting = false;
    while (true) {
        ssize_t got = ::recv(fd, buffer.data() + have, buffer.size() - have, 0);
        if (got <= 0) {
            break;
        }
        have += static_cast<size_t>(got);
        size_t at = 0;
        while (have - at >= static_cast<size_t>(MessageHeader::SIZE)) {
            MessageHeader header;
            header.ReadFrom(buffer.data() + at);
            size_t length = MessageHeader::SIZE + static_cast<size_t>(header.m_metaLength) +
                            static_cast<size_t>(header.m_payloadLength);
            if (have - at < length) {
                break;
            }
            meta.ParseFromArray(buffer.data() + at + MessageHeader::SIZE, header.m_metaLength);
            if (meta.sysmessagetype() == com::mivo::zel::model::PUSH_MARKET_DATA) {
                if (!counting) {
                    // The clock starts with the first push, once the node is in full swing.
                    counting = true;
                    start = std::chrono::steady_clock::now();
                    cpu_start = service.Node(0).LoopThreadCpuSeconds();
                }
                figures.records += meta.zelsysmessagenum();
                figures.frames += 1;
                figures.bytes += static_cast<int64_t>(length);
            }
            at += length;
        }
        std::memmove(buffer.data(), buffer.data() + at, have - at);
        have -= at;
        figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (counting && figures.seconds >= seconds) {
            figures.node_cpu_seconds = service.Node(0).LoopThreadCpuSeconds() - cpu_start;
            break;
        }
    }
    ::close(fd);
    return figures;
}

void Run(const char* label, SimCompression compression, int reuse, double seconds) {
    SimServiceOptions options;
    options.feed.records_per_second = 0;
    options.feed.compression = compression;
    options.feed.template_reuse = reuse;
    options.feed.securities = 3000;
    SimService service(options);
    service.AddAccount({"bench", "bench", {}});
    service.AddDatafeedNode(SimNodeSpec());
    std::string error;
    if (!service.Start(&error)) {
        std::fprintf(stderr, "cannot start: %s\n", error.c_str());
        std::exit(1);
    }
    Figures f = Drain(service, seconds);
    service.Stop();
    std::printf(
        "sim_firehose %-18s %9.0f records/s wall  %9.0f records per node CPU second  %7.1f MB/s  %5.0f "
        "bytes/record  "
        "node busy %3.0f%%\n",
        label, f.records / f.seconds, f.node_cpu_seconds > 0 ? f.records / f.node_cpu_seconds : 0.0,
        f.bytes / f.seconds / 1e6, f.records > 0 ? static_cast<double>(f.bytes) / f.records : 0.0,
        100.0 * f.node_cpu_seconds / f.seconds);
}

// The generator alone: records rendered, stamped and framed into memory, no socket.
void Generate(const char* label, SimCompression compression, int reuse, double seconds) {
    SimFeedOptions feed;
    feed.compression = compression;
    feed.template_reuse = reuse;
    SimUniverse universe(feed.seed, feed.securities, feed.channels);
    SimRecordFactory factory(universe);
    SimFeedCursor cursor(universe, factory, feed);
    cursor.SetStreams(universe.StreamsOfType(SimDataTypes::kMdStock));
    evbuffer* out = evbuffer_new();
    int64_t records = 0;
    int64_t bytes = 0;
    const double start = ThreadCpuSeconds();
    double elapsed = 0;
    while (elapsed < seconds) {
        SimFeedCursor::Output produced = cursor.Produce(out, 4096, 1 << 20, "");
        records += produced.records;
        bytes += produced.bytes;
        evbuffer_drain(out, evbuffer_get_length(out));
        elapsed = ThreadCpuSeconds() - start;
    }
    evbuffer_free(out);
    std::printf("sim_generate %-18s %9.0f records per CPU second  %7.1f MB per CPU second framed\n", label,
                records / elapsed, bytes / elapsed / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (seconds <= 0) {
        seconds = 3.0;
    }
    BaseConfig::GetInstance().CloseFileLog();
    BaseConfig::GetInstance().CloseCoutLog();
    std::printf("sim_firehose: one node, MDStock records, reader discards; %.1f s per run\n", seconds);
    const int reuse = SimFeedOptions().template_reuse;
    Generate("plain", SimCompression::kNever, reuse, seconds);
    Generate("lz4", SimCompression::kAlways, reuse, seconds);
    Generate("plain, render each", SimCompression::kNever, 1, seconds);
    Run("plain", SimCompression::kNever, reuse, seconds);
    Run("lz4", SimCompression::kAlways, reuse, seconds);
    Run("plain, render each", SimCompression::kNever, 1, seconds);
    return 0;
}
