#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>

#include "common/multi_platform_kits.h"
#include "common/standard_lib_kits.h"
#include "config_test_access.h"

using namespace com::mivo::kmr::client;

namespace {

StandardLibKits& Kits() {
    return *StandardLibKits::GetInstance();
}

// Computed with: printf '%s' TEXT | openssl enc -aes-128-ecb -nosalt
//   -K 7471375f766f72656c5f7832626e5f6b | xxd -p -u
struct KnownAnswer {
    const char* plain;
    const char* hex;
};
const KnownAnswer kKnownAnswers[] = {
    {"", "CC5F4DE5ACD23B9F27FC4D9891B9ED7F"},
    {"password", "91D0A243A8471DBEF940A8DA632DE53F"},
    {"P@ssw0rd!", "9D72154D02FEFAE3DFA917D5A55B7016"},
    {"0123456789abcdef", "F6FDF0ECF5471F98571A45A895173067CC5F4DE5ACD23B9F27FC4D9891B9ED7F"},
};

TEST(AesCipher, MatchesIndependentlyComputedCiphertexts) {
    EXPECT_STREQ(StandardLibKits::key, "tq7_vorel_x2bn_k");
    for (const KnownAnswer& answer : kKnownAnswers) {
        EXPECT_EQ(Kits().EncodeByAesEcbPkcs5padding(answer.plain), answer.hex) << answer.plain;
        EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(answer.hex), answer.plain) << answer.hex;
    }
}

TEST(AesCipher, RoundTripsEveryLengthAndByte) {
    const std::regex upper_hex("[0-9A-F]*");
    for (size_t length = 0; length < 100; ++length) {
        std::string plain;
        for (size_t i = 0; i < length; ++i) {
            plain.push_back(static_cast<char>((i * 37 + length) & 0xFF));  // includes NUL and high bytes
        }
        std::string hex = Kits().EncodeByAesEcbPkcs5padding(plain);
        EXPECT_EQ(hex.size(), (length / 16 + 1) * 32) << length;
        EXPECT_TRUE(std::regex_match(hex, upper_hex));
        EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(hex), plain) << length;
    }
}

TEST(AesCipher, TooLongForTheHexBufferGivesEmptyText) {
    // 495 bytes -> 496 cipher bytes -> 992 hex characters, still fits.
    EXPECT_EQ(Kits().EncodeByAesEcbPkcs5padding(std::string(495, 'a')).size(), 992u);
    // 496 bytes -> 512 cipher bytes -> 1024 hex characters: no cut text.
    EXPECT_EQ(Kits().EncodeByAesEcbPkcs5padding(std::string(496, 'a')), "");
    EXPECT_EQ(Kits().EncodeByAesEcbPkcs5padding(std::string(5000, 'a')), "");
}

TEST(AesCipher, RejectsMalformedHex) {
    const std::string good = kKnownAnswers[1].hex;
    std::string lower = good;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(lower), "");
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(good.substr(1)), "");
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(good.substr(0, 31) + "G"), "");
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(good.substr(0, 30) + " 1"), "");
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(""), "");
}

TEST(AesCipher, BadPaddingKeepsOnlyTheBlocksBeforeTheLast) {
    // Two blocks of "0123456789abcdef" whose padding block is damaged.
    std::string hex = kKnownAnswers[3].hex;
    hex[40] = hex[40] == '0' ? '1' : '0';
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding(hex), "0123456789abcdef");
    // Not a whole number of blocks.
    EXPECT_EQ(Kits().DecodeByAesEcbPkcs5padding("00112233"), "");
}

TEST(StandardKits, ByteOrderReversalTwiceRestores) {
    unsigned char four[4] = {1, 2, 3, 4};
    Kits().Convert4BytesNetwork2Local(four);
    EXPECT_EQ(std::memcmp(four, "\x04\x03\x02\x01", 4), 0);
    Kits().Convert4Bytes2BigEndian(four);
    EXPECT_EQ(std::memcmp(four, "\x01\x02\x03\x04", 4), 0);

    unsigned char two[2] = {0xAB, 0xCD};
    Kits().Convert2BytesNetwork2Local(two);
    EXPECT_EQ(two[0], 0xCD);
    EXPECT_EQ(two[1], 0xAB);
    Kits().Convert2Bytes2BigEndian(two);
    EXPECT_EQ(two[0], 0xAB);
}

