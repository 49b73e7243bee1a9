#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "common/zel_export.h"
#include "pipeline/decompress_thread.h"
#include "pipeline/message_handle.h"
#include "pipeline/raw_data.h"
#include "pipeline/site_flow.h"

namespace com::mivo::kmr::client {

// Site type to the queue of frames from the site's connection.
using RawDataQueueMap = std::unordered_map<uint32_t, std::shared_ptr<RawDataQueue>>;
// Site type to the site's payload pool, budget and counters.
using SiteFlowMap = std::unordered_map<uint32_t, std::shared_ptr<SiteFlow>>;

// The market data pipeline: per site type one decompression thread with its
// own pool of callback threads. The maps belong to the datafeed client; the
// disruptor reads them when it starts a site.
class ZEL_API DataDisruptor {
public:
    DataDisruptor(MessageHandle* message_handle, RawDataQueueMap& raw_data_queues, SiteFlowMap& site_flows);
    // Stops, then releases every decompression thread with its callback threads.
    ~DataDisruptor();

    DataDisruptor(const DataDisruptor&) = delete;
    DataDisruptor& operator=(const DataDisruptor&) = delete;

    // Starts a decompression thread and its callback threads for every site
    // of the raw data queue map.
    void Start();
    // Stops the decompression threads; the callback threads keep running
    // until the disruptor is destroyed.
    void Stop();
    // Gives a site whose queues were added or replaced after Start its own
    // decompression thread and callback threads (replacing the site's old
    // ones). Before Start or after Stop it only releases the old ones.
    void AttachSite(uint32_t site_type);

    // A ring whose last owner gives back every payload still inside, so
    // that frames in flight at shutdown are not leaked; it keeps the flow
    // the payloads belong to alive until then.
    static std::shared_ptr<RawDataQueue> CreateRawDataQueue(std::shared_ptr<SiteFlow> flow);

    MessageHandle* m_message_handle;
    int32_t m_site_count;
    RawDataQueueMap& m_raw_data_queues;
    SiteFlowMap& m_site_flows;
    std::unordered_map<uint32_t, std::shared_ptr<DecompressThread>> m_decompress_threads;
    uint32_t m_handle_thread_num;

private:
    void StartSite(uint32_t site_type);

    bool m_running;
};

}  // namespace com::mivo::kmr::client
