#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MarketData.pb.h"

namespace google::protobuf {
class FieldDescriptor;
class Message;
}  // namespace google::protobuf

namespace com::mivo::kmr::client {

class SimUniverse;
struct SimSecurity;

// Renders the records of the universe's streams. A record depends only on the universe's seed, the stream and
// a version number, never on who asked before, so every connection sees the same market.
//
// Fields are filled by what their names say (prices around the security's price, ZEL prices scaled by
// 10^DataMultiplePowerOf10 = 10^4, 10-level price/quantity/order-count queues, 10 order book entries per
// side, volumes growing with the version); exotic fields (pre-market, after-hours, OTC, ...) stay unset as
// they do on most real feeds. The sequence and send-time fields are left for SimRecordStamp.
//
// Not thread-safe: one factory per loop thread.
class SimRecordFactory {
public:
    explicit SimRecordFactory(const SimUniverse& universe);
    ~SimRecordFactory();

    // The MarketData of the stream at the version.
    void Build(int stream, uint32_t version, com::mivo::zel::model::MarketData* record);
    // Its encoding, appended to out.
    void Render(int stream, uint32_t version, std::string* out);

private:
    enum class Role;
    struct Slot {
        const google::protobuf::FieldDescriptor* field;
        Role role;
    };
    struct Plan {
        const google::protobuf::FieldDescriptor* envelope_field = nullptr;
        std::vector<Slot> slots;
    };
    struct Tick;

    const Plan& PlanFor(int data_type);
    static Role Classify(const google::protobuf::FieldDescriptor* field);
    void Fill(google::protobuf::Message* record, const Plan& plan, const SimSecurity& security, int data_type,
              const Tick& tick);

    const SimUniverse& m_universe;
    std::map<int, Plan> m_plans;
    com::mivo::zel::model::MarketData m_scratch;
};

}  // namespace com::mivo::kmr::client
