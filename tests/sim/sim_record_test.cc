// The synthetic market: universe, subscriptions, record stamps and batches, without sockets.
#include <gtest/gtest.h>

#include <event2/buffer.h>
#include <lz4.h>

#include <set>

#include "protocol/message_header.h"
#include "protocol/service_contract.h"
#include "protocol/wire_order.h"
#include "sim/sim_batch_encoder.h"
#include "sim/sim_data_types.h"
#include "sim/sim_frame_writer.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_request_log.h"
#include "sim/sim_subscription.h"
#include "sim/sim_universe.h"

namespace com::mivo::kmr::client::testing {
namespace {

using com::mivo::zel::model::MarketData;
using com::mivo::zel::model::SubscribeRequest;
using com::mivo::zel::model::SubscribeResponse;

// The encoder's pending records as one wire frame.
std::string FlushedFrame(SimBatchEncoder& encoder) {
    evbuffer* out = evbuffer_new();
    encoder.Flush(out, "", 1);
    std::string frame(evbuffer_get_length(out), '\0');
    evbuffer_remove(out, &frame[0], frame.size());
    evbuffer_free(out);
    return frame;
}

TEST(SimUniverseTest, SameSeedSameMarketAndEveryKindEvenWhenTiny) {
    SimUniverse a(42, 500, 8);
    SimUniverse b(42, 500, 8);
    SimUniverse c(43, 500, 8);
    ASSERT_EQ(a.Streams().size(), b.Streams().size());
    bool differs = false;
    for (size_t i = 0; i < a.Securities().size(); ++i) {
        EXPECT_EQ(a.Securities()[i].id, b.Securities()[i].id);
        EXPECT_EQ(a.Securities()[i].channel, b.Securities()[i].channel);
        differs = differs || a.Securities()[i].channel != c.Securities()[i].channel;
    }
    EXPECT_TRUE(differs) << "the seed decides";

    SimUniverse tiny(1, 7, 1);
    std::set<int> kinds;
    for (const SimStream& stream : tiny.Streams()) {
        kinds.insert(stream.data_type);
    }
    EXPECT_EQ(kinds.size(), SimDataTypes::All().size());
    EXPECT_EQ(tiny.Find("nope"), nullptr);
    EXPECT_EQ(tiny.StreamOf(0, 999), -1);
}

TEST(SimRecordFactoryTest, RecordsDependOnlyOnStreamAndVersion) {
    SimUniverse universe(5, 40, 4);
    SimRecordFactory first(universe);
    SimRecordFactory second(universe);
    std::string a;
    std::string b;
    std::string c;
    // Render in a different order on the second factory: the result must not care.
    second.Render(3, 9, &c);
    first.Render(17, 9, &a);
    second.Render(17, 9, &b);
    EXPECT_EQ(a, b);
    std::string next;
    first.Render(17, 10, &next);
    EXPECT_NE(a, next) << "the market moves between versions";
    for (size_t stream = 0; stream < universe.Streams().size(); ++stream) {
        MarketData record;
        first.Build(static_cast<int>(stream), 0, &record);
        EXPECT_EQ(SimRecordStamp::DataTypeOf(record), universe.Streams()[stream].data_type);
        EXPECT_GT(record.ByteSizeLong(), 40u);
    }
}

TEST(SimRecordStampTest, StampMergesIntoTheRenderedRecord) {
    SimUniverse universe(5, 40, 4);
    SimRecordFactory factory(universe);
    for (size_t stream = 0; stream < universe.Streams().size(); ++stream) {
        const int data_type = universe.Streams()[stream].data_type;
        std::string bytes;
        factory.Render(static_cast<int>(stream), 3, &bytes);
        const size_t rendered = bytes.size();
        const SimRecordStamp::TimeSpot spot =
            SimRecordStamp::Append(bytes, data_type, 1234567, 1765000000000000000LL);
        // A frame is stamped again when it leaves: same width, in place.
        if (spot.width > 0) {
            char* at = &bytes[bytes.size() - spot.width];
            const std::string before = bytes;
            EXPECT_FALSE(SimRecordStamp::Rewrite(at, spot, 1000)) << "a time of another width is refused";
            EXPECT_EQ(bytes, before);
            EXPECT_TRUE(SimRecordStamp::Rewrite(at, spot, 1765000000123456789LL));
        }
        MarketData record;
        ASSERT_TRUE(record.ParseFromString(bytes));
        int64_t sequence = 0;
        int64_t sent = 0;
        if (!SimRecordStamp::IsSequenced(data_type)) {
            EXPECT_EQ(bytes.size(), rendered);
            EXPECT_FALSE(SimRecordStamp::Read(record, &sequence, &sent));
            continue;
        }
        ASSERT_TRUE(SimRecordStamp::Read(record, &sequence, &sent)) << SimDataTypes::Name(data_type);
        EXPECT_EQ(sequence, 1234567);
        EXPECT_EQ(sent, 1765000000123456789LL);
        // The merged record still carries what was rendered.
        MarketData plain;
        ASSERT_TRUE(plain.ParseFromString(bytes.substr(0, rendered)));
        EXPECT_EQ(plain.zelmessagechannel(), record.zelmessagechannel());
    }
    EXPECT_STREQ(SimRecordStamp::SequenceFieldName(SimDataTypes::kMdStock), "HighPrecisionTimestamp4");
    EXPECT_STREQ(SimRecordStamp::TimeFieldName(SimDataTypes::kZelTrade), "DealTime");
}

TEST(SimSubscriptionTest, CoverageAddDecreaseCancel) {
    SimUniverse universe(9, 30, 3);
    auto all = [](int) { return true; };
    SimSubscription subscription;
    SubscribeRequest request;
    SubscribeResponse response;
    request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdStock);
    request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdStock);
    subscription.Apply(request, universe, all, &response);
    EXPECT_TRUE(response.issuccess());
    EXPECT_EQ(response.permitteddatatypes_size(), 1) << "duplicates are echoed once";
    EXPECT_EQ(subscription.Streams(universe), universe.StreamsOfType(SimDataTypes::kMdStock));

