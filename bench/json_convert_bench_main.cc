// The Python path's JSON converter against protobuf's own JSON printer, on
// the simulated service's MDStock records. Prints figures; never asserts.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <google/protobuf/util/json_util.h>

#include "MarketData.pb.h"
#include "python/message_to_json.h"
#include "sim/sim_data_types.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_universe.h"

using namespace com::mivo::kmr::client;
using Clock = std::chrono::steady_clock;

namespace {

template <typename Convert>
double NanosPerRecord(const std::vector<com::mivo::zel::model::MarketData>& records, int rounds,
                      Convert&& convert) {
    size_t bytes = 0;
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (const auto& record : records) {
            bytes += convert(record.mdstock()).size();
        }
    }
    const double nanos = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    if (bytes == 0) {
        std::printf("no output\n");
    }
    return nanos / (static_cast<double>(records.size()) * rounds);
}

}  // namespace

int main() {
    SimUniverse universe(20261209, 3000, 16);
    SimRecordFactory factory(universe);
    std::vector<com::mivo::zel::model::MarketData> records;
    for (int stream : universe.StreamsOfType(SimDataTypes::kMdStock)) {
        records.emplace_back();
        factory.Build(stream, 1, &records.back());
        if (records.size() == 2000) {
            break;
        }
    }
    const int rounds = 5;
    google::protobuf::util::JsonPrintOptions options;
    const double ours =
        NanosPerRecord(records, rounds, [](const auto& stock) { return message_to_json(stock); });
    const double theirs = NanosPerRecord(records, rounds, [&](const auto& stock) {
        std::string text;
        google::protobuf::util::MessageToJsonString(stock, &text, options);
        return text;
    });
    std::printf("MDStock records: %zu x %d rounds, %zu bytes of JSON each (ours)\n", records.size(), rounds,
                message_to_json(records[0].mdstock()).size());
    std::printf("message_to_json (jansson, reflection): %8.0f ns/record\n", ours);
    std::printf("protobuf MessageToJsonString:          %8.0f ns/record\n", theirs);
    std::printf("ratio ours/protobuf: %.2f\n", ours / theirs);
    return 0;
}
