#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ESysMessageType.pb.h"
#include "SysSubscribe.pb.h"
#include "common/base_config.h"
#include "common/client_config.h"
#include "common/result_codes.h"
#include "common/test_seam.h"
#include "python/json_parameters.h"
#include "python/json_ref.h"
#include "python/module_bridge.h"
#include "python/python_module.h"
#include "python/reference/message_to_json.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_service.h"
#include "support/log_capture.h"

namespace com::mivo::kmr::client {
namespace {

using namespace com::mivo::zel::model;

constexpr const char* kUser = "py-user";
constexpr const char* kPassword = "py-secret-7731";

std::string LoginText(const std::string& extra, int port = -1) {
    std::string text = std::string("{\"UserName\": \"") + kUser + "\", \"Password\": \"" + kPassword +
                       "\", \"MainServerIP\": \"127.0.0.1\"";
    if (port >= 0) {
        text += ", \"MainServerPort\": " + std::to_string(port);
    }
    return text + extra + "}";
}

class JsonLoginParameters : public ::testing::Test {
protected:
    void SetUp() override {
        ClientConfig::CloseFileLog();
        ClientConfig::CloseCoutLog();
        ClientConfig::SetUseSSL(false);
    }
    void TearDown() override {
        python_logout();
        python_fini_env();
        EXPECT_EQ(m_log.Count(kPassword), 0) << "a log line shows the password";
    }

    LogCapture m_log;
};

TEST_F(JsonLoginParameters, IncompleteOrUnusableTextsReturnOne) {
    EXPECT_EQ(login_from_json(LoginText("").c_str()), 1);  // no port
    EXPECT_EQ(login_from_json(LoginText(", \"MainServerPort\": 9552.5").c_str()), 1);
    EXPECT_EQ(login_from_json("[{\"UserName\": \"u\"}]"), 1);
    EXPECT_EQ(login_from_json("{\"Password\": py-secret-7731}"), 1);  // not JSON, password in the token
    EXPECT_EQ(login_from_json(nullptr), 1);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "login parameter non conformance"), 5);
    EXPECT_EQ(m_log.Count("load login json failed: "), 2);
    EXPECT_GE(m_log.Count("login json:"), 4);
    EXPECT_GE(m_log.Count("\"Password\": \"******\""), 2);
    EXPECT_EQ(m_log.Count("Password: ******"), 2);
}

TEST_F(JsonLoginParameters, ThreadCountAppliedOnlyFromOneToNinetyNine) {
    ClientConfig::SetHandleThreadNum(7);
    EXPECT_EQ(login_from_json(LoginText(", \"Thread_Count\": 0").c_str()), 1);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 7u);
    EXPECT_EQ(login_from_json(LoginText(", \"Thread_Count\": 100").c_str()), 1);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 7u);
    EXPECT_EQ(login_from_json(LoginText(", \"Thread_Count\": 99").c_str()), 1);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 99u);
    EXPECT_EQ(login_from_json(LoginText("").c_str()), 1);
    EXPECT_EQ(ClientConfig::GetHandleThreadNum(), 4u);
    EXPECT_EQ(m_log.Count("THREAD_COUNT: 99"), 1);
}

TEST_F(JsonLoginParameters, OnlyJsonTrueSwitchesTls) {
    EXPECT_EQ(login_from_json(LoginText(", \"Is_Ssl\": 1").c_str()), 1);
    EXPECT_FALSE(ClientConfig::IsUseSSL());
    // With TLS on and no loadable CA file no client is obtainable.
    const std::string tls = ", \"Is_Ssl\": true, \"CertFolder\": \"/nonexistent/zel-cert\"";
    EXPECT_EQ(login_from_json(LoginText(tls, 9552).c_str()), -1);
    EXPECT_TRUE(ClientConfig::IsUseSSL());
    EXPECT_EQ(ClientConfig::GetSSLCertfolder(), "/nonexistent/zel-cert");
    // The folder stays for later logins until a text names another.
    EXPECT_EQ(login_from_json(LoginText("").c_str()), 1);
    EXPECT_FALSE(ClientConfig::IsUseSSL());
    EXPECT_EQ(ClientConfig::GetSSLCertfolder(), "/nonexistent/zel-cert");
    EXPECT_EQ(login_from_json(LoginText(", \"CertFolder\": \"./cert\"").c_str()), 1);
    EXPECT_EQ(ClientConfig::GetSSLCertfolder(), "./cert");
}

