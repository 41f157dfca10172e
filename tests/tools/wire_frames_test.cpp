// The frames a lockstep capture waits for are the frames the driver's
// collector hands over, a frame too long for the transport included: one the
// pacer saw end that the driver never handed over would hold the clock for good.
#include "support/floating_point_scope.h"
#include "tools/korval/wire_frames.h"
#include "usb/FrameCollector.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korval::tools {
namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

void handOver(PVOID context, const UCHAR* frame, ULONG length)
{
    static_cast<Frames*>(context)->emplace_back(frame, frame + length);
}

TEST(WireFrames, FramesEndWhereTheDriversCollectorEndsThemALongOneCutAsItCutsIt)
{
    std::vector<std::uint8_t> stream;
    std::uint8_t fill = 0;
    for (std::size_t body : {30000, 120000, 30000, 30000, 0}) {
        stream.insert(stream.end(), std::begin(kWireFrameMarker), std::end(kWireFrameMarker));
        stream.insert(stream.end(), kWireHeaderBytes + body, ++fill);
    }
    Frames wire, driver;
    WireFrameAssembler assembler([&wire](std::vector<std::uint8_t>&& frame) { wire.push_back(std::move(frame)); });
    std::vector<UCHAR> buffer(kLargestWireFrame);
    tagFrameCollector collector{buffer.data(), buffer.data(), buffer.data() + buffer.size(), 25000, 0, COLLECT_SEARCH,
                                0, handOver, &driver, 0};
    constexpr std::size_t kTransfer = 16 * 1023;
    const korval::testing::FloatingPointScope floatingPoint; // as the video completion routine's bracket
    for (std::size_t at = 0; at < stream.size(); at += kTransfer) {
        const auto bytes = static_cast<ULONG>(std::min(kTransfer, stream.size() - at));
        assembler.feed({stream.data() + at, bytes});
        assembler.endOfTransfer();
        CollectPacket(&collector, stream.data() + at, bytes);
        CutLongFrame(&collector, static_cast<ULONG>(kWireCutBytes));
    }
    ASSERT_EQ(driver.size(), 4u) << "the long frame is cut, the one after it is whole";
    EXPECT_EQ(wire.size(), driver.size());
    EXPECT_TRUE(wire == driver);
}

} // namespace
} // namespace korval::tools
