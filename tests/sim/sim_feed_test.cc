// Market data pushed by a node: completeness and order per channel, batching, LZ4, record contents.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include <event2/buffer.h>

#include <algorithm>

#include "protocol/frame_cutter.h"
#include "protocol/wire_order.h"
#include "sim/sim_data_types.h"
#include "sim/sim_feed_cursor.h"
#include "sim/sim_record_factory.h"
#include "sim/sim_record_stamp.h"
#include "sim/sim_universe.h"
#include "sim_test_fixture.h"

namespace com::mivo::kmr::client::testing {
namespace {

using com::mivo::zel::model::MarketData;
using com::mivo::zel::model::SubscribeRequest;

class SimFeedTest : public SimServiceTest {
protected:
    void StartFeed(SimFeedOptions feed) {
        SimServiceOptions options;
        options.feed = feed;
        StartService(options);
    }

    static SimFeedOptions Firehose(int64_t max_records) {
        SimFeedOptions feed;
        feed.securities = 60;
        feed.channels = 5;
        feed.records_per_second = 0;
        feed.max_records = max_records;
        return feed;
    }

    void SubscribeAll(RawFrameClient& client) {
        SubscribeRequest request;
        request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
        for (int type : SimDataTypes::All()) {
            request.mutable_subscribebydatatype()->add_zeldatatypes(type);
        }
        ASSERT_TRUE(client.SendSubscribe(request));
    }

