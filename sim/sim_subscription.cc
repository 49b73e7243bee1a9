#include "sim/sim_subscription.h"

#include <algorithm>

#include "sim/sim_data_types.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client {

using com::mivo::zel::model::ESubscribeActionType;
using com::mivo::zel::model::SubscribeByIdDetail;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SubscribeResponse;

void SimSubscription::Apply(const SubscribeRequest& request, const SimUniverse& universe,
                            const std::function<bool(int)>& entitled, SubscribeResponse* response) {
    const ESubscribeActionType action = request.subscribeactiontype();
    if (action == com::mivo::zel::model::CANCEL) {
        m_data_types.clear();
        m_ids.clear();
        response->set_issuccess(true);
        return;
    }
    auto permitted_type = [&](int data_type) {
        return SimDataTypes::IsKnown(data_type) && entitled(data_type);
    };

    std::set<int> types;
    for (int data_type : request.subscribebydatatype().zeldatatypes()) {
        if (permitted_type(data_type) && types.insert(data_type).second) {
            response->add_permitteddatatypes(data_type);
        }
    }
    std::map<int, std::set<std::string>> ids;
    for (const SubscribeByIdDetail& detail : request.subscribebyid().subscribebyiddetails()) {
        if (!permitted_type(detail.zeldatatype())) {
            continue;
        }
        SubscribeByIdDetail permitted;
        permitted.set_zeldatatype(detail.zeldatatype());
        for (const std::string& id : detail.mivosecurityid()) {
            const SimSecurity* security = universe.Find(id);
            if (security != nullptr && universe.StreamOf(security->index, detail.zeldatatype()) >= 0 &&
                ids[detail.zeldatatype()].insert(id).second) {
                permitted.add_mivosecurityid(id);
            }
        }
        if (permitted.mivosecurityid_size() > 0) {
            *response->add_permittediddetails() = permitted;
        }
    }
    for (auto it = ids.begin(); it != ids.end();) {
        it = it->second.empty() ? ids.erase(it) : std::next(it);
    }

    if (types.empty() && ids.empty() && action != com::mivo::zel::model::DECREASE) {
        response->set_issuccess(false);
        response->mutable_errorcontext()->set_errorcode(403);
        response->mutable_errorcontext()->set_message("no permitted data type or security in the request");
        return;
    }
    response->set_issuccess(true);
    if (action == com::mivo::zel::model::COVERAGE) {
        m_data_types = std::move(types);
        m_ids = std::move(ids);
    } else if (action == com::mivo::zel::model::ADD) {
        m_data_types.insert(types.begin(), types.end());
        for (auto& entry : ids) {
            m_ids[entry.first].insert(entry.second.begin(), entry.second.end());
        }
    } else {
        // DECREASE. Dropping a few ids of a data type subscribed wholesale leaves the wholesale part alone.
        for (int data_type : types) {
            m_data_types.erase(data_type);
            m_ids.erase(data_type);
        }
        for (auto& entry : ids) {
            auto found = m_ids.find(entry.first);
            if (found == m_ids.end()) {
                continue;
            }
            for (const std::string& id : entry.second) {
                found->second.erase(id);
            }
            if (found->second.empty()) {
                m_ids.erase(found);
            }
        }
    }
}

std::vector<int> SimSubscription::Streams(const SimUniverse& universe) const {
    std::vector<int> streams;
    for (int data_type : m_data_types) {
        const auto& of_type = universe.StreamsOfType(data_type);
        streams.insert(streams.end(), of_type.begin(), of_type.end());
    }
    for (const auto& entry : m_ids) {
        if (m_data_types.count(entry.first) != 0) {
            continue;
        }
        for (const std::string& id : entry.second) {
            const SimSecurity* security = universe.Find(id);
            int stream = security == nullptr ? -1 : universe.StreamOf(security->index, entry.first);
            if (stream >= 0) {
                streams.push_back(stream);
            }
        }
    }
    std::sort(streams.begin(), streams.end());
    streams.erase(std::unique(streams.begin(), streams.end()), streams.end());
    return streams;
}

}  // namespace com::mivo::kmr::client
