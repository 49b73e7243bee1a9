#include "pipeline/data_disruptor.h"

#include "common/base_config.h"
#include "common/base_log.h"

namespace com::mivo::kmr::client {

namespace {

void ReleaseRawDataQueue(RawDataQueue* queue) {
    for (RawData* raw_data = queue->front(); raw_data != nullptr; raw_data = queue->front()) {
        if (raw_data->m_payload != nullptr) {
            raw_data->m_payload->Unref();
            raw_data->m_payload = nullptr;
        }
        queue->pop();
    }
    delete queue;
}

}  // namespace

DataDisruptor::DataDisruptor(MessageHandle* message_handle, RawDataQueueMap& raw_data_queues,
                             SiteFlowMap& site_flows)
    : m_message_handle(message_handle),
      m_site_count(static_cast<int32_t>(raw_data_queues.size())),
      m_raw_data_queues(raw_data_queues),
      m_site_flows(site_flows),
      m_handle_thread_num(BaseConfig::GetInstance().GetHandleThreadNum()),
      m_running(false) {}

DataDisruptor::~DataDisruptor() {
    Stop();
    m_decompress_threads.clear();
}

void DataDisruptor::Start() {
    InfoPrint("Start data disruptor");
    InfoPrint("Create user callback threads, num=%d", static_cast<int>(m_handle_thread_num));
    InfoPrint("Create decompress threads, num=%d", m_site_count);
    m_running = true;
    for (const auto& entry : m_raw_data_queues) {
        StartSite(entry.first);
    }
    InfoPrint("Create decompress threads finish");
}

void DataDisruptor::Stop() {
    InfoPrint("Stop decompress threads");
    for (auto& entry : m_decompress_threads) {
        if (entry.second->IsRunning()) {
            entry.second->Stop();
        }
    }
    m_running = false;
    InfoPrint("Stop decompress finish");
}

void DataDisruptor::AttachSite(uint32_t site_type) {
    auto old = m_decompress_threads.find(site_type);
    if (old != m_decompress_threads.end()) {
        old->second->Stop();
        m_decompress_threads.erase(old);
    }
    if (!m_running) {
        return;
    }
    InfoPrint("Create decompress thread for site type: %u", site_type);
    StartSite(site_type);
}

void DataDisruptor::StartSite(uint32_t site_type) {
    auto raw = m_raw_data_queues.find(site_type);
    auto flow = m_site_flows.find(site_type);
    if (raw == m_raw_data_queues.end() || flow == m_site_flows.end() || !raw->second || !flow->second) {
        ErrorPrint("No data queues for site type: %u", site_type);
        return;
    }
    auto previous = m_decompress_threads.find(site_type);
    if (previous != m_decompress_threads.end()) {
        previous->second->Stop();
        m_decompress_threads.erase(previous);
    }
    auto thread = std::make_shared<DecompressThread>(raw->second, flow->second);
    // The callback threads exist before the decompression thread runs, so it
    // never sees the pool half built.
    thread->CreateCallbackThreads(m_handle_thread_num, m_message_handle);
    thread->Start();
    m_decompress_threads[site_type] = thread;
}

std::shared_ptr<RawDataQueue> DataDisruptor::CreateRawDataQueue(std::shared_ptr<SiteFlow> flow) {
    return std::shared_ptr<RawDataQueue>(new RawDataQueue(), [flow](RawDataQueue* queue) {
        ReleaseRawDataQueue(queue);
        (void)flow;
    });
}

}  // namespace com::mivo::kmr::client
