// Latency of market data records at a steady 50 000 records per second, in
// frames of 50 MDStock records:
//  - pipeline: from the frame's arrival in the raw data queue (pushed as the
//    frame reader does) to OnMarketData;
//  - end to end: from the simulated node's send time stamped in the record to
//    OnMarketData (adds the node, loopback TCP and the frame reader).
// Each case runs once for each way an idle pipeline thread can wait. Beside
// the latency: how often a waiting thread had to be woken, per frame for the
// decompression thread and per batch handed over for a callback thread (a
// thread still looking when work comes needs no wake-up), and the records
// per batch.
//
//   pipeline_latency_bench [seconds per case, default 3]
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "MarketData.pb.h"
#include "client/datafeed_client.h"
#include "common/base_config.h"
#include "common/test_seam.h"
#include "pipeline/data_disruptor.h"
#include "pipeline/pipeline_tuning.h"
#include "pipeline_bench_kit.h"
#include "protocol/wire_order.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_stamp.h"

using namespace com::mivo::kmr::client;
using namespace com::mivo::kmr::client::pipeline_bench;
using com::mivo::zel::model::MarketData;

namespace {

// Collects one latency sample per record, in microseconds.
class LatencyHandle : public MessageHandle {
public:
    void OnMarketData(const MarketData& data) override {
        int64_t sent = 0, sequence = 0;
        if (ReadSendStamp(data, &sequence, &sent)) {
            m_samples.Add(static_cast<double>(WallNanos() - sent) / 1000.0);
        }
    }
    std::vector<double> Sorted() { return m_samples.Sorted(); }

private:
    LatencySamples m_samples;
};

void Print(const char* path, const IdleWaitCase& idle, std::vector<double> samples, const WakeFigures& wakes,
           double cpu_percent) {
    std::printf("%-10s %-18s %8zu %8.1f %8.1f %8.1f %8.1f %9.2f %9.2f %8.1f %6.0f\n", path, idle.name,
                samples.size(), Percentile(samples, 50), Percentile(samples, 99), Percentile(samples, 99.9),
                samples.empty() ? 0.0 : samples.back(), wakes.decompress_per_frame, wakes.callback_per_batch,
                wakes.records_per_batch, cpu_percent);
}

// Processor time of the whole process since `cpu_start`, in percent of one core.
double CpuPercent(double cpu_start, Clock::time_point start) {
    return (ProcessCpuSeconds() - cpu_start) / Seconds(start) * 100.0;
}

// Plays the frame reader: one frame of 50 records every millisecond, each
// record stamped with the moment its frame is pushed.
void PipelineOnly(double seconds, const IdleWaitCase& idle) {
    LatencyHandle handle;
    double cpu = 0;
    SiteFlowMap flows{{1, std::make_shared<SiteFlow>(1, 256 << 20)}};
    RawDataQueueMap raw{{1, DataDisruptor::CreateRawDataQueue(flows[1])}};
    {
        DataDisruptor disruptor(&handle, raw, flows);
        disruptor.Start();
        MarketData record;
        record.mutable_mdstock()->set_securityid("600000.SH");
        for (int level = 0; level < 10; ++level) {
            record.mutable_mdstock()->add_buypricequeue(10.0 + level);
            record.mutable_mdstock()->add_sellpricequeue(11.0 + level);
        }
        const double cpu_start = ProcessCpuSeconds();
        auto start = Clock::now();
        auto next = start;
        int64_t channel = 0;
        int64_t sequence[16] = {};
        std::string payload;
        std::vector<std::pair<size_t, SimRecordStamp::TimeSpot>> spots;
        while (Seconds(start) < seconds) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            payload.clear();
            spots.clear();
            for (int i = 0; i < 50; ++i) {
                channel = (channel + 1) % 16;
                record.set_zelmessagechannel(channel);
                std::string bytes = record.SerializeAsString();
                const auto spot =
                    SimRecordStamp::Append(bytes, SimDataTypes::kMdStock, ++sequence[channel], WallNanos());
                char prefix[4];
                WireOrder::WriteInt32(prefix, static_cast<int32_t>(bytes.size()));
                payload.append(prefix, 4).append(bytes);
                spots.emplace_back(payload.size() - spot.width, spot);
            }
            // Stamped as the frame reader would push it: making the frame is not measured.
            const int64_t stamp = WallNanos();
            for (const auto& [offset, spot] : spots) {
                SimRecordStamp::Rewrite(&payload[offset], spot, stamp);
            }
            RawData* slot = raw[1]->alloc();
            slot->m_flags = 0;
            slot->m_payload = flows[1]->Acquire(payload.size());
            std::memcpy(slot->m_payload->Data(), payload.data(), payload.size());
            raw[1]->push();
            SiteCounters::Add(flows[1]->Counters().frames, 1);  // as the frame reader counts
        }
        cpu = CpuPercent(cpu_start, start);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Print("pipeline", idle, handle.Sorted(), Wakes(flows[1]->Counters()), cpu);
}

void EndToEnd(double seconds, const IdleWaitCase& idle) {
    SimFeedOptions feed;
    feed.records_per_second = 50000;
    feed.batch_records = 50;
    auto service = StartSim(feed, 1);
    const std::string token = service->Accounts().IssueToken(kUser);
    LatencyHandle handle;
    WakeFigures wakes;
    double cpu = 0;
    {
        DatafeedClient client(&handle);
        client.Init(kUser, token, Table(*service));
        client.Start();
        client.TryLoginDatafeed();
        auto request = MdStockRequest();
        client.TrySubscribe(&request);
        const double cpu_start = ProcessCpuSeconds();
        auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        cpu = CpuPercent(cpu_start, start);
        const SiteCounters* counters = client.GetSiteCounters(1);
        wakes = counters != nullptr ? Wakes(*counters) : WakeFigures{};
        client.Stop();
    }
    service->Stop();
    Print("end-to-end", idle, handle.Sorted(), wakes, cpu);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    BaseConfig::GetInstance().CloseFileLog();
    BaseConfig::GetInstance().CloseCoutLog();
    TestSeam::SetTimeDivisor(100);  // the 5-second pause of Start is not what we measure
    std::printf("latency in microseconds at 50000 records/s, frames of 50 MDStock records\n");
    std::printf(
        "wake-ups: of the decompression thread per frame, of a callback thread per batch handed over\n");
    std::printf(
        "cpu: the whole process (the end-to-end case includes the simulated node), percent of one core\n");
    std::printf("%-10s %-18s %8s %8s %8s %8s %8s %9s %9s %8s %6s\n", "path", "idle threads", "records", "p50",
                "p99", "p99.9", "max", "wake/frm", "wake/bat", "rec/bat", "cpu");
    for (const IdleWaitCase& idle : IdleWaitCases()) {
        PipelineTuning::SetIdleWait(idle.wait);
        PipelineOnly(seconds, idle);
        EndToEnd(seconds, idle);
    }
    return 0;
}