    static std::string SecurityIdOf(const MarketData& record) {
        const int data_type = SimRecordStamp::DataTypeOf(record);
        const auto* field = record.GetDescriptor()->FindFieldByNumber(data_type);
        const auto& body = record.GetReflection()->GetMessage(record, field);
        const auto* id = body.GetDescriptor()->FindFieldByName("ZELSecurityID");
        return body.GetReflection()->GetString(body, id);
    }
};

TEST_F(SimFeedTest, SequencesAreCompleteAndInOrderPerChannel) {
    StartFeed(Firehose(6000));
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SubscribeAll(client);
    std::vector<MarketData> records;
    ASSERT_TRUE(ReadRecords(client, 6000, &records));
    ASSERT_EQ(records.size(), 6000u);

    std::map<int64_t, int64_t> last_sequence;
    std::map<int64_t, int64_t> last_time;
    int unsequenced = 0;
    for (const MarketData& record : records) {
        const int64_t channel = record.zelmessagechannel();
        ASSERT_GE(channel, 0);
        ASSERT_LT(channel, 5);
        const SimSecurity* security = m_service->Universe().Find(SecurityIdOf(record));
        ASSERT_NE(security, nullptr);
        EXPECT_EQ(security->channel, channel) << "a security stays on its channel";
        int64_t sequence = 0;
        int64_t sent = 0;
        if (!SimRecordStamp::Read(record, &sequence, &sent)) {
            EXPECT_EQ(SimRecordStamp::DataTypeOf(record), SimDataTypes::kZelIopv);
            ++unsequenced;
            continue;
        }
        ASSERT_EQ(sequence, last_sequence[channel] + 1) << "channel " << channel;
        last_sequence[channel] = sequence;
        EXPECT_GE(sent, last_time[channel]);
        last_time[channel] = sent;
    }
    EXPECT_GT(unsequenced, 0);
    int64_t sequenced = 0;
    for (const auto& entry : last_sequence) {
        sequenced += entry.second;
    }
    EXPECT_EQ(sequenced + unsequenced, 6000);
    EXPECT_EQ(m_service->Node(0).CounterValues().records_sent, 6000);
}

TEST_F(SimFeedTest, EveryRecordKindArrivesFilledLikeAMarket) {
    StartFeed(Firehose(1500));
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SubscribeAll(client);
    std::vector<MarketData> records;
    ASSERT_TRUE(ReadRecords(client, 1500, &records));

    std::set<int> kinds;
    for (const MarketData& record : records) {
        const int data_type = SimRecordStamp::DataTypeOf(record);
        kinds.insert(data_type);
        EXPECT_EQ(record.zelrecordtype(), data_type);
        if (record.has_mdstock()) {
            const auto& stock = record.mdstock();
            EXPECT_EQ(stock.buypricequeue_size(), 10);
            EXPECT_EQ(stock.sellorderqtyqueue_size(), 10);
            EXPECT_LT(stock.buypricequeue(0), stock.sellpricequeue(0)) << "bids below asks";
            EXPECT_GE(stock.highpx(), stock.lowpx());
            EXPECT_GT(stock.highprecisiontimestamp1(), 0);
        }
        if (record.has_zelstock()) {
            EXPECT_EQ(record.zelstock().datamultiplepowerof10(), 4);
            EXPECT_GT(record.zelstock().lastpx(), record.zelstock().maxpx() / 2);
            EXPECT_EQ(record.zelstock().zeldatatype(), SimDataTypes::kZelStock);
        }
        if (record.has_zelorderbook()) {
            const auto& book = record.zelorderbook();
            ASSERT_EQ(book.buyentries_size(), 10);
            ASSERT_EQ(book.sellentries_size(), 10);
            EXPECT_EQ(book.buyentries(9).level(), 10);
            EXPECT_EQ(book.sellentries(0).orderqtylist_size(), book.sellentries(0).numberoforders());
        }
    }
    EXPECT_EQ(kinds.size(), SimDataTypes::All().size()) << "both families, every kind";
}

TEST_F(SimFeedTest, CompressedFramesDecompressToTheDeclaredSize) {
    SimFeedOptions feed = Firehose(2000);
    feed.compression = SimCompression::kAlways;
    StartFeed(feed);
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SubscribeAll(client);
    std::vector<MarketData> records;
    int frames = 0;
    int64_t plain_bytes = 0;
    int64_t wire_bytes = 0;
    while (records.size() < 2000) {
        RawFrame frame;
        ASSERT_TRUE(client.ReadUntil(com::mivo::zel::model::PUSH_MARKET_DATA, &frame));
        ASSERT_EQ(frame.header.m_flags, ServiceContract::FLAG_COMPRESSED);
        int size = -1;
        const size_t before = records.size();
        ASSERT_TRUE(DecodeBatch(frame, &records, &size));
        plain_bytes += size;
        wire_bytes += static_cast<int64_t>(frame.payload.size());
        EXPECT_EQ(frame.meta.zelsysmessagenum(), static_cast<int>(records.size() - before));
        ++frames;
    }
    EXPECT_EQ(m_service->Node(0).CounterValues().compressed_frames_sent, frames);
    EXPECT_GT(plain_bytes, wire_bytes) << "market data compresses";
}

TEST_F(SimFeedTest, AboveSizeCompressesOnlyLargeBatchesAndBatchSizeHolds) {
    SimFeedOptions feed = Firehose(0);
    feed.compression = SimCompression::kAboveSize;
    feed.compress_above_bytes = 1500;
    feed.batch_records = 3;
    feed.securities = 10;
    StartFeed(feed);
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    // ZELOrderbook records alone exceed the threshold three to a frame; ZELIopv records never do.
    SubscribeRequest request;
    request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    request.mutable_subscribebydatatype()->add_zeldatatypes(SimDataTypes::kZelIopv);
    ASSERT_TRUE(client.SendSubscribe(request));
    std::vector<MarketData> records;
    std::vector<RawFrame> frames;
    ASSERT_TRUE(ReadRecords(client, 30, &records, &frames));
    for (const RawFrame& frame : frames) {
        EXPECT_FALSE(ServiceContract::IsCompressed(frame.header.m_flags));
        EXPECT_LE(frame.meta.zelsysmessagenum(), 3);
    }

    request.mutable_subscribebydatatype()->set_zeldatatypes(0, SimDataTypes::kZelOrderbook);
    ASSERT_TRUE(client.SendSubscribe(request));
    ASSERT_TRUE(client.ReadUntil(com::mivo::zel::model::SUBSCRIBE_RESPONSE, &frames.front()));
    RawFrame frame;
    ASSERT_TRUE(client.ReadUntil(com::mivo::zel::model::PUSH_MARKET_DATA, &frame));
    records.clear();
    ASSERT_TRUE(DecodeBatch(frame, &records));
    ASSERT_TRUE(records.front().has_zelorderbook());
    EXPECT_TRUE(ServiceContract::IsCompressed(frame.header.m_flags));
}

TEST_F(SimFeedTest, ByIdSubscriptionPushesOnlyThoseSecurities) {
    StartFeed(Firehose(300));
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    const std::string id = m_service->Universe().Securities()[0].id;
    SubscribeRequest request;
    request.set_subscribeactiontype(com::mivo::zel::model::COVERAGE);
    auto* detail = request.mutable_subscribebyid()->add_subscribebyiddetails();
    detail->set_zeldatatype(SimDataTypes::kMdStock);
    detail->add_mivosecurityid(id);
    ASSERT_TRUE(client.SendSubscribe(request));
    std::vector<MarketData> records;
    ASSERT_TRUE(ReadRecords(client, 300, &records));
    int64_t expected = 0;
    for (const MarketData& record : records) {
        ASSERT_TRUE(record.has_mdstock());
        EXPECT_EQ(record.mdstock().zelsecurityid(), id);
        EXPECT_EQ(record.mdstock().highprecisiontimestamp4(), ++expected);
    }
}

TEST_F(SimFeedTest, RateModePushesWithoutBeingAsked) {
    SimFeedOptions feed = Firehose(0);
    feed.records_per_second = 5000;
    StartFeed(feed);
    RawFrameClient client;
    ASSERT_TRUE(LoginAtNode(client));
    SubscribeAll(client);
    std::vector<MarketData> records;
    ASSERT_TRUE(ReadRecords(client, 200, &records));
    EXPECT_GE(records.size(), 200u);
}

// Each frame is stamped when it is made: the records of one frame share a
// send time, and later frames of the same call carry later ones.
TEST(SimFeedCursorTest, EachFrameCarriesTheTimeItIsMade) {
    SimFeedOptions feed;
    feed.securities = 60;
    feed.channels = 5;
    feed.batch_records = 10;
    SimUniverse universe(feed.seed, feed.securities, feed.channels);
    SimRecordFactory factory(universe);
    SimFeedCursor cursor(universe, factory, feed);
    cursor.SetStreams(universe.StreamsOfType(SimDataTypes::kMdStock));
    evbuffer* out = evbuffer_new();
    ASSERT_EQ(cursor.Produce(out, 200, 1 << 20, "").frames, 20);
    const size_t length = evbuffer_get_length(out);
    FrameCutter cutter;
    cutter.Feed(reinterpret_cast<const char*>(evbuffer_pullup(out, -1)), length);
    evbuffer_free(out);
    std::vector<int64_t> frame_stamps;
    FrameView frame;
    while (cutter.Take(frame) == FrameCutter::Result::FRAME) {
        std::set<int64_t> stamps;
        for (size_t at = 0; at + 4 <= frame.payload_length;) {
            const int32_t record_length = WireOrder::ReadInt32(frame.payload + at);
            MarketData record;
            ASSERT_TRUE(record.ParseFromArray(frame.payload + at + 4, record_length));
            int64_t sequence = 0, sent = 0;
            ASSERT_TRUE(SimRecordStamp::Read(record, &sequence, &sent));
            stamps.insert(sent);
            at += 4 + static_cast<size_t>(record_length);
        }
        ASSERT_EQ(stamps.size(), 1u);
        frame_stamps.push_back(*stamps.begin());
    }
    ASSERT_EQ(frame_stamps.size(), 20u);
    EXPECT_TRUE(std::is_sorted(frame_stamps.begin(), frame_stamps.end()));
    EXPECT_GT(std::set<int64_t>(frame_stamps.begin(), frame_stamps.end()).size(), 1u);
}

TEST_F(SimFeedTest, NodesPushTheSameMarketToEveryConnection) {
    StartFeed(Firehose(400));
    RawFrameClient first;
    RawFrameClient second;
    ASSERT_TRUE(LoginAtNode(first, 0));
    ASSERT_TRUE(LoginAtNode(second, 1));
    SubscribeAll(first);
    SubscribeAll(second);
    std::vector<MarketData> a;
    std::vector<MarketData> b;
    ASSERT_TRUE(ReadRecords(first, 400, &a));
    ASSERT_TRUE(ReadRecords(second, 400, &b));
    for (size_t i = 0; i < 400; ++i) {
        MarketData left = a[i];
        MarketData right = b[i];
        // Only the send times may differ.
        int64_t sequence = 0;
        int64_t time_left = 0;
        int64_t time_right = 0;
        if (SimRecordStamp::Read(left, &sequence, &time_left)) {
            SimRecordStamp::Read(right, &sequence, &time_right);
            std::string text_left = left.DebugString();
            std::string text_right = right.DebugString();
            const std::string from = std::to_string(time_left);
            const std::string to = std::to_string(time_right);
            for (size_t at = text_left.find(from); at != std::string::npos;
                 at = text_left.find(from, at + 1)) {
                text_left.replace(at, from.size(), to);
            }
            ASSERT_EQ(text_left, text_right) << i;
        } else {
            ASSERT_EQ(left.SerializeAsString(), right.SerializeAsString()) << i;
        }
    }
}

}  // namespace
}  // namespace com::mivo::kmr::client::testing
