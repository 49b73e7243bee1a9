#include "sim/sim_service.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

namespace com::mivo::kmr::client {

SimService::SimService(SimServiceOptions options)
    : m_universe(options.feed.seed, options.feed.securities, options.feed.channels) {
    m_context.accounts = &m_accounts;
    m_context.requests = &m_requests;
    m_context.universe = &m_universe;
    m_context.options = std::move(options);
    m_context.node_table = [this] { return NodeTable(); };
}

SimService::~SimService() {
    Stop();
}

void SimService::AddAccount(const SimAccount& account) {
    m_accounts.AddAccount(account);
}

int SimService::AddDiscoveryServer(SimDiscoverySpec desc) {
    std::unique_lock<std::mutex> lock(m_mutex);
    int index = static_cast<int>(m_discovery.size());
    if (desc.name.empty()) {
        desc.name = "discovery" + std::to_string(index);
    }
    m_discovery.push_back(std::make_unique<SimDiscoveryServer>(desc.name, desc.endpoint, &m_context));
    SimServer* server = m_discovery.back().get();
    bool running = m_running;
    lock.unlock();
    if (running) {
        std::string error;
        StartServer(*server, &error);
    }
    return index;
}

int SimService::AddDatafeedNode(SimNodeSpec desc) {
    std::unique_lock<std::mutex> lock(m_mutex);
    int index = static_cast<int>(m_nodes.size());
    if (desc.name.empty()) {
        int in_site = 0;
        for (const auto& node : m_nodes) {
            in_site += node->Describe().site_type == desc.site_type ? 1 : 0;
        }
        desc.name = "site" + std::to_string(desc.site_type) + "-node" + std::to_string(in_site);
    }
    m_nodes.push_back(std::make_unique<SimDatafeedNode>(desc, &m_context));
    SimServer* server = m_nodes.back().get();
    bool running = m_running;
    lock.unlock();
    if (running) {
        std::string error;
        StartServer(*server, &error);
    }
    return index;
}

bool SimService::StartServer(SimServer& server, std::string* error) {
    if (!server.Start(error)) {
        std::fprintf(stderr, "zel-sim: %s\n", error->c_str());
        return false;
    }
    return true;
}

bool SimService::Start(std::string* error) {
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    if (!m_context.options.cert_file.empty() || !m_context.options.key_file.empty()) {
        if (!m_tls.Load(m_context.options.cert_file, m_context.options.key_file, error)) {
            return false;
        }
        m_context.tls = &m_tls;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    for (SimServer* server : Servers()) {
        if (!server->Start(error)) {
            Stop();
            return false;
        }
    }
    return true;
}

void SimService::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    for (SimServer* server : Servers()) {
        server->Stop();
    }
}

bool SimService::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int SimService::DiscoveryCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_discovery.size());
}

int SimService::NodeCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_nodes.size());
}

SimDiscoveryServer& SimService::Discovery(int index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return *m_discovery.at(static_cast<size_t>(index));
}

SimDatafeedNode& SimService::Node(int index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return *m_nodes.at(static_cast<size_t>(index));
}

std::vector<SimServer*> SimService::Servers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SimServer*> out;
    for (auto& server : m_discovery) {
        out.push_back(server.get());
    }
    for (auto& server : m_nodes) {
        out.push_back(server.get());
    }
    return out;
}

SimServer* SimService::FindServer(const std::string& name) {
    for (SimServer* server : Servers()) {
        if (server->Name() == name) {
            return server;
        }
    }
    return nullptr;
}

std::vector<SimNodeSpec> SimService::NodeTable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SimNodeSpec> table;
    for (const auto& node : m_nodes) {
        table.push_back(node->Describe());
    }
    return table;
}

void SimService::SetFeedOptions(const SimFeedOptions& options) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_context.options.feed = options;
    }
    std::vector<SimDatafeedNode*> nodes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& node : m_nodes) {
            nodes.push_back(node.get());
        }
    }
    for (SimDatafeedNode* node : nodes) {
        node->SetFeedOptions(options);
    }
}

std::string SimService::CountersText() {
    std::ostringstream out;
    for (SimServer* server : Servers()) {
        SimEndpoint endpoint = server->Endpoint();
        out << server->Name() << " " << endpoint.ip << ":" << endpoint.port << (endpoint.tls ? " tls" : "")
            << (server->IsUp() ? " up " : " down ") << server->CounterValues().ToString() << "\n";
    }
    return out.str();
}

bool SimService::WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return predicate();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace com::mivo::kmr::client
