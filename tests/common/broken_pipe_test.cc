// A write to a socket whose peer has gone must fail with EPIPE inside the
// library, never end the host process through SIGPIPE.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "common/platform.h"

namespace platform = com::mivo::kmr::client::platform;

namespace {

// Writes to a socket pair whose other end is closed; returns errno.
int WriteToClosedPeer() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return -1;
    }
    close(fds[1]);
    const char byte = 'x';
    const ssize_t n = write(fds[0], &byte, 1);
    const int err = n < 0 ? errno : 0;
    close(fds[0]);
    return err;
}

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

bool SigpipeBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

}  // namespace

TEST(BrokenPipe, LibraryThreadSeesEpipeAndSurvives) {
    int err = 0;
    std::thread worker([&err] {
        platform::BlockBrokenPipeSignal();
        err = WriteToClosedPeer();
    });
    worker.join();
    EXPECT_EQ(err, EPIPE);
}

TEST(BrokenPipe, ScopedBlockDiscardsTheSignalAndRestoresTheMask) {
    // Runs on a fresh thread so the test's own mask is known.
    bool blocked_inside = false;
    bool pending_after = true;
    bool blocked_after = true;
    int err = 0;
    std::thread caller([&] {
        {
            platform::ScopedBrokenPipeBlock guard;
            blocked_inside = SigpipeBlocked();
            err = WriteToClosedPeer();
        }
        pending_after = SigpipePending();
        blocked_after = SigpipeBlocked();
    });
    caller.join();
    EXPECT_TRUE(blocked_inside);
    EXPECT_EQ(err, EPIPE);
    EXPECT_FALSE(pending_after);
    EXPECT_FALSE(blocked_after);
}

TEST(BrokenPipe, ScopedBlockKeepsACallersOwnPendingSignal) {
    bool pending_after = false;
    std::thread caller([&] {
        platform::BlockBrokenPipeSignal();
        pthread_kill(pthread_self(), SIGPIPE);  // the caller's own, raised before
        {
            platform::ScopedBrokenPipeBlock guard;
            WriteToClosedPeer();
        }
        pending_after = SigpipePending();
        // Leave nothing behind for the thread's exit.
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        const struct timespec no_wait = {0, 0};
        sigtimedwait(&pipe_only, nullptr, &no_wait);
    });
    caller.join();
    EXPECT_TRUE(pending_after);
}