    // COVERAGE replaces: a by-id request leaves nothing of the data type subscription.
    SubscribeRequest by_id;
    by_id.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    auto* detail = by_id.mutable_subscribebyid()->add_subscribebyiddetails();
    detail->set_zeldatatype(SimDataTypes::kZelBond);
    detail->add_mivosecurityid(universe.Securities()[1].id);
    response.Clear();
    subscription.Apply(by_id, universe, all, &response);
    EXPECT_TRUE(response.issuccess());
    EXPECT_TRUE(subscription.DataTypes().empty());
    ASSERT_EQ(subscription.Streams(universe).size(), 1u);

    // DECREASE of something never subscribed succeeds and changes nothing.
    SubscribeRequest decrease;
    decrease.set_subscribeactiontype(com::mivo::zel::model::DECREASE);
    decrease.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kMdFuture);
    response.Clear();
    subscription.Apply(decrease, universe, all, &response);
    EXPECT_TRUE(response.issuccess());
    EXPECT_EQ(subscription.Streams(universe).size(), 1u);

    // Entitlements: nothing permitted is a refusal that changes nothing.
    response.Clear();
    subscription.Apply(
        request, universe, [](int) { return false; }, &response);
    EXPECT_FALSE(response.issuccess());
    EXPECT_EQ(subscription.Streams(universe).size(), 1u);

    SubscribeRequest cancel;
    cancel.set_subscribeactiontype(com::mivo::zel::model::CANCEL);
    response.Clear();
    subscription.Apply(cancel, universe, all, &response);
    EXPECT_TRUE(response.issuccess());
    EXPECT_TRUE(subscription.Empty());
}

