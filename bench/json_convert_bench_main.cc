// The Python path's JSON writer against the jansson converter it replaced
// and protobuf's own JSON printer, per record kind, on the simulated
// service's records. Prints figures; never asserts.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <google/protobuf/util/json_util.h>

#include "MarketData.pb.h"
#include "python/json_record_writer.h"
#include "python/reference/message_to_json.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_universe.h"

using namespace com::mivo::kmr::client;
using com::mivo::zel::model::MarketData;
using google::protobuf::FieldDescriptor;

namespace {

// This thread's CPU time: on a machine shared with other work it counts
// only the converter's own work, where wall time counts the waits too.
double ThreadNanos() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// One pass over the records; the best pass of several counts.
template <typename Convert>
double NanosPerRecord(const std::vector<MarketData>& records, Convert&& convert) {
    size_t bytes = 0;
    const double start = ThreadNanos();
    for (const auto& record : records) {
        bytes += convert(record).size();
    }
    const double nanos = ThreadNanos() - start;
    if (bytes == 0) {
        std::printf("no output\n");
    }
    return nanos / static_cast<double>(records.size());
}

}  // namespace

int main() {
    SimUniverse universe(20261209, 3000, 16);
    SimRecordFactory factory(universe);
    google::protobuf::util::JsonPrintOptions options;
    std::string text;
    std::printf("CPU time per record of the converting thread, best of several passes\n");
    std::printf("%-13s %7s %10s %10s %10s %14s\n", "record", "bytes", "jansson", "protobuf", "writer",
                "jansson/writer");
    const auto* kinds = MarketData::descriptor();
    for (int i = 0; i < kinds->field_count(); ++i) {
        const FieldDescriptor* kind = kinds->field(i);
        if (kind->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
            continue;
        }
        std::vector<MarketData> records;
        for (int stream : universe.StreamsOfType(kind->number())) {
            records.emplace_back();
            factory.Build(stream, 1, &records.back());
            if (records.size() == 500) {
                break;
            }
        }
        if (records.empty()) {
            continue;
        }
        const int rounds = kind->name() == "MDStock" ? 9 : 3;
        double jansson = 1e18;
        double protobuf = 1e18;
        double writer = 1e18;
        for (int round = 0; round < rounds; ++round) {
            jansson =
                std::min(jansson, NanosPerRecord(records, [](const auto& r) { return message_to_json(r); }));
            protobuf = std::min(protobuf, NanosPerRecord(records, [&](const auto& r) {
                                    text.clear();
                                    google::protobuf::util::MessageToJsonString(r, &text, options);
                                    return text;
                                }));
            writer = std::min(writer, NanosPerRecord(records, [&](const auto& r) -> const std::string& {
                                  text.clear();
                                  JsonRecordWriter::Append(r, &text);
                                  return text;
                              }));
        }
        std::printf("%-13s %7zu %8.0f ns %8.0f ns %8.0f ns %14.2f\n", kind->name().c_str(),
                    message_to_json(records[0]).size(), jansson, protobuf, writer, jansson / writer);
    }
    return 0;
}
