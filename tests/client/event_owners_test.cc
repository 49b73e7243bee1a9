// The owners of libevent and OpenSSL objects: a socket freed while one of
// its callbacks is still queued, and a TLS context shared between owners.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <event2/event.h>
#include <event2/thread.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "client/event_owners.h"
#include "client/ssl_owners.h"

namespace com::mivo::kmr::client {
namespace {

// Counts the sessions of one context that OpenSSL frees.
class SessionFrees {
public:
    explicit SessionFrees(SSL_CTX* ctx)
        : m_index(SSL_get_ex_new_index(0, ctx, nullptr, nullptr, &SessionFrees::Freed)) {
        s_freed = 0;
    }
    ~SessionFrees() { CRYPTO_free_ex_index(CRYPTO_EX_INDEX_SSL, m_index); }
    int Count() const { return s_freed; }

private:
    static void Freed(void* parent, void*, CRYPTO_EX_DATA*, int, long, void* ctx) {
        if (parent != nullptr && SSL_get_SSL_CTX(static_cast<SSL*>(parent)) == ctx) {
            ++s_freed;
        }
    }
    int m_index;
    static int s_freed;
};
int SessionFrees::s_freed = 0;

// The far end of a socket pair: sees the near end close.
class PeerSocket {
public:
    PeerSocket() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        m_near = fds[0];
        m_far = fds[1];
    }
    ~PeerSocket() { close(m_far); }
    int Near() const { return m_near; }
    bool SeesClose() const {
        char byte;
        return recv(m_far, &byte, 1, 0) == 0;
    }

private:
    int m_near = -1;
    int m_far = -1;
};

void CountRead(bufferevent*, void* reads) {
    ++*static_cast<int*>(reads);
}

class EventOwnersTest : public ::testing::Test {
protected:
    void SetUp() override { evthread_use_pthreads(); }
};

// The loop that stopped reading has a read callback of a TLS socket queued;
// the socket is freed after the loop has stopped, as every attempt does.
TEST_F(EventOwnersTest, LoopOwnerFinalisesATlsSocketFreedWithACallbackQueued) {
    SslCtxOwner ctx(SSL_CTX_new(TLS_client_method()));
    ASSERT_TRUE(ctx);
    SessionFrees frees(ctx.get());
    PeerSocket peer;
    int reads = 0;
    {
        EventBaseOwner base(event_base_new());
        ASSERT_TRUE(base);
        SslOwner ssl(SSL_new(ctx.get()));
        ASSERT_TRUE(ssl);
        BufferEventOwner bev(bufferevent_openssl_socket_new(base.get(), peer.Near(), ssl.release(),
                                                            BUFFEREVENT_SSL_OPEN,
                                                            BEV_OPT_CLOSE_ON_FREE | BEV_OPT_DEFER_CALLBACKS));
        ASSERT_TRUE(bev);
        bufferevent_setcb(bev.get(), &CountRead, nullptr, nullptr, &reads);
        bufferevent_trigger(bev.get(), EV_READ, 0);

        bev.reset();
        // The queued callback still holds the socket.
        EXPECT_FALSE(peer.SeesClose());
        EXPECT_EQ(frees.Count(), 0);
    }
    EXPECT_TRUE(peer.SeesClose());
    EXPECT_EQ(frees.Count(), 1);
    // A freed socket calls back into nothing.
    EXPECT_EQ(reads, 0);
}

TEST_F(EventOwnersTest, LoopOwnerFinalisesAPlainSocketFreedWithEventsQueued) {
    PeerSocket peer;
    int reads = 0;
    {
        EventBaseOwner base(event_base_new());
        ASSERT_TRUE(base);
        BufferEventOwner bev(
            bufferevent_socket_new(base.get(), peer.Near(), BEV_OPT_CLOSE_ON_FREE | BEV_OPT_DEFER_CALLBACKS));
        ASSERT_TRUE(bev);
        bufferevent_setcb(bev.get(), &CountRead, nullptr, nullptr, &reads);
        bufferevent_trigger(bev.get(), EV_READ, 0);
        bufferevent_trigger_event(bev.get(), BEV_EVENT_EOF, 0);
    }
    EXPECT_TRUE(peer.SeesClose());
    EXPECT_EQ(reads, 0);
}

// Teardown frees the session's context before the connections that still
// make sessions of it.
TEST_F(EventOwnersTest, SharedContextOutlivesTheOwnerThatMadeIt) {
    SslCtxOwner made(SSL_CTX_new(TLS_client_method()));
    ASSERT_TRUE(made);
    SslCtxOwner shared = ShareSslCtx(made.get());
    ASSERT_EQ(shared.get(), made.get());
    made.reset();

    SslOwner session(SSL_new(shared.get()));
    EXPECT_TRUE(session);
    EXPECT_FALSE(ShareSslCtx(nullptr));
}

}  // namespace
}  // namespace com::mivo::kmr::client
