// The pacer waits for the frames the driver's collector hands over, a frame cut as too long included
// (here at the end of its last transfer: the next byte, which ends the cut, begins the next marker).
#include "support/floating_point_scope.h"
#include "tools/korval/wire_frames.h"
#include "usb/FrameCollector.h"
#include <gtest/gtest.h>
using namespace korval::tools;
TEST(WireFrames, FramesEndWhereTheDriversCollectorEndsThemALongOneCutAsItCutsIt)
{
    std::vector<std::uint8_t> stream, buffer(kLargestWireFrame);
    for (std::size_t body : {30000, 117280, 30000, 30000, 0}) {
        stream.insert(stream.end(), std::begin(kWireFrameMarker), std::end(kWireFrameMarker));
        stream.insert(stream.end(), 10 + body, static_cast<std::uint8_t>(body / 30000 + 1));
    }
    std::vector<std::vector<std::uint8_t>> wire, driver;
    WireFrameAssembler assembler([&](std::vector<std::uint8_t>&& frame) { wire.push_back(frame); });
    tagFrameCollector collector{buffer.data(), buffer.data(), buffer.data() + buffer.size(), 25000, 0, 0, 0,
        [](PVOID into, const UCHAR* at, ULONG n) { static_cast<decltype(wire)*>(into)->emplace_back(at, at + n); },
        &driver, 0};
    const korval::testing::FloatingPointScope floatingPoint; // as the video completion routine's bracket
    for (std::size_t at = 0, size; at < stream.size(); at += size) {
        size = std::min<std::size_t>(16 * 1023, stream.size() - at); // one transfer
        assembler.feed({stream.data() + at, size});
        assembler.endOfTransfer();
        CollectPacket(&collector, stream.data() + at, static_cast<ULONG>(size));
        CutLongFrame(&collector, static_cast<ULONG>(kWireCutBytes));
    }
    EXPECT_TRUE(driver.size() == 4 && wire == driver) << "the long frame cut: " << wire.size() << " frames on the wire";
}