// TearDown checks that no line holds the password.
TEST_F(JsonLoginParameters, PasswordNeverLoggedWhateverTheTextLooksLike) {
    const std::string secret = kPassword;
    EXPECT_EQ(login_from_json(("{\"UserName\": \"u\", \"Pass\\u0077ord\": \"" + secret + "\"}").c_str()), 1);
    EXPECT_EQ(login_from_json(("{\"UserName\": \"u\", \"password\": \"" + secret + "\"}").c_str()), 1);
    EXPECT_EQ(login_from_json(("{'UserName': 'u', 'Password': '" + secret + "'}").c_str()), 1);
    EXPECT_EQ(login_from_json("{\"Password\": \"py-secret-77\\u0033\\u0031\"}"), 1);
    EXPECT_EQ(m_log.Count("login json:{\"UserName\": \"u\", \"Password\": \"******\"}"), 1);
    EXPECT_EQ(m_log.Count("login json:{\"UserName\": \"u\", \"password\": \"******\"}"), 1);
    EXPECT_EQ(m_log.Count("bytes, not shown: not JSON)"), 1);
    EXPECT_EQ(m_log.Count("login json:{\"Password\": \"******\"}"), 1);
    EXPECT_EQ(m_log.Count("\\u0033"), 0);
}

// Against the simulated service, with the library's fixed pauses shortened.
class JsonSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestSeam::SetTimeDivisor(50);
        // Library threads log until the client is gone, so the sink outlives every case.
        s_log = new LogCapture();
        // A refused subscription is not tried again, so each text costs one round trip.
        const std::string path =
            ::testing::TempDir() + "json_session_" + std::to_string(::getpid()) + ".conf";
        {
            std::ofstream file(path);
            file << "nuvexia_config_file_log=0\nnuvexia_config_cout_log=0\n"
                 << "nuvexia_config_subscribe_try_count=1\nnuvexia_config_subscribe_try_interval=0\n";
        }
        ASSERT_TRUE(BaseConfig::GetInstance().SetConfigFilePath(path));
        std::remove(path.c_str());
        SimServiceOptions options;
        options.feed.records_per_second = 200;
        options.feed.securities = 50;
        s_service = new SimService(options);
        s_service->AddAccount({kUser, kPassword, {}});
        s_service->AddDiscoveryServer();
        SimNodeSpec node;
        node.site_type = 1;
        node.priority = 9;
        s_service->AddDatafeedNode(node);
        std::string error;
        ASSERT_TRUE(s_service->Start(&error)) << error;
    }
    static void TearDownTestSuite() {
        python_logout();
        python_fini_env();
        s_service->Stop();
        delete s_service;
        s_service = nullptr;
        delete s_log;
        s_log = nullptr;
        TestSeam::SetTimeDivisor(1);
    }

    // Each case may run in a process of its own, so the first one logs in.
    void SetUp() override {
        if (!s_logged_in) {
            ASSERT_EQ(login_from_json(LoginText("", s_service->Discovery(0).Port()).c_str()), 0);
            s_logged_in = true;
        }
    }

    static std::vector<SubscribeRequest> Subscribes() {
        std::vector<SubscribeRequest> out;
        for (const auto& request : s_service->Requests().OfType(SUBSCRIBE_REQUEST)) {
            SubscribeRequest parsed;
            EXPECT_TRUE(parsed.ParseFromString(request.body));
            out.push_back(parsed);
        }
        return out;
    }

    static SimService* s_service;
    static bool s_logged_in;
    static LogCapture* s_log;
    LogCapture& m_log = *s_log;
};

SimService* JsonSession::s_service = nullptr;
bool JsonSession::s_logged_in = false;
LogCapture* JsonSession::s_log = nullptr;

TEST_F(JsonSession, LoginThroughBackupSkippingUnusableElements) {
    // The main server is a port nobody listens on; of the backups only the
    // complete object is usable.
    const std::string backups =
        ", \"BackServer\": [{\"IP\": \"127.0.0.1\"}, 7, {\"Port\": 1}, {\"IP\": "
        "\"127.0.0.1\", \"Port\": " +
        std::to_string(s_service->Discovery(0).Port()) + "}]";
    python_logout();
    s_service->Requests().Clear();
    EXPECT_EQ(login_from_json(LoginText(backups, 1).c_str()), 0);
    EXPECT_EQ(s_service->Requests().OfType(LOGIN_REQUEST).size(), 2u);  // discovery, then the node
    EXPECT_EQ(m_log.Count(kPassword), 0);
}

