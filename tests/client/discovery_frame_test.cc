// Response frames the simulated service never sends: a server stand-in reads
// the real login request and answers with bytes crafted per case, so every
// length and field check of the reader is met by a frame that breaks just it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "protocol/nuvexia_message_impl.h"
#include "protocol/wire_order.h"
#include "support/loopback_listener.h"
#include "tests/client/discovery_test_kit.h"

namespace com::mivo::kmr::client::testing {
namespace {

using com::mivo::zel::model::LoginResponse;
using com::mivo::zel::model::MetaData;
using ::testing::ElementsAre;

std::string Int32(int32_t value) {
    char bytes[4];
    WireOrder::WriteInt32(bytes, value);
    return std::string(bytes, 4);
}

// Header with the given lengths, then meta and payload as given.
std::string Frame(int32_t meta_length, int32_t payload_length, const std::string& meta,
                  const std::string& payload) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = 1;
    header.m_flags = 0x1000;
    header.m_metaLength = meta_length;
    header.m_payloadLength = payload_length;
    char bytes[MessageHeader::SIZE];
    header.WriteTo(bytes);
    return std::string(bytes, sizeof(bytes)) + meta + payload;
}

std::string ResponseMeta(const std::string& trace_id, int type = com::mivo::zel::model::LOGIN_RESPONSE,
                         int number = 1) {
    MetaData meta;
    meta.set_sysmessagetype(static_cast<com::mivo::zel::model::ESysMessageType>(type));
    meta.set_zelsysmessagenum(number);
    meta.set_traceid(trace_id);
    return meta.SerializeAsString();
}

std::string AcceptedBody() {
    LoginResponse response;
    response.set_issuccess(true);
    response.set_token("crafted-token");
    return response.SerializeAsString();
}

// An accepted login whose serialised body is exactly size bytes.
std::string AcceptedBodyOfSize(size_t size) {
    LoginResponse response;
    response.set_issuccess(true);
    response.set_token(std::string(size, 't'));
    while (response.ByteSizeLong() > size) {
        response.mutable_token()->pop_back();
    }
    return response.SerializeAsString();
}

// A well-formed frame around body under meta, with the payload's inner length given.
std::string ResponseFrame(const std::string& meta, const std::string& body, int32_t inner_length) {
    const std::string payload = Int32(inner_length) + body;
    return Frame(static_cast<int32_t>(meta.size()), static_cast<int32_t>(payload.size()), meta, payload);
}

std::string FrameWithInnerLength(const std::string& trace_id, const std::string& body, int32_t inner_length) {
    return ResponseFrame(ResponseMeta(trace_id), body, inner_length);
}

// An accepted login under meta, lengths all right.
std::string AcceptedUnder(const std::string& meta) {
    return ResponseFrame(meta, AcceptedBody(), static_cast<int32_t>(AcceptedBody().size()));
}

// Accepts one connection, reads one request frame, writes the crafted answer
// and then waits for the client to hang up (or hangs up itself).
class CraftedServer {
public:
    using Answer = std::function<std::string(const std::string& trace_id)>;

    CraftedServer(Answer answer, bool hang_up)
        : m_answer(std::move(answer)), m_hang_up(hang_up), m_listener(4) {
        if (!m_listener.Ok()) {
            ADD_FAILURE() << "crafted server cannot listen";
        }
        m_thread = std::thread([this] { Serve(); });
    }

    ~CraftedServer() {
        m_listener.Shutdown();
        m_thread.join();
    }

