#include "protocol/frame_cutter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace com::mivo::kmr::client {
namespace {

std::string Frame(int16_t flags, const std::string& meta, const std::string& payload) {
    MessageHeader header;
    header.m_version = 1;
    header.m_protocol = 1;
    header.m_flags = flags;
    header.m_metaLength = static_cast<int32_t>(meta.size());
    header.m_payloadLength = static_cast<int32_t>(payload.size());
    std::string out(MessageHeader::SIZE, '\0');
    header.WriteTo(out.data());
    return out + meta + payload;
}

std::string RawHeader(int32_t meta_length, int32_t payload_length) {
    MessageHeader header;
    header.m_metaLength = meta_length;
    header.m_payloadLength = payload_length;
    std::string out(MessageHeader::SIZE, '\0');
    header.WriteTo(out.data());
    return out;
}

struct Cut {
    int16_t flags;
    std::string meta;
    std::string payload;
};

std::vector<Cut> TakeAll(FrameCutter& cutter) {
    std::vector<Cut> cuts;
    FrameView view;
    while (cutter.Take(view) == FrameCutter::Result::FRAME) {
        cuts.push_back({view.header.m_flags, std::string(view.meta, view.meta_length),
                        std::string(view.payload, view.payload_length)});
    }
    return cuts;
}

TEST(FrameCutterTest, EverySplitOfAStreamYieldsTheSameFrames) {
    const std::string stream = Frame(0x1000, "meta-one", "payload-one") + Frame(0x4000, "", "") +
                               Frame(0, "m", std::string(300, 'x')) + Frame(7, "last-meta", "z");
    for (size_t split = 0; split <= stream.size(); ++split) {
        FrameCutter cutter;
        std::vector<Cut> cuts;
        cutter.Feed(stream.data(), split);
        for (const Cut& cut : TakeAll(cutter)) {
            cuts.push_back(cut);
        }
        cutter.Feed(stream.data() + split, stream.size() - split);
        for (const Cut& cut : TakeAll(cutter)) {
            cuts.push_back(cut);
        }
        ASSERT_EQ(4u, cuts.size()) << "split at " << split;
        EXPECT_EQ("meta-one", cuts[0].meta);
        EXPECT_EQ("payload-one", cuts[0].payload);
        EXPECT_EQ(0x4000, cuts[1].flags);
        EXPECT_TRUE(cuts[1].meta.empty() && cuts[1].payload.empty());
        EXPECT_EQ(std::string(300, 'x'), cuts[2].payload);
        EXPECT_EQ("z", cuts[3].payload);
        EXPECT_EQ(0u, cutter.Buffered());
    }
}

TEST(FrameCutterTest, ByteAtATimeNeedsMoreUntilTheLastByte) {
    const std::string frame = Frame(0, "abc", "defgh");
    FrameCutter cutter;
    FrameView view;
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        cutter.Feed(&frame[i], 1);
        ASSERT_EQ(FrameCutter::Result::NEED_MORE, cutter.Take(view)) << "after byte " << i;
    }
    cutter.Feed(&frame.back(), 1);
    ASSERT_EQ(FrameCutter::Result::FRAME, cutter.Take(view));
    EXPECT_EQ(frame.size(), view.frame_length);
    EXPECT_EQ("defgh", std::string(view.payload, view.payload_length));
}

TEST(FrameCutterTest, ViewsOfEarlierFramesSurviveLaterTakes) {
    const std::string stream = Frame(0, "a", "first") + Frame(0, "b", "second");
    FrameCutter cutter;
    cutter.Feed(stream.data(), stream.size());
    FrameView first;
    FrameView second;
    ASSERT_EQ(FrameCutter::Result::FRAME, cutter.Take(first));
    ASSERT_EQ(FrameCutter::Result::FRAME, cutter.Take(second));
    EXPECT_EQ("first", std::string(first.payload, first.payload_length));
    EXPECT_EQ("second", std::string(second.payload, second.payload_length));
}