TEST_F(JsonSession, EscapedPasswordKeyLogsInAndIsMasked) {
    python_logout();
    std::string text = LoginText("", s_service->Discovery(0).Port());
    text.replace(text.find("\"Password\""), 10, "\"Pass\\u0077ord\"");
    ASSERT_NE(text.find("Pass\\u0077ord"), std::string::npos);
    EXPECT_EQ(login_from_json(text.c_str()), 0);
    EXPECT_EQ(m_log.Count(kPassword), 0);
}

TEST_F(JsonSession, DataTypeTextSendsTheUsableTypes) {
    s_service->Requests().Clear();
    EXPECT_EQ(subscribe_by_data_type_from_json("{\"SubType\": 2, \"ZelDataTypes\": [20, \"x\", -999, 3]}"),
              0);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "subscribe parameter non conformance"), 2);
    const auto requests = Subscribes();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].subscribeactiontype(), ADD);
    ASSERT_EQ(requests[0].subscribebydatatype().zeldatatypes_size(), 2);
    EXPECT_EQ(requests[0].subscribebydatatype().zeldatatypes(0), 20);
    EXPECT_EQ(requests[0].subscribebydatatype().zeldatatypes(1), 3);

    const size_t sent = Subscribes().size();
    // Unusable texts send nothing and say so: 0 would read as success.
    EXPECT_EQ(subscribe_by_data_type_from_json("not json"), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_data_type_from_json("{\"SubType\": 1}"), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_data_type_from_json("{\"SubType\": 1, \"ZelDataTypes\": 3}"),
              RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_data_type_from_json("[3, 20]"), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_data_type_from_json(nullptr), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "load subscribe json failed"), 2);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "subscribe json has no list \"ZelDataTypes\""), 2);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "subscribe json is not an object"), 1);
    EXPECT_EQ(Subscribes().size(), sent);
}

TEST_F(JsonSession, SecurityIdTextAccumulatesDetails) {
    s_service->Requests().Clear();
    const auto& securities = s_service->Universe().Securities();
    ASSERT_GE(securities.size(), 2u);
    const SimSecurity& a = securities[0];
    const SimSecurity& b = securities[1];
    const std::string text =
        "{\"SubType\": 1, \"MIVOSecurityIDs\": [{\"ZelDataType\": " + std::to_string(a.data_types[0]) +
        ", \"MIVOSecurityID\": [\"" + a.id + "\", 5]}," + "{\"MIVOSecurityID\": [\"" + b.id + "\"]}," +
        "{\"ZelDataType\": 3, \"MIVOSecurityID\": \"" + b.id + "\"}," +
        "{\"ZelDataType\": " + std::to_string(b.data_types[0]) + ", \"MIVOSecurityID\": [\"" + b.id +
        "\"]}]}";
    EXPECT_EQ(subscribe_by_security_id_from_json(text.c_str()), 0);  // both sends accepted
    EXPECT_EQ(m_log.Count("details[1].zelDataType missing or not integer, skipped."), 1);
    EXPECT_EQ(m_log.Count("details[2].mivoSecurityId missing or not array, skipped."), 1);
    const auto requests = Subscribes();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].subscribeactiontype(), COVERAGE);
    ASSERT_EQ(requests[0].subscribebyid().subscribebyiddetails_size(), 1);
    const auto& first = requests[0].subscribebyid().subscribebyiddetails(0);
    EXPECT_EQ(first.zeldatatype(), a.data_types[0]);
    EXPECT_EQ(std::vector<std::string>(first.mivosecurityid().begin(), first.mivosecurityid().end()),
              std::vector<std::string>{a.id});
    ASSERT_EQ(requests[1].subscribebyid().subscribebyiddetails_size(), 2);
    EXPECT_EQ(requests[1].subscribebyid().subscribebyiddetails(0).mivosecurityid(0), a.id);
    EXPECT_EQ(requests[1].subscribebyid().subscribebyiddetails(1).zeldatatype(), b.data_types[0]);
    EXPECT_EQ(requests[1].subscribebyid().subscribebyiddetails(1).mivosecurityid(0), b.id);

    EXPECT_EQ(subscribe_by_security_id_from_json("{\"MIVOSecurityIDs\": {}}"), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_security_id_from_json("{\"MIVOSecurityIDs\": [{\"ZelDataType\": 3}]}"),
              RESULT_BAD_PARAMETERS);
    EXPECT_EQ(subscribe_by_security_id_from_json("{'MIVOSecurityIDs': []}"), RESULT_BAD_PARAMETERS);
    EXPECT_EQ(m_log.Count(LOG_LEVEL_ERROR, "no usable element in \"MIVOSecurityIDs\""), 1);
    EXPECT_EQ(Subscribes().size(), 2u);
}