    int Port() const { return m_listener.Port(); }

private:
    static bool ReadFully(int fd, char* out, size_t length) {
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::recv(fd, out + done, length - done, 0);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    void Serve() {
        const int fd = m_listener.Accept();
        if (fd < 0) {
            return;
        }
        char header_bytes[MessageHeader::SIZE];
        MessageHeader header;
        std::string rest;
        if (ReadFully(fd, header_bytes, sizeof(header_bytes))) {
            header.ReadFrom(header_bytes);
            rest.resize(static_cast<size_t>(header.m_metaLength) + header.m_payloadLength);
        }
        MetaData meta;
        if (!rest.empty() && ReadFully(fd, &rest[0], rest.size()) &&
            NuvexiaMessage::DecodeMsgMeatData(rest.data(), header.m_metaLength, meta) == 0) {
            const std::string answer = m_answer(meta.traceid());
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        if (!m_hang_up) {
            char sink[256];
            while (::recv(fd, sink, sizeof(sink), 0) > 0) {
            }
        }
        ::close(fd);
    }

    Answer m_answer;
    bool m_hang_up;
    LoopbackListener m_listener;
    std::thread m_thread;
};

struct CraftedCase {
    const char* name;
    CraftedServer::Answer answer;
    bool hang_up;
    const char* expected_log;
};

class DiscoveryFrameTest : public DiscoveryTest, public ::testing::WithParamInterface<CraftedCase> {};

// Every case fails the attempt on the crafted server only; the walk goes on
// to the simulated backup and logs in there.
TEST_P(DiscoveryFrameTest, BrokenFrameFailsTheAttemptWithoutOverrun) {
    StartDiscoveryServers(1);
    CraftedServer crafted(GetParam().answer, GetParam().hang_up);
    DiscoveryClient client(&m_record);
    InitClient(client, {ServerHost("127.0.0.1", crafted.Port(), false), HostOf(0)});

    EXPECT_EQ(client.TryLoginDiscovery(), 0);

    EXPECT_THAT(m_record.Walk(),
                ElementsAre("failed 127.0.0.1", "pause", "response", "success 127.0.0.1 []"));
    EXPECT_TRUE(m_record.Logged(GetParam().expected_log)) << m_record.Dump();
    EXPECT_EQ(client.GetToken(), m_service.Accounts().LastToken(kUser));
}

const char kBodyFailed[] = "Read discovery login response body failed! Try to relogin";
const char kMetaFailed[] = "Read discovery login response meta data failed! Try to relogin";
const char kCheckFailed[] = "Check discovery login response meta data failed! Try to relogin";

INSTANTIATE_TEST_SUITE_P(
    Crafted, DiscoveryFrameTest,
    ::testing::Values(
        CraftedCase{"NegativePayloadLength",
                    [](const std::string& trace) {
                        const std::string meta = ResponseMeta(trace);
                        return Frame(static_cast<int32_t>(meta.size()), -1, meta, Int32(0));
                    },
                    false, kBodyFailed},
        // Only header and meta arrive: the reader must not wait for 70000 bytes.
        CraftedCase{"OversizedPayloadLength",
                    [](const std::string& trace) {
                        const std::string meta = ResponseMeta(trace);
                        return Frame(static_cast<int32_t>(meta.size()), 70000, meta, "");
                    },
                    false, kBodyFailed},
        CraftedCase{"NegativeMetaLength",
                    [](const std::string& trace) { return Frame(-20, 4, ResponseMeta(trace), Int32(0)); },
                    false, kMetaFailed},
        CraftedCase{"InnerLengthBeyondPayload",
                    [](const std::string& trace) {
                        const std::string body = AcceptedBody();
                        return FrameWithInnerLength(trace, body, static_cast<int32_t>(body.size()) + 100);
                    },
                    false, kBodyFailed},
        CraftedCase{"NegativeInnerLength",
                    [](const std::string& trace) { return FrameWithInnerLength(trace, AcceptedBody(), -5); },
                    false, kBodyFailed},
        CraftedCase{"PayloadShorterThanItsPrefix",
                    [](const std::string& trace) {
                        const std::string meta = ResponseMeta(trace);
                        return Frame(static_cast<int32_t>(meta.size()), 2, meta, "ab");
                    },
                    false, kBodyFailed},
        // The service never sends a login body over 1024 bytes.
        CraftedCase{"BodyOverOneKilobyte",
                    [](const std::string& trace) {
                        const std::string body = AcceptedBodyOfSize(1025);
                        return FrameWithInnerLength(trace, body, static_cast<int32_t>(body.size()));
                    },
                    false, kBodyFailed},
        // Refused from the header alone: the reader does not wait for the body.
        CraftedCase{"HeaderAnnouncingABodyOverOneKilobyte",
                    [](const std::string& trace) {
                        const std::string meta = ResponseMeta(trace);
                        return Frame(static_cast<int32_t>(meta.size()), 4 + 1025, meta, "");
                    },
                    false, kBodyFailed},
        CraftedCase{"NotALoginResponse",
                    [](const std::string& trace) {
                        return AcceptedUnder(ResponseMeta(trace, com::mivo::zel::model::SUBSCRIBE_RESPONSE));
                    },
                    false, kCheckFailed},
        CraftedCase{"SecondMessageNumber",
                    [](const std::string& trace) {
                        return AcceptedUnder(ResponseMeta(trace, com::mivo::zel::model::LOGIN_RESPONSE, 2));
                    },
                    false, kCheckFailed},
        // Part of the body, then the server hangs up: the missing rest is a short read.
        CraftedCase{"CutShortByHangUp",
                    [](const std::string& trace) {
                        const std::string whole = AcceptedUnder(ResponseMeta(trace));
                        return whole.substr(0, whole.size() - 5);
                    },
                    true, kBodyFailed},
        CraftedCase{"HeaderCutShortByHangUp",
                    [](const std::string&) { return std::string("\x01\x01\x00", 3); }, true,
                    "Read discovery login response header failed! Try to relogin"}),
    [](const ::testing::TestParamInfo<CraftedCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(DiscoveryFrameTest, UndecodableBodyStopsTheWalk) {
    StartDiscoveryServers(1);
    CraftedServer crafted(
        [](const std::string& trace) { return FrameWithInnerLength(trace, std::string(24, '\xff'), 24); },
        false);
    DiscoveryClient client(&m_record);
    InitClient(client, {ServerHost("127.0.0.1", crafted.Port(), false), HostOf(0)});

    EXPECT_EQ(client.TryLoginDiscovery(), -1031);

    EXPECT_THAT(m_record.Walk(), ElementsAre("failed 127.0.0.1", "none"));
    EXPECT_TRUE(m_record.Logged("Decode discovery login response body failed! Try to relogin"));
    EXPECT_TRUE(m_service.Requests().Snapshot().empty());
}

TEST_F(DiscoveryFrameTest, BodyOfExactlyOneKilobyteIsAccepted) {
    CraftedServer crafted(
        [](const std::string& trace) {
            const std::string body = AcceptedBodyOfSize(1024);
            return FrameWithInnerLength(trace, body, static_cast<int32_t>(body.size()));
        },
        false);
    DiscoveryClient client(&m_record);
    InitClient(client, {ServerHost("127.0.0.1", crafted.Port(), false)});

    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    EXPECT_GT(client.GetToken().size(), 1000u);
}

TEST_F(DiscoveryFrameTest, BytesAfterTheFrameAreIgnored) {
    CraftedServer crafted(
        [](const std::string& trace) { return AcceptedUnder(ResponseMeta(trace)) + std::string(40, '\x07'); },
        false);
    DiscoveryClient client(&m_record);
    InitClient(client, {ServerHost("127.0.0.1", crafted.Port(), false)});

    EXPECT_EQ(client.TryLoginDiscovery(), 0);
    EXPECT_EQ(client.GetToken(), "crafted-token");
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
