#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cctype>
#include <string>
#include <vector>

#include "common/multi_platform_kits.h"
#include "common/standard_lib_kits.h"
#include "protocol/nuvexia_message_impl.h"
#include "protocol/test_wire_reader.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;
using zel_test::FindField;
using zel_test::ParsedFrame;
using zel_test::ReadFields;
using zel_test::SplitFrame;
using zel_test::WireField;

const char kPassword[] = "s3cret-Pa55word!";  // 16 characters: two cipher blocks
const char kToken[] = "tok-4f1c9e2a77d0";

// AES-128-ECB with PKCS#7 padding, straight from OpenSSL, to check the
// password text without going through the library's own cipher kit.
std::string DecryptHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::string out(bytes.size() + 16, '\0');
    int n = 0;
    int tail = 0;
    const bool ok =
        EVP_DecryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr,
                           reinterpret_cast<const unsigned char*>("tq7_vorel_x2bn_k"), nullptr) == 1 &&
        EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n,
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size())) == 1 &&
        EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[n]), &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    return ok ? out.substr(0, n + tail) : std::string("<not decryptable>");
}

struct LoginFrame {
    std::vector<WireField> meta;
    std::vector<WireField> request;
};

class LoginRequestTest : public ::testing::Test {
protected:
    void SetUp() override { zel_test::QuietLogFile(); }
    void TearDown() override { NuvexiaMessage::ReleaseBuffer(m_buf); }

    LoginFrame Build(ELoginType type, const std::string& secret, bool token_flag) {
        LoginFrame out;
        const int length = NuvexiaMessage::PrepareLoginRequest(m_buf, type, "10.1.2.3", 9443, "alice", secret,
                                                               token_flag, "sdk_login_42");
        EXPECT_GT(length, 0);
        ParsedFrame frame;
        EXPECT_TRUE(SplitFrame(m_buf, length, &frame));
        EXPECT_EQ(frame.payload_length, frame.prefix);
        EXPECT_TRUE(ReadFields(frame.meta, &out.meta));
        EXPECT_TRUE(ReadFields(frame.body, &out.request));
        return out;
    }

    static std::string Text(const std::vector<WireField>& fields, uint32_t number) {
        const WireField* f = FindField(fields, number);
        return f != nullptr ? f->bytes : std::string("<absent>");
    }

    static std::vector<WireField> Nested(const std::vector<WireField>& fields, uint32_t number) {
        std::vector<WireField> inner;
        const WireField* f = FindField(fields, number);
        EXPECT_NE(nullptr, f) << "field " << number;
        if (f != nullptr) {
            EXPECT_TRUE(ReadFields(f->bytes, &inner));
        }
        return inner;
    }

    char* m_buf = nullptr;
};

TEST_F(LoginRequestTest, DatafeedLoginCarriesTheTokenAndNoPassword) {
    const LoginFrame frame = Build(NUVEXIA_LOGIN_FOR_DATAFEED, kToken, true);
    EXPECT_EQ(11u, FindField(frame.meta, 5)->varint);
    EXPECT_EQ(1u, FindField(frame.meta, 6)->varint);
    EXPECT_EQ("sdk_login_42", Text(frame.meta, 7));

    EXPECT_EQ(nullptr, FindField(frame.request, 1)) << "appType 0 is left out";
    EXPECT_EQ("1.0.0", Text(frame.request, 2));
    EXPECT_EQ(2u, FindField(frame.request, 3)->varint);
    EXPECT_EQ(nullptr, FindField(frame.request, 4)) << "no uwp";
    const std::vector<WireField> uwt = Nested(frame.request, 5);
    EXPECT_EQ("alice", Text(uwt, 1));
    EXPECT_EQ(kToken, Text(uwt, 2));
    EXPECT_EQ("10.1.2.3", Text(frame.request, 7));
    EXPECT_EQ(9443u, FindField(frame.request, 8)->varint);

    // Exactly three link fields: process id, host name (as deviceIp) and MAC text.
    const std::vector<WireField> link = Nested(frame.request, 6);
    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    EXPECT_EQ(std::to_string(kits->GetProcessId()), Text(link, 1));
    EXPECT_EQ(kits->GetMac(), Text(link, 3));
    if (kits->GetHostName()[0] != '\0') {
        EXPECT_EQ(kits->GetHostName(), Text(link, 2));
        EXPECT_EQ(3u, link.size());
    }
}