TEST(SimBatchEncoderTest, FramesStayWithinTheLimitsEvenWhenAskedForMore) {
    SimFeedOptions options;
    options.batch_records = 100000;
    options.batch_bytes = 1 << 30;
    options.compression = SimCompression::kAlways;
    SimBatchEncoder encoder(options);
    // Incompressible records: the worst case for the compressed size.
    std::string record(1000, '\0');
    uint64_t state = 1;
    for (char& byte : record) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        byte = static_cast<char>(state >> 56);
    }
    int added = 0;
    while (encoder.Fits(record.size())) {
        encoder.Add(record, "", 0, SimDataTypes::kMdStock);
        ++added;
    }
    EXPECT_GT(added, 10);
    const std::string frame = FlushedFrame(encoder);
    MessageHeader header;
    header.ReadFrom(frame.data());
    EXPECT_TRUE(ServiceContract::IsFrameLengthAcceptable(header.m_metaLength, header.m_payloadLength));
    EXPECT_EQ(frame.size(), static_cast<size_t>(12 + header.m_metaLength + header.m_payloadLength));
    if (ServiceContract::IsCompressed(header.m_flags)) {
        const char* payload = frame.data() + 12 + header.m_metaLength;
        const int size = WireOrder::ReadInt32(payload);
        std::string plain(static_cast<size_t>(size), '\0');
        EXPECT_EQ(LZ4_decompress_safe(payload + 4, &plain[0], header.m_payloadLength - 4, size), size);
        EXPECT_EQ(size, added * static_cast<int>(record.size() + 4));
    }
    EXPECT_TRUE(encoder.Empty());
}

TEST(SimBatchEncoderTest, RecordsCarryTheTimeTheirFrameLeaves) {
    SimUniverse universe(5, 40, 4);
    SimRecordFactory factory(universe);
    const int stream = universe.StreamsOfType(SimDataTypes::kMdStock).front();
    SimFeedOptions options;
    options.compression = SimCompression::kAlways;
    SimBatchEncoder encoder(options);
    const int64_t gathered = 1765000000000000000LL;  // long before the flush
    for (int64_t sequence = 1; sequence <= 3; ++sequence) {
        std::string record;
        factory.Render(stream, 0, &record);
        std::string stamp;
        const auto spot = SimRecordStamp::Append(stamp, SimDataTypes::kMdStock, sequence, gathered);
        encoder.Add(record, stamp, 0, SimDataTypes::kMdStock, spot);
    }
    const int64_t before_flush = SimFrameWriter::NowUnixNanos();
    const std::string frame = FlushedFrame(encoder);
    MessageHeader header;
    header.ReadFrom(frame.data());
    ASSERT_TRUE(ServiceContract::IsCompressed(header.m_flags));
    const char* payload = frame.data() + 12 + header.m_metaLength;
    const int size = WireOrder::ReadInt32(payload);
    std::string plain(static_cast<size_t>(size), '\0');
    ASSERT_EQ(LZ4_decompress_safe(payload + 4, &plain[0], header.m_payloadLength - 4, size), size);
    size_t at = 0;
    int64_t expected_sequence = 1;
    while (at + 4 <= plain.size()) {
        const auto length = static_cast<size_t>(WireOrder::ReadInt32(plain.data() + at));
        MarketData record;
        ASSERT_TRUE(record.ParseFromArray(plain.data() + at + 4, static_cast<int>(length)));
        int64_t sequence = 0;
        int64_t sent = 0;
        ASSERT_TRUE(SimRecordStamp::Read(record, &sequence, &sent));
        EXPECT_EQ(sequence, expected_sequence++);
        EXPECT_GE(sent, before_flush);
        at += 4 + length;
    }
    EXPECT_EQ(expected_sequence, 4);
}

TEST(SimRequestLogTest, KeepsTheNewestEntriesInOrder) {
    SimRequestLog log;
    log.SetCapacity(10);
    for (int i = 0; i < 25; ++i) {
        SimRequest request;
        request.server = "node";
        request.message_type = i % 2 == 0 ? 3 : 13;
        log.Append(request);
    }
    auto entries = log.Snapshot();
    ASSERT_GE(entries.size(), 10u);
    ASSERT_LT(entries.size(), 20u);
    EXPECT_EQ(entries.back().order, 24);
    for (size_t i = 1; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].order, entries[i - 1].order + 1);
    }
    EXPECT_TRUE(log.WaitUntil([](const std::vector<SimRequest>& all) { return !all.empty(); },
                              std::chrono::milliseconds(1)));
    EXPECT_EQ(log.OfType(13).size() + log.OfType(3).size(), entries.size());
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
