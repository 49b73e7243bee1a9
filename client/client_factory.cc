#include "client/client_factory.h"

#include <memory>
#include <utility>

#include "client/nuvexia_tcp_client.h"
#include "client/site_statistics_board.h"
#include "client/statistics_json.h"
#include "client/statistics_log_thread.h"
#include "client/subscription_ledger.h"
#include "common/base_config.h"
#include "common/base_log.h"
#include "common/host_call.h"
#include "common/multi_platform_kits.h"
#include "common/reaper.h"

namespace com::mivo::kmr::client {

ClientFactory* ClientFactory::s_factory = nullptr;
ClientInterface* ClientFactory::s_client = nullptr;
std::mutex ClientFactory::s_factory_mutex;
std::mutex ClientFactory::s_handler_mutex;

namespace {

// The client's statistics, reachable without the factory mutex so that a
// snapshot never waits for a login or a shutdown (and works in callbacks).
std::mutex s_statistics_mutex;
std::shared_ptr<SiteStatisticsBoard> s_statistics_board;
std::unique_ptr<StatisticsLogThread> s_statistics_log;
std::shared_ptr<SubscriptionLedger> s_subscription_ledger;
// Held by a teardown on a host thread while it destroys the client.
std::mutex s_teardown_mutex;

std::shared_ptr<SiteStatisticsBoard> CurrentBoard() {
    std::lock_guard<std::mutex> lock(s_statistics_mutex);
    return s_statistics_board;
}

ClientStatistics Snapshot(const std::shared_ptr<SiteStatisticsBoard>& board) {
    ClientStatistics statistics;
    if (board) {
        statistics.has_client = true;
        statistics.sites = board->Collect();
    }
    return statistics;
}

// Returns the previous statistics log thread, for the caller to join
// outside the lock (or to hand on when it may be that very thread).
std::unique_ptr<StatisticsLogThread> PublishStatistics(std::shared_ptr<SiteStatisticsBoard> board,
                                                       std::shared_ptr<SubscriptionLedger> ledger) {
    std::lock_guard<std::mutex> lock(s_statistics_mutex);
    s_statistics_board = board;
    s_subscription_ledger = std::move(ledger);
    std::unique_ptr<StatisticsLogThread> old_log = std::move(s_statistics_log);
    if (board) {
        s_statistics_log = std::make_unique<StatisticsLogThread>(
            [board] { return StatisticsJson::Render(Snapshot(board)); });
    }
    return old_log;
}

}  // namespace

ClientFactory* ClientFactory::Instance() {
    std::lock_guard<std::mutex> lock(s_factory_mutex);
    if (s_factory == nullptr) {
        s_factory = new ClientFactory();
    }
    return s_factory;
}

void ClientFactory::SetConfig(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    (void)BaseConfig::GetInstance().ParseConfigFile(path);
}

bool ClientFactory::IsConfigClean(std::vector<std::string>* problems) {
    const BaseConfig& config = BaseConfig::GetInstance();
    if (problems != nullptr) {
        *problems = config.GetLoadProblems();
        if (!config.IsLoadClean() && problems->empty()) {
            problems->push_back("no configuration file was read");
        }
    }
    return config.IsLoadClean();
}

ClientStatistics ClientFactory::GetStatistics() {
    return Snapshot(CurrentBoard());
}

std::string ClientFactory::GetStatisticsJson() {
    return StatisticsJson::Render(GetStatistics());
}

SubscriptionList ClientFactory::GetSubscriptions() {
    std::shared_ptr<SubscriptionLedger> ledger;
    {
        std::lock_guard<std::mutex> lock(s_statistics_mutex);
        ledger = s_subscription_ledger;
    }
    SubscriptionList list;
    if (ledger) {
        list.has_client = true;
        list.entries = ledger->List();
    }
    return list;
}

std::string ClientFactory::GetSubscriptionsJson() {
    return StatisticsJson::Render(GetSubscriptions());
}

void ClientFactory::RegistLogHandle(LogInterface* log_handle) {
    if (log_handle == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(s_handler_mutex);
    SetLogHandle(log_handle);
}

ClientInterface* ClientFactory::CreateClient(MessageHandle* message_handle) {
    if (message_handle == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(s_factory_mutex);
    if (s_client != nullptr) {
        return s_client;
    }
    auto* client = new NuvexiaTcpClient(message_handle);
    MultiPlatformKits::GetInstance()->StartWindowsEnv();
    s_client = client;
    if (BaseConfig::GetInstance().IsUseSSL() && client->SslEnvInit() < 0) {
        DebugPrint("local SSL certification failed");
        delete client;
        s_client = nullptr;
    }
    if (s_client != nullptr) {
        // Nothing to join: a client existed only if none was left.
        PublishStatistics(client->GetStatisticsBoard(), client->GetSubscriptionLedger()).reset();
    }
    return s_client;
}

void ClientFactory::Uninstance() {
    NuvexiaTcpClient* client = nullptr;
    std::unique_ptr<StatisticsLogThread> old_log;
    {
        std::lock_guard<std::mutex> lock(s_factory_mutex);
        delete s_factory;
        s_factory = nullptr;
        old_log = PublishStatistics(nullptr, nullptr);
        client = static_cast<NuvexiaTcpClient*>(s_client);
        s_client = nullptr;
    }
    // The client is destroyed outside the factory's lock: a callback that
    // runs meanwhile may call in here and must not wait for it.
    if (HostCall::Inside()) {
        // The client's destructor returns once no callback can start and
        // leaves the rest to the reaper; the statistics log thread (maybe the
        // caller) and the platform follow it there.
        delete client;
        StatisticsLogThread* log = old_log.release();
        Reaper::Hand([log] {
            delete log;
            MultiPlatformKits::GetInstance()->FreeWindowsEnv();
        });
        return;
    }
    // Host threads tearing down at once each return when all is gone.
    std::lock_guard<std::mutex> teardown(s_teardown_mutex);
    old_log.reset();
    delete client;
    // A teardown still finishing elsewhere is complete when this returns.
    Reaper::Drain();
    MultiPlatformKits::GetInstance()->FreeWindowsEnv();
}

}  // namespace com::mivo::kmr::client
