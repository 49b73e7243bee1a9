#include "common/platform.h"

#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace com::mivo::kmr::client::platform {

int ProcessId() {
    return static_cast<int>(::getpid());
}

bool HostName(char* buf, std::size_t len) {
    if (buf == nullptr || len == 0) {
        return false;
    }
    std::memset(buf, 0, len);
    if (::gethostname(buf, len) != 0) {
        buf[0] = '\0';
        return false;
    }
    buf[len - 1] = '\0';  // POSIX leaves a truncated name unterminated
    return true;
}

LocalTime NowLocal() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm_local;
    ::localtime_r(&ts.tv_sec, &tm_local);
    return LocalTime{tm_local.tm_year + 1900,
                     tm_local.tm_mon + 1,
                     tm_local.tm_mday,
                     tm_local.tm_hour,
                     tm_local.tm_min,
                     tm_local.tm_sec,
                     static_cast<int>(ts.tv_nsec / 1000000)};
}

int64_t WallClock100ns() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

bool IsDirectory(const char* path) {
    struct stat st;
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const char* path) {
    return path != nullptr && ::mkdir(path, 0755) == 0;
}

bool FirstHardwareAddress(unsigned char out[6]) {
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (struct ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET ||
            (it->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const auto* link = reinterpret_cast<const struct sockaddr_ll*>(it->ifa_addr);
        if (link->sll_halen >= 6) {
            std::memcpy(out, link->sll_addr, 6);
            found = true;
        }
    }
    ::freeifaddrs(list);
    return found;
}

int SocketLibraryStart() {
    return 0;
}

void SocketLibraryStop() {}

int LastError() {
    return errno;
}

std::string ErrorText(int err) {
    char buf[256] = {0};
#if (_POSIX_C_SOURCE >= 200112L) && !defined(_GNU_SOURCE)
    if (::strerror_r(err, buf, sizeof(buf)) != 0) {
        return "unknown error " + std::to_string(err);
    }
    return buf;
#else
    return ::strerror_r(err, buf, sizeof(buf));
#endif
}

void BlockBrokenPipeSignal() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
}

static_assert(sizeof(sigset_t) <= 128, "saved signal mask does not fit");

ScopedBrokenPipeBlock::ScopedBrokenPipeBlock() : m_saved_mask{}, m_was_pending(false), m_blocked(false) {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0) {
        m_was_pending = sigismember(&pending, SIGPIPE) == 1;
    }
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    m_blocked = pthread_sigmask(SIG_BLOCK, &pipe_only, reinterpret_cast<sigset_t*>(m_saved_mask)) == 0;
}

ScopedBrokenPipeBlock::~ScopedBrokenPipeBlock() {
    if (!m_blocked) {
        return;
    }
    if (!m_was_pending) {
        sigset_t pending;
        sigemptyset(&pending);
        if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            const struct timespec no_wait = {0, 0};
            while (sigtimedwait(&pipe_only, nullptr, &no_wait) == -1 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(m_saved_mask), nullptr);
}

}  // namespace com::mivo::kmr::client::platform