TEST_F(LoginRequestTest, DiscoveryLoginCarriesTheCipheredPassword) {
    for (const std::string& password : {std::string(kPassword), std::string(""), std::string("x")}) {
        SCOPED_TRACE(password);
        const LoginFrame frame = Build(NUVEXIA_LOGIN_FOR_DISCOVERY, password, false);
        EXPECT_EQ(nullptr, FindField(frame.request, 3)) << "login type 0 is left out";
        EXPECT_EQ(nullptr, FindField(frame.request, 5)) << "no uwt";
        const std::vector<WireField> uwp = Nested(frame.request, 4);
        EXPECT_EQ("alice", Text(uwp, 1));
        const std::string cipher = Text(uwp, 2);
        ASSERT_FALSE(cipher.empty());
        EXPECT_EQ(0u, cipher.size() % 32) << cipher;
        for (char c : cipher) {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << cipher;
        }
        EXPECT_EQ(password, DecryptHex(cipher));
        EXPECT_EQ(2u, uwp.size()) << "otp, captcha and sms stay empty";
    }
}

TEST_F(LoginRequestTest, PasswordTooLongForTheCipherBuildsNoFrame) {
    zel_test::CapturingSink sink;
    const std::string longest(495, 'q');
    EXPECT_EQ(longest,
              DecryptHex(Text(Nested(Build(NUVEXIA_LOGIN_FOR_DISCOVERY, longest, false).request, 4), 2)));

    const int length =
        NuvexiaMessage::PrepareLoginRequest(m_buf, NUVEXIA_LOGIN_FOR_DISCOVERY, "10.1.2.3", 9443, "alice",
                                            std::string(496, 'q'), false, "sdk_login_42");
    EXPECT_EQ(length, NuvexiaMessage::CODE_BODY_NOT_SERIALISABLE);
}

TEST_F(LoginRequestTest, LogLinesNeverShowThePasswordOrTheToken) {
    zel_test::CapturingSink sink;
    Build(NUVEXIA_LOGIN_FOR_DISCOVERY, kPassword, false);
    Build(NUVEXIA_LOGIN_FOR_DATAFEED, kToken, true);
    const std::string cipher =
        StandardLibKits::GetInstance()->EncodeByAesEcbPkcs5padding(kPassword);  // as good as the password

    ASSERT_FALSE(sink.Lines().empty());
    for (const auto& line : sink.Lines()) {
        EXPECT_EQ(std::string::npos, line.second.find(kPassword)) << line.second;
        EXPECT_EQ(std::string::npos, line.second.find(cipher)) << line.second;
        EXPECT_EQ(std::string::npos, line.second.find(kToken)) << line.second;
    }
    EXPECT_TRUE(sink.HasLine(LOG_LEVEL_INFO, "login beign, pw: ******"));

    bool found = false;
    const std::string meta = sink.LineStartingWith("PrepareLoginRequest, meta: {", &found);
    ASSERT_TRUE(found);
    EXPECT_NE(std::string::npos, meta.find("\"SysMessageType\":\"LOGIN_REQUEST\"")) << meta;
    EXPECT_NE(std::string::npos, meta.find("\"TraceID\":\"sdk_login_42\"")) << meta;

    // The request JSON keeps its shape; only the secrets are replaced.
    std::vector<std::string> requests;
    for (const auto& line : sink.Lines()) {
        if (line.second.rfind("PrepareLoginRequest, login requset: {", 0) == 0) {
            EXPECT_EQ(LOG_LEVEL_INFO, line.first);
            requests.push_back(line.second);
        }
    }
    ASSERT_EQ(2u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].find("\"uwp\":{\"userName\":\"alice\",\"password\":\"******\"}"))
        << requests[0];
    EXPECT_EQ(std::string::npos, requests[0].find("\"uwt\"")) << requests[0];
    EXPECT_NE(std::string::npos, requests[1].find("\"uwt\":{\"userName\":\"alice\",\"token\":\"******\"}"))
        << requests[1];
    EXPECT_EQ(std::string::npos, requests[1].find("\"uwp\"")) << requests[1];
    EXPECT_NE(std::string::npos, requests[1].find("\"appVersion\":\"1.0.0\"")) << requests[1];
}

}  // namespace
}  // namespace com::mivo::kmr::client