TEST(StandardKits, TimestampsAgreeAcrossUnits) {
    int64_t seconds = Kits().GetCurrentUnixTimestampSeconds();
    int64_t nanos = Kits().GetCurrentUnixTimestampNanos();
    int64_t micros = Kits().GetCurrentUnixTimestampMicros();
    EXPECT_EQ(nanos % 100, 0);
    EXPECT_GE(nanos / 1000000000, seconds);
    EXPECT_GE(micros, nanos / 1000);
    EXPECT_GT(seconds, 1700000000);  // later than November 2023
    EXPECT_LT(seconds, 4102444800);  // earlier than 2100
}

TEST(StandardKits, UnInstanceAllowsANewInstance) {
    StandardLibKits::GetInstance();
    StandardLibKits::UnInstance();
    EXPECT_EQ(StandardLibKits::s_standard_kits, nullptr);
    EXPECT_NE(StandardLibKits::GetInstance(), nullptr);
    EXPECT_EQ(Kits().EncodeByAesEcbPkcs5padding("password"), kKnownAnswers[1].hex);
}

TEST(PlatformKits, HostIdentityTexts) {
    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    EXPECT_EQ(kits->GetProcessId(), ::getpid());
    char host[256] = {0};
    ASSERT_EQ(::gethostname(host, sizeof(host) - 1), 0);
    EXPECT_STREQ(kits->GetHostName(), host);

    std::string mac = kits->GetMac();
    EXPECT_TRUE(mac == "default_mac" || std::regex_match(mac, std::regex("([0-9A-F]{2}:){5}[0-9A-F]{2}")))
        << mac;
    EXPECT_EQ(std::string(kits->GetConnectionId("site")), "site-" + mac + "-" + std::to_string(::getpid()));
    std::string long_tag(300, 't');
    EXPECT_EQ(std::strlen(kits->GetConnectionId(long_tag.c_str())), 127u);
    kits->StartWindowsEnv();
    kits->FreeWindowsEnv();
}

TEST(PlatformKits, FolderChecks) {
    TempFolder folder;
    MultiPlatformKits* kits = MultiPlatformKits::GetInstance();
    std::string child = folder.Path() + "/child";
    EXPECT_TRUE(kits->FolderExist(folder.Path().c_str()));
    EXPECT_FALSE(kits->FolderExist(child.c_str()));
    EXPECT_TRUE(kits->CreateFolder(child.c_str()));
    EXPECT_TRUE(kits->FolderExist(child.c_str()));
    EXPECT_FALSE(kits->CreateFolder(child.c_str()));                     // already there
    EXPECT_FALSE(kits->CreateFolder((folder.Path() + "/a/b").c_str()));  // one level only
    std::string file = folder.Write("plain", "x");
    EXPECT_FALSE(kits->FolderExist(file.c_str()));
}

TEST(PlatformKits, TaskIdShape) {
    BaseConfig::GetInstance().CloseFileLog();  // the id is logged; keep it out of the build folder
    std::string id = GetTaskId("tag_1");
    BaseConfig::GetInstance().OpenFileLog();
    std::string host = MultiPlatformKits::GetInstance()->GetHostName();
    ASSERT_EQ(id.compare(0, host.size() + 1, host + "_"), 0) << id;
    std::string rest = id.substr(host.size() + 1);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(rest, match, std::regex(R"((\d{14})\.(\d{3})_(\d+)_tag_1)"))) << id;
    EXPECT_EQ(std::stoi(match[3]), ::getpid());
    EXPECT_EQ(match[1].str().substr(0, 2), "20");
}

TEST(PlatformKits, UnInstanceFreesAndRecreates) {
    MultiPlatformKits::GetInstance()->GetHostName();
    MultiPlatformKits::UnInstance();
    EXPECT_EQ(MultiPlatformKits::s_kits, nullptr);
    EXPECT_EQ(MultiPlatformKits::GetInstance()->GetProcessId(), ::getpid());
}

}  // namespace