// The JSON a Notify receives is the record the service rendered, field by
// field: the generator is deterministic per (stream, version), the stamp is
// read back from the text itself.
TEST_F(JsonSession, MarketDataReachesNotifyAsTheRecordSent) {
    struct Collect : Notify {
        void OnMarketData(void* data, int length) override {
            std::lock_guard<std::mutex> lock(mutex);
            texts.emplace_back(static_cast<char*>(data), length);
        }
        std::mutex mutex;
        std::vector<std::string> texts;
    } collect;
    const SimUniverse& universe = s_service->Universe();
    const SimSecurity* stock = nullptr;
    for (const auto& security : universe.Securities()) {
        if (std::count(security.data_types.begin(), security.data_types.end(), SimDataTypes::kMdStock)) {
            stock = &security;
            break;
        }
    }
    ASSERT_NE(stock, nullptr);
    const std::string marker = "\"ZELSecurityID\": \"" + stock->id + "\"";
    auto matching = [&] {
        std::lock_guard<std::mutex> lock(collect.mutex);
        std::vector<std::string> out;
        for (const auto& text : collect.texts) {
            if (text.find(marker) != std::string::npos && text.find("\"MDStock\"") != std::string::npos) {
                out.push_back(text);
            }
        }
        return out;
    };
    Notify_Regist(&collect);
    const std::string text =
        "{\"SubType\": 1, \"MIVOSecurityIDs\": [{\"ZelDataType\": 20, \"MIVOSecurityID\": [\"" + stock->id +
        "\"]}]}";
    EXPECT_EQ(subscribe_by_security_id_from_json(text.c_str()), 0);
    EXPECT_TRUE(SimService::WaitUntil([&] { return matching().size() >= 5; }));
    Notify_Regist(nullptr);

    const int stream = universe.StreamOf(stock->index, SimDataTypes::kMdStock);
    SimRecordFactory factory(universe);
    const auto received = matching();
    for (size_t i = 0; i < received.size() && i < 5; ++i) {
        JsonRef root(json_loads(received[i].c_str(), 0, nullptr));
        json_t* record = json_object_get(root.get(), "MDStock");
        const int64_t sequence = json_integer_value(json_object_get(record, "HighPrecisionTimestamp4"));
        const int64_t sent = json_integer_value(json_object_get(record, "HighPrecisionTimestamp1"));
        bool found = false;
        for (uint32_t version = 0; version < 4000 && !found; ++version) {
            std::string bytes;
            factory.Render(stream, version, &bytes);
            SimRecordStamp::Append(bytes, SimDataTypes::kMdStock, sequence, sent);
            MarketData expected;
            ASSERT_TRUE(expected.ParseFromString(bytes));
            found = message_to_json(expected) == received[i];
        }
        EXPECT_TRUE(found) << "no record of the stream renders as " << received[i];
    }
}

// Last: the service may drop a connection that asks for an unknown action.
TEST_F(JsonSession, UnknownSubTypePassedOnUnchanged) {
    s_service->Requests().Clear();
    subscribe_by_data_type_from_json("{\"SubType\": 7, \"ZelDataTypes\": []}");
    const auto requests = Subscribes();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(static_cast<int>(requests[0].subscribeactiontype()), 7);
    EXPECT_EQ(requests[0].subscribebydatatype().zeldatatypes_size(), 0);
    EXPECT_EQ(m_log.Count("subtype: 7"), 1);
}

}  // namespace
}  // namespace com::mivo::kmr::client
