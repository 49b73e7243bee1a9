#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "SysSubscribe.pb.h"

namespace com::mivo::kmr::client {

class SimUniverse;

// What one datafeed connection is subscribed to: whole data types, and securities per data type.
class SimSubscription {
public:
    // Applies a request as the service does: COVERAGE replaces everything, ADD adds, DECREASE removes, CANCEL
    // ends everything. Only the permitted part of the request (known, entitled data types; securities that
    // produce the named data type) is applied and echoed in the response's permittedDataTypes and
    // permittedIdDetails. A COVERAGE or ADD with nothing permitted is refused and changes nothing.
    void Apply(const com::mivo::zel::model::SubscribeRequest& request, const SimUniverse& universe,
               const std::function<bool(int)>& entitled, com::mivo::zel::model::SubscribeResponse* response);

    bool Empty() const { return m_data_types.empty() && m_ids.empty(); }
    const std::set<int>& DataTypes() const { return m_data_types; }
    const std::map<int, std::set<std::string>>& Ids() const { return m_ids; }
    // The universe's streams covered, ascending.
    std::vector<int> Streams(const SimUniverse& universe) const;

private:
    std::set<int> m_data_types;
    std::map<int, std::set<std::string>> m_ids;
};

}  // namespace com::mivo::kmr::client
