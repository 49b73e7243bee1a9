#pragma once

#include <cstdint>

#include "common/zel_export.h"

namespace com::mivo::kmr::client {

// Host identity, folder checks and socket library start-up.
class ZEL_API MultiPlatformKits {
public:
    static MultiPlatformKits* GetInstance();
    // Frees the instance; texts returned earlier become invalid.
    static void UnInstance();

    // Socket library start and stop; nothing to do on POSIX. A failed start
    // prints its code and ends the process with it.
    void StartWindowsEnv();
    void FreeWindowsEnv();

    // "XX:XX:XX:XX:XX:XX" of the first non-loopback adapter, or
    // "default_mac" (asked again on the next call).
    const char* GetMac();
    // Looked up once; empty when the system cannot tell.
    const char* GetHostName();
    int GetProcessId();
    // "<tag>-<mac>-<pid>" in a buffer that the next call reuses.
    const char* GetConnectionId(const char* tag);

    bool FolderExist(const char* path);
    // One directory level; true on success.
    bool CreateFolder(const char* path);

    static MultiPlatformKits* s_kits;

protected:
    MultiPlatformKits();
    ~MultiPlatformKits();

private:
    bool GetMacFromIFA(const char* interface_name);

    char* m_host_name;
    char* m_mac;
    char* m_connection_id;
    int32_t m_host_name_size;
    int32_t m_mac_size;
    int32_t m_connection_id_size;
    const char* m_default_mac;
};

// "<host>_<yyyymmddhhmmss>.<ms>_<pid>_<tag>", valid until the calling
// thread's next call.
ZEL_API const char* GetTaskId(const char* tag);

}  // namespace com::mivo::kmr::client
