#include "CollectorHarness.h"

#include <gtest/gtest.h>

#include <random>

namespace korval::testing {
namespace {

constexpr ULONG kSmallSkip = 4;

// Both versions on every hand-made stream.
class FrameCollectorTest : public ::testing::TestWithParam<CollectorUnderTest::Feed> {
protected:
    CollectorUnderTest make(std::size_t capacity = 4096, ULONG skip = kSmallSkip)
    {
        return CollectorUnderTest(capacity, skip, GetParam());
    }
};

TEST_P(FrameCollectorTest, FailedMatchAtTheSixthByteReleasesTheHeldBytesBeforeTheRealMarker)
{
    auto collector = make();
    collector.packet(Bytes{0xFF, 0xFF, 0x00, 0xFF, 0x96} + markerBytes() + Bytes{1, 2, 3});
    EXPECT_EQ(collector.pending(), (Bytes{0xFF, 0xFF, 0x00, 0xFF, 0x96, 1, 2, 3}));
    EXPECT_EQ(collector.state().ucState, 9);
}

TEST_P(FrameCollectorTest, ThirdLeadingFfIsBodyAndTheRestIsAMarker)
{
    auto collector = make();
    collector.packet(Bytes{0xFF} + markerBytes());
    EXPECT_EQ(collector.pending(), Bytes{0xFF});
    EXPECT_EQ(collector.state().ucState, COLLECT_HEADER_FIRST);
}

TEST_P(FrameCollectorTest, NearMissesAreBodyBytes)
{
    const std::vector<Bytes> nearMisses = {
        {0xFF, 0x01},
        {0xFF, 0xFF, 0x01},
        {0xFF, 0xFF, 0x00, 0x01},
        {0xFF, 0xFF, 0x00, 0xFF, 0x01},
        {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x01},
        {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x00},
    };
    for (const Bytes& miss : nearMisses) {
        auto collector = make();
        collector.packet(miss);
        EXPECT_EQ(collector.pending(), miss);
        EXPECT_EQ(collector.state().ucState, COLLECT_SEARCH);
    }
}

TEST_P(FrameCollectorTest, AnFfThatCanStillStartAMarkerStaysHeld)
{
    auto collector = make();
    collector.packet(Bytes{0xFF, 0xFF, 0x00, 0xFF, 0xFF}); // FF FF 00 out, FF FF held
    EXPECT_EQ(collector.pending(), (Bytes{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(collector.state().ucState, 2);
    collector.packet(Bytes{0x00, 0xFF, 0x96, 0xFF}); // marker fails at the sixth: FF stays held
    EXPECT_EQ(collector.pending(), (Bytes{0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x96}));
    EXPECT_EQ(collector.state().ucState, 1);
}

TEST_P(FrameCollectorTest, FirstMarkerOnlyOpensAFrameAndTheSecondHandsItOver)
{
    auto collector = make();
    const Bytes body = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    collector.packet(Bytes{0xAA, 0xBB} + markerBytes() + headerBytes(0x40) + body + markerBytes());
    EXPECT_TRUE(collector.frames().empty());
    collector.packet(headerBytes(0x60));
    ASSERT_EQ(collector.frames().size(), 1u);
    EXPECT_EQ(collector.frames()[0], headerBytes(0x40) + body + headerBytes(0x60));
    EXPECT_EQ(collector.state().ulLength, collector.frames()[0].size());
    EXPECT_EQ(collector.pending(), headerBytes(0x60));
    EXPECT_EQ(collector.state().ucState, COLLECT_BLIND_COPY);
}

TEST_P(FrameCollectorTest, MarkerSplitAtEveryPointGivesTheSameFrames)
{
    const Bytes stream = markerBytes() + headerBytes(1) + Bytes(20, 0x33) + markerBytes() + headerBytes(21) +
                         Bytes(7, 0x44) + markerBytes() + headerBytes(41);
    auto whole = make();
    whole.packet(stream);
    ASSERT_EQ(whole.frames().size(), 2u);
    for (std::size_t first = 0; first <= stream.size(); ++first) {
        for (std::size_t second = first; second <= stream.size(); second += 5) {
            auto split = make();
            split.packet(Bytes(stream.begin(), stream.begin() + first));
            split.packet(Bytes(stream.begin() + first, stream.begin() + second));
            split.packet(Bytes(stream.begin() + second, stream.end()));
            ASSERT_EQ(split.frames(), whole.frames()) << "split at " << first << " and " << second;
        }
    }
}

TEST_P(FrameCollectorTest, MarkerInsideTheSkipWindowIsCopiedAsBody)
{
    const Bytes early = Bytes(5, 0x01) + markerBytes() + headerBytes(0x80);
    const Bytes rest = Bytes(20, 0x02) + markerBytes() + headerBytes(0x90);
    auto wide = make(4096, 30); // the early marker lies within 30 bytes of the frame start
    wide.packet(markerBytes() + headerBytes(0));
    wide.packet(early + rest);
    ASSERT_EQ(wide.frames().size(), 1u);
    EXPECT_EQ(wide.frames()[0], headerBytes(0) + early + Bytes(20, 0x02) + headerBytes(0x90));

    auto narrow = make(4096, 10); // no window past the header: the early marker counts
    narrow.packet(markerBytes() + headerBytes(0));
    narrow.packet(early + rest);
    ASSERT_EQ(narrow.frames().size(), 2u);
    EXPECT_EQ(narrow.frames()[0], headerBytes(0) + Bytes(5, 0x01) + headerBytes(0x80));
}

TEST_P(FrameCollectorTest, BlindCopyEndsExactlyAtTheSkipPoint)
{
    // 10 header bytes are kept, so a skip of 16 copies 6 body bytes blind.
    auto inside = make(4096, 16);
    inside.packet(markerBytes() + headerBytes(0));
    inside.packet(Bytes{1, 2, 3, 4, 5, 0xFF} + markerBytes() + headerBytes(0x20));
    ASSERT_EQ(inside.frames().size(), 1u);
    EXPECT_EQ(inside.frames()[0], headerBytes(0) + Bytes({1, 2, 3, 4, 5, 0xFF}) + headerBytes(0x20));

    auto after = make(4096, 16); // the FF just past the window makes FF FF FF 00 ...
    after.packet(markerBytes() + headerBytes(0));
    after.packet(Bytes{1, 2, 3, 4, 5, 6, 0xFF} + markerBytes() + headerBytes(0x20));
    ASSERT_EQ(after.frames().size(), 1u);
    EXPECT_EQ(after.frames()[0], headerBytes(0) + Bytes({1, 2, 3, 4, 5, 6, 0xFF}) + headerBytes(0x20));
}

TEST_P(FrameCollectorTest, LongFrameIsCutAfterTheTransferAtTheNextByte)
{
    auto collector = make(4096, kSmallSkip);
    collector.packet(markerBytes() + headerBytes(0) + Bytes(200, 0x55));
    collector.cut(300); // not yet
    EXPECT_EQ(collector.state().ucState, COLLECT_SEARCH);
    collector.packet(Bytes(100, 0x56));
    collector.cut(300);
    EXPECT_EQ(collector.state().ucState, COLLECT_HEADER_LAST);
    EXPECT_EQ(collector.state().ulLength, 310u);
    collector.packet(Bytes{0x77, 0x78});
    ASSERT_EQ(collector.frames().size(), 1u);
    EXPECT_EQ(collector.frames()[0].size(), 311u);
    EXPECT_EQ(collector.frames()[0].back(), 0x77);
    // The bytes after the cut are searched at once (no header came).
    EXPECT_EQ(collector.pending(), (Bytes(9, 0x56) + Bytes{0x77, 0x78}));
    EXPECT_EQ(collector.state().ucState, COLLECT_SEARCH);
}

// A cut lands anywhere in a camera frame: a blind copy after it would lose a
// marker in the skip window, and the stream would be cut frame after frame.
TEST_P(FrameCollectorTest, AfterACutTheNextMarkerIsFoundAndOnlyOpensAFrame)
{
    auto collector = make(4096, 100);
    collector.packet(markerBytes() + headerBytes(0) + Bytes(300, 0x55));
    collector.cut(300);
    collector.packet(Bytes(20, 0x56) + markerBytes() + headerBytes(0x40) + Bytes(120, 0x57));
    ASSERT_EQ(collector.frames().size(), 1u); // the cut frame
    EXPECT_EQ(collector.pending(), headerBytes(0x40) + Bytes(120, 0x57));
    collector.cut(300); // the frame is short: not cut
    collector.packet(markerBytes() + headerBytes(0x60));
    ASSERT_EQ(collector.frames().size(), 2u);
    EXPECT_EQ(collector.frames()[1], headerBytes(0x40) + Bytes(120, 0x57) + headerBytes(0x60));
}

// A slow camera pauses between frames, so a cut can fall at the end of a
// frame's last transfer, with the next transfer opening on the marker; a
// bright body ends in FF bytes the collector holds. The marker must survive
// the cut's last byte, or every later frame is cut the same way.
TEST_P(FrameCollectorTest, ACutAtAFramesEndKeepsTheNextMarker)
{
    for (const std::uint8_t bodyByte : {std::uint8_t{0x55}, std::uint8_t{0xFF}}) {
        auto collector = make(4096, 100);
        collector.packet(markerBytes() + headerBytes(0) + Bytes(300, bodyByte));
        collector.cut(300);
        collector.cut(300); // empty transfers between the frames
        collector.packet(markerBytes() + headerBytes(0x40) + Bytes(120, 0x57));
        collector.packet(markerBytes() + headerBytes(0x60));
        ASSERT_EQ(collector.frames().size(), 2u) << int{bodyByte};
        EXPECT_EQ(collector.frames()[1], headerBytes(0x40) + Bytes(120, 0x57) + headerBytes(0x60)) << int{bodyByte};
    }
}

TEST_P(FrameCollectorTest, EmptyPacketsChangeNothing)
{
    auto collector = make();
    collector.packet(Bytes{0xFF, 0xFF, 0x00});
    collector.packet(Bytes{});
    EXPECT_EQ(collector.state().ucState, 3);
    collector.packet(Bytes{0xFF, 0x96, 0x64});
    EXPECT_EQ(collector.state().ucState, COLLECT_HEADER_FIRST);
}

TEST_P(FrameCollectorTest, UnknownStateSkipsEverything)
{
    auto collector = make();
    collector.state().ucState = 17;
    collector.packet(markerBytes() + headerBytes(0));
    EXPECT_TRUE(collector.pending().empty());
    EXPECT_EQ(collector.state().ucState, 17);
}

TEST_P(FrameCollectorTest, FullBufferDropsBytesInsteadOfWritingPastIt)
{
    auto collector = make(64, 1000);
    collector.packet(markerBytes() + headerBytes(0));
    collector.packet(Bytes(100, 0x12));
    EXPECT_EQ(collector.pending().size(), 64u);
    collector.packet(Bytes{0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x01});
    EXPECT_EQ(collector.pending().size(), 64u);
}

INSTANTIATE_TEST_SUITE_P(BothVersions, FrameCollectorTest,
                         ::testing::Values(&CollectPacket, &CollectPacketReference),
                         [](const auto& info) { return info.index == 0 ? "Fast" : "Reference"; });

// Random streams rich in marker prefixes, in random packets, with random cuts.
Bytes randomStream(std::mt19937& random, std::size_t size)
{
    static const std::uint8_t alphabet[] = {0xFF, 0xFF, 0xFF, 0x00, 0x96, 0x64, 0x12, 0xFE};
    Bytes stream;
    while (stream.size() < size) {
        const auto pick = random() % 10;
        if (pick == 0) {
            stream = stream + markerBytes();
        } else if (pick < 4) {
            stream.push_back(alphabet[random() % sizeof alphabet]);
        } else {
            stream.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    return stream;
}

TEST(FrameCollectorRandomTest, FastVersionMatchesTheReferenceOnRandomStreams)
{
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        const std::size_t capacity = 64 + random() % 2000;
        const ULONG skip = random() % 3 == 0 ? static_cast<ULONG>(capacity + 10) : random() % 200;
        const ULONG cutBytes = 20 + random() % 1500;
        CollectorUnderTest fast(capacity, skip, CollectPacket);
        CollectorUnderTest reference(capacity, skip, CollectPacketReference);
        const Bytes stream = randomStream(random, 500 + random() % 8000);
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t length = std::min<std::size_t>(random() % 300, stream.size() - at);
            const Bytes packet(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + length));
            fast.packet(packet);
            reference.packet(packet);
            at += length;
            if (random() % 16 == 0) {
                fast.cut(cutBytes);
                reference.cut(cutBytes);
            }
            ASSERT_EQ(fast.state().ucState, reference.state().ucState) << "round " << round;
            ASSERT_EQ(fast.pending(), reference.pending()) << "round " << round;
        }
        ASSERT_EQ(fast.frames(), reference.frames()) << "round " << round;
        EXPECT_EQ(fast.state().ulLength, reference.state().ulLength);
        EXPECT_EQ(fast.state().ucFrameOpen, reference.state().ucFrameOpen);
    }
}

} // namespace
} // namespace korval::testing