TEST(FrameCutterTest, LengthsAtAndOverTheLimits) {
    FrameCutter cutter(FrameCutter::Limits{4, 8});
    FrameView view;
    const std::string at_limit = Frame(0, "1234", "12345678");
    cutter.Feed(at_limit.data(), at_limit.size());
    EXPECT_EQ(FrameCutter::Result::FRAME, cutter.Take(view));

    for (const std::string& bad :
         {RawHeader(5, 0), RawHeader(0, 9), RawHeader(-1, 0), RawHeader(0, INT32_MIN)}) {
        cutter.Reset();
        cutter.Feed(bad.data(), bad.size());
        EXPECT_EQ(FrameCutter::Result::BAD_LENGTH, cutter.Take(view));
        EXPECT_TRUE(cutter.IsPoisoned());
    }
}

TEST(FrameCutterTest, ADamagedHeaderPoisonsTheStreamUntilReset) {
    FrameCutter cutter(FrameCutter::Limits{16, 16});
    const std::string good = Frame(0, "m", "p");
    const std::string bad = RawHeader(0, 17);
    cutter.Feed(good.data(), good.size());
    cutter.Feed(bad.data(), bad.size());
    cutter.Feed(good.data(), good.size());
    FrameView view;
    EXPECT_EQ(FrameCutter::Result::FRAME, cutter.Take(view));
    EXPECT_EQ(FrameCutter::Result::BAD_LENGTH, cutter.Take(view));
    EXPECT_EQ(FrameCutter::Result::BAD_LENGTH, cutter.Take(view)) << "the good frame after it is not trusted";
    cutter.Reset();
    EXPECT_EQ(0u, cutter.Buffered());
    cutter.Feed(good.data(), good.size());
    EXPECT_EQ(FrameCutter::Result::FRAME, cutter.Take(view));
}

TEST(FrameCutterTest, ReserveAndCommitWriteInPlace) {
    const std::string stream = Frame(0, "meta", std::string(10000, 'q')) + Frame(0, "", "tail");
    FrameCutter cutter;
    size_t offset = 0;
    std::vector<Cut> cuts;
    while (offset < stream.size()) {
        size_t room = 0;
        char* at = cutter.Reserve(777, &room);
        ASSERT_GE(room, 777u);
        const size_t n = std::min<size_t>(777, stream.size() - offset);
        std::memcpy(at, stream.data() + offset, n);
        cutter.Commit(n);
        offset += n;
        for (const Cut& cut : TakeAll(cutter)) {
            cuts.push_back(cut);
        }
    }
    ASSERT_EQ(2u, cuts.size());
    EXPECT_EQ(std::string(10000, 'q'), cuts[0].payload);
    EXPECT_EQ("tail", cuts[1].payload);
}

TEST(FrameCutterTest, CommitNeverRunsPastTheReservedRoom) {
    FrameCutter cutter;
    size_t room = 0;
    cutter.Reserve(16, &room);
    cutter.Commit(room + 1000);
    EXPECT_EQ(room, cutter.Buffered());
}

TEST(FrameCutterTest, PeekHeaderNeedsTwelveBytes) {
    const std::string frame = Frame(0x4000, "mm", "ppp");
    FrameCutter cutter;
    MessageHeader header;
    cutter.Feed(frame.data(), MessageHeader::SIZE - 1);
    EXPECT_FALSE(cutter.PeekHeader(header));
    cutter.Feed(frame.data() + MessageHeader::SIZE - 1, 1);
    ASSERT_TRUE(cutter.PeekHeader(header));
    EXPECT_EQ(0x4000, header.m_flags);
    EXPECT_EQ(2, header.m_metaLength);
    EXPECT_EQ(3, header.m_payloadLength);
}

TEST(FrameCutterTest, ReleaseForgetsBytesAndMemory) {
    const std::string frame = Frame(0, "", std::string(50000, 'r'));
    FrameCutter cutter;
    cutter.Feed(frame.data(), frame.size() - 1);
    cutter.Release();
    EXPECT_EQ(0u, cutter.Buffered());
    FrameView view;
    EXPECT_EQ(FrameCutter::Result::NEED_MORE, cutter.Take(view));
    cutter.Feed(frame.data(), frame.size());
    EXPECT_EQ(FrameCutter::Result::FRAME, cutter.Take(view));
}

}  // namespace
}  // namespace com::mivo::kmr::client
