#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The few operating-system services the configuration, logging and kits
// need. Only this file pair knows the platform; a Windows build replaces
// platform.cc and nothing else.
namespace com::mivo::kmr::client::platform {

struct LocalTime {
    int year;
    int month;  // 1..12
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};

int ProcessId();

// Writes the host name, NUL-terminated, into buf (len bytes). On failure
// buf holds the empty text and the result is false.
bool HostName(char* buf, std::size_t len);

LocalTime NowLocal();

// Wall clock since 1970-01-01 UTC in 100-nanosecond units.
int64_t WallClock100ns();

bool IsDirectory(const char* path);
// Creates one directory level; true on success.
bool MakeDirectory(const char* path);

// First 6 bytes of the hardware address of the first non-loopback adapter
// whose address is at least 6 bytes long, in the system's order.
bool FirstHardwareAddress(unsigned char out[6]);

// The socket library needs no start on POSIX; both report success.
int SocketLibraryStart();
void SocketLibraryStop();

// A peer that closes its end turns the next write on that socket into
// SIGPIPE, whose default action ends the whole host process. The library's
// own threads block it for good, so the write fails with EPIPE and the link
// is handled as lost.
void BlockBrokenPipeSignal();

// The same for a stretch of socket work on a caller's thread: blocks the
// signal, and on leaving discards a SIGPIPE the stretch raised and restores
// the caller's signal mask.
class ScopedBrokenPipeBlock {
public:
    ScopedBrokenPipeBlock();
    ~ScopedBrokenPipeBlock();
    ScopedBrokenPipeBlock(const ScopedBrokenPipeBlock&) = delete;
    ScopedBrokenPipeBlock& operator=(const ScopedBrokenPipeBlock&) = delete;

private:
    unsigned char m_saved_mask[128];
    bool m_was_pending;
    bool m_blocked;
};

int LastError();
std::string ErrorText(int err);

}  // namespace com::mivo::kmr::client::platform
