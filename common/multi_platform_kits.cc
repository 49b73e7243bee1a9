#include "common/multi_platform_kits.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/base_log.h"
#include "common/platform.h"

namespace com::mivo::kmr::client {

MultiPlatformKits* MultiPlatformKits::s_kits = nullptr;

namespace {

std::mutex s_instance_mutex;
std::atomic<MultiPlatformKits*> s_published{nullptr};
// The lookups fill shared buffers; callers on several threads must not see
// a half-written text.
std::mutex s_buffer_mutex;

}  // namespace

MultiPlatformKits* MultiPlatformKits::GetInstance() {
    MultiPlatformKits* kits = s_published.load(std::memory_order_acquire);
    if (kits != nullptr) {
        return kits;
    }
    std::lock_guard<std::mutex> guard(s_instance_mutex);
    if (s_kits == nullptr) {
        s_kits = new MultiPlatformKits();
        s_published.store(s_kits, std::memory_order_release);
    }
    return s_kits;
}

void MultiPlatformKits::UnInstance() {
    std::lock_guard<std::mutex> guard(s_instance_mutex);
    s_published.store(nullptr, std::memory_order_release);
    delete s_kits;
    s_kits = nullptr;
}

MultiPlatformKits::MultiPlatformKits()
    : m_host_name(nullptr),
      m_mac(nullptr),
      m_connection_id(nullptr),
      m_host_name_size(128),
      m_mac_size(64),
      m_connection_id_size(128),
      m_default_mac("default_mac") {
    m_connection_id = new char[static_cast<size_t>(m_connection_id_size)]();
}

MultiPlatformKits::~MultiPlatformKits() {
    delete[] m_host_name;
    delete[] m_mac;
    delete[] m_connection_id;
}

void MultiPlatformKits::StartWindowsEnv() {
    int code = platform::SocketLibraryStart();
    if (code != 0) {
        std::printf("WSAStartup failed with error: %d\n", code);
        std::exit(code);
    }
}

void MultiPlatformKits::FreeWindowsEnv() {
    platform::SocketLibraryStop();
}

const char* MultiPlatformKits::GetMac() {
    std::lock_guard<std::mutex> guard(s_buffer_mutex);
    if (m_mac != nullptr) {
        return m_mac;
    }
    unsigned char address[6];
    if (!platform::FirstHardwareAddress(address)) {
        return m_default_mac;
    }
    m_mac = new char[static_cast<size_t>(m_mac_size)]();
    std::snprintf(m_mac, static_cast<size_t>(m_mac_size), "%02X:%02X:%02X:%02X:%02X:%02X", address[0],
                  address[1], address[2], address[3], address[4], address[5]);
    return m_mac;
}

const char* MultiPlatformKits::GetHostName() {
    std::lock_guard<std::mutex> guard(s_buffer_mutex);
    if (m_host_name == nullptr) {
        m_host_name = new char[static_cast<size_t>(m_host_name_size)]();
        platform::HostName(m_host_name, static_cast<size_t>(m_host_name_size));
    }
    return m_host_name;
}

int MultiPlatformKits::GetProcessId() {
    return platform::ProcessId();
}

const char* MultiPlatformKits::GetConnectionId(const char* tag) {
    const char* mac = GetMac();
    std::lock_guard<std::mutex> guard(s_buffer_mutex);
    std::memset(m_connection_id, 0, static_cast<size_t>(m_connection_id_size));
    std::snprintf(m_connection_id, static_cast<size_t>(m_connection_id_size), "%s-%s-%d",
                  tag != nullptr ? tag : "", mac, GetProcessId());
    return m_connection_id;
}

bool MultiPlatformKits::FolderExist(const char* path) {
    return platform::IsDirectory(path);
}

bool MultiPlatformKits::CreateFolder(const char* path) {
    return platform::MakeDirectory(path);
}

bool MultiPlatformKits::GetMacFromIFA(const char* interface_name) {
    (void)interface_name;
    return false;
}

const char* GetTaskId(const char* tag) {
    platform::LocalTime now = platform::NowLocal();
    char time_text[32];
    std::snprintf(time_text, sizeof(time_text), "%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d.%03ld", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, static_cast<long>(now.millisecond));
    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    // One buffer per thread, so concurrent callers never share a text.
    thread_local char task_id[128];
    std::snprintf(task_id, sizeof(task_id), "%s_%s_%d_%s", kits->GetHostName(), time_text,
                  kits->GetProcessId(), tag != nullptr ? tag : "");
    DebugPrint("Taskid=%s", task_id);
    return task_id;
}

}  // namespace com::mivo::kmr::client
