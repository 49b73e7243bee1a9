// Records per second from one simulated site through the whole client (frame
// reader, decompression thread, callback threads) into a counting
// OnMarketData, in batches of 50 MDStock records, plain and LZ4; beside it the
// bare rate of one thread that only decompresses and decodes the same
// payloads into a reused message. The design's allocation per record and
// other ways of waiting when idle are measured in the same run for comparison.
//
//   pipeline_throughput_bench [records per run, default 400000]
#include <lz4.h>

#include <cstdlib>
#include <thread>

#include "MarketData.pb.h"
#include "client/datafeed_client.h"
#include "client/socket_connect_thread.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/test_seam.h"
#include "pipeline/pipeline_tuning.h"
#include "pipeline_bench_kit.h"
#include "protocol/wire_order.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::kmr::client::pipeline_bench;
using com::mivo::zel::model::MarketData;

namespace {

class CountingHandle : public MessageHandle {
public:
    explicit CountingHandle(int64_t target) : m_target(target) {}
    void OnMarketData(const MarketData&) override {
        int64_t n = m_count.fetch_add(1, std::memory_order_relaxed) + 1;
        if (n == 1) {
            m_first = Clock::now();
        } else if (n == m_target) {
            m_last = Clock::now();
            m_done.store(true, std::memory_order_release);
        }
    }
    bool Done() const { return m_done.load(std::memory_order_acquire); }
    double Rate() const {
        return static_cast<double>(m_target - 1) / std::chrono::duration<double>(m_last - m_first).count();
    }

private:
    const int64_t m_target;
    std::atomic<int64_t> m_count{0};
    std::atomic<bool> m_done{false};
    Clock::time_point m_first, m_last;
};

struct Payload {
    int16_t flags;
    std::string bytes;
};

// The frames one connection receives, taken straight from its raw data queue.
std::vector<Payload> Capture(SimService& service, const std::string& token, int64_t records) {
    auto flow = std::make_shared<SiteFlow>(1, int64_t{1} << 30);
    auto raw = DataDisruptor::CreateRawDataQueue(flow);
    std::string user = kUser;
    MessageHandle handle;
    DatafeedNodeMap table = Table(service);
    SocketConnectThread connection(&handle, table.begin()->second, raw, flow, user, token, 1, nullptr);
    connection.Start();
    connection.TryConnect();
    while (connection.isStillLogging()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto request = MdStockRequest();
    connection.SendSubscribeMsg(&request);
    std::vector<Payload> payloads;
    int64_t seen = 0;
    while (seen < records) {
        RawData* frame = raw->front();
        if (frame == nullptr) {
            std::this_thread::yield();
            continue;
        }
        payloads.push_back(
            {frame->m_flags, std::string(frame->m_payload->Data(), frame->m_payload->m_length)});
        seen += 50;
        frame->m_payload->Unref();
        frame->m_payload = nullptr;
        raw->pop();
    }
    connection.Stop();
    return payloads;
}

// One thread: LZ4 when flagged, split, ParseFromArray into one reused message.
double BareRate(const std::vector<Payload>& payloads) {
    std::vector<char> buffer(4096);
    MarketData record;
    int64_t decoded = 0;
    auto start = Clock::now();
    do {
        for (const Payload& payload : payloads) {
            const char* data = payload.bytes.data();
            int32_t len = static_cast<int32_t>(payload.bytes.size());
            if (payload.flags & 0x4000) {
                int32_t size = WireOrder::ReadInt32(data);
                if (static_cast<size_t>(size) > buffer.size()) {
                    buffer.resize(2 * static_cast<size_t>(size));
                }
                LZ4_decompress_safe(data + 4, buffer.data(), len - 4, size);
                data = buffer.data();
                len = size;
            }
            while (len >= 4) {
                int32_t record_len = WireOrder::ReadInt32(data);
                record.ParseFromArray(data + 4, record_len);
                ++decoded;
                data += record_len + 4;
                len -= record_len + 4;
            }
        }
    } while (Seconds(start) < 1.0);
    return static_cast<double>(decoded) / Seconds(start);
}

double EndToEnd(SimService& service, const std::string& token, int64_t records) {
    CountingHandle handle(records);
    DatafeedClient client(&handle);
    client.Init(kUser, token, Table(service));
    client.Start();
    if (client.TryLoginDatafeed() != 0) {
        std::fprintf(stderr, "login failed\n");
        std::exit(1);
    }
    auto request = MdStockRequest();
    client.TrySubscribe(&request);
    auto start = Clock::now();
    while (!handle.Done() && Seconds(start) < 60) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return handle.Done() ? handle.Rate() : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t records = argc > 1 ? std::atoll(argv[1]) : 400000;
    BaseConfig::GetInstance().CloseFileLog();
    BaseConfig::GetInstance().CloseCoutLog();
    TestSeam::SetTimeDivisor(100);  // the 5-second pause of Start is not what we measure
    std::printf("%-6s %-28s %14s %14s %7s\n", "format", "pipeline", "records/s", "bare decode/s", "ratio");
    for (SimCompression compression : {SimCompression::kNever, SimCompression::kAlways}) {
        SimFeedOptions feed;
        feed.records_per_second = 0;
        feed.batch_records = 50;
        feed.max_records = records;
        feed.compression = compression;
        auto service = StartSim(feed, 1);
        const std::string token = service->Accounts().IssueToken(kUser);
        const double bare = BareRate(Capture(*service, token, std::min<int64_t>(records, 100000)));
        for (const IdleWaitCase& idle : IdleWaitCases()) {
            PipelineTuning::SetIdleWait(idle.wait);
            const double rate = EndToEnd(*service, token, records);
            std::printf("%-6s %-28s %14.0f %14.0f %7.2f\n",
                        compression == SimCompression::kNever ? "plain" : "lz4", idle.name, rate, bare,
                        rate / bare);
        }
        service->Stop();
    }
    return 0;
}
