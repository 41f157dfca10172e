#include "support/floating_point_scope.h"
#include "host/wire/wire_frames.h"
#include "usb/FrameCollector.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korval::host {
namespace {

// A frame's start on the wire: the marker and a header of ten `tag` bytes.
std::vector<std::uint8_t> start(std::uint8_t tag)
{
    std::vector<std::uint8_t> bytes(sizeof(kWireFrameMarker) + kWireHeaderBytes, tag);
    std::copy(std::begin(kWireFrameMarker), std::end(kWireFrameMarker), bytes.begin());
    return bytes;
}

using Handed = std::vector<std::pair<std::size_t, std::size_t>>;

// Feeds the wire in transfers of 16 packets of 1023 bytes: each frame handed
// over as the transfer it came in and its length.
Handed assemble(const std::vector<std::vector<std::uint8_t>>& pieces)
{
    std::vector<std::uint8_t> wire;
    for (const auto& piece : pieces) {
        wire.insert(wire.end(), piece.begin(), piece.end());
    }
    Handed handed;
    std::size_t transfer = 0;
    WireFrameAssembler assembler([&](std::vector<std::uint8_t>&& frame) { handed.emplace_back(transfer, frame.size()); });
    for (std::size_t at = 0; at < wire.size(); at += 16 * 1023, ++transfer) {
        for (std::size_t packet = at; packet < std::min(wire.size(), at + 16 * 1023); packet += 1023) {
            assembler.feed(std::span(wire).subspan(packet, std::min<std::size_t>(1023, wire.size() - packet)));
        }
        assembler.endOfTransfer();
    }
    return handed;
}

// The frames the driver hands over, and in which transfer: a frame that
// reached the cut length by a transfer's end ends with the next byte, and the
// next marker only opens a frame; a marker inside the blind copy is body.
TEST(WireFrameAssemblerTest, HandsOverWhatTheDriverHandsOverWhenItDoes)
{
    const std::vector<std::uint8_t> body(30000, 0x11), longBody(120000, 0x22), shortBody(1000, 0x33);
    EXPECT_EQ(assemble({start(1), body, start(2), body, start(3)}), (Handed{{1, 30020}, {3, 30020}}));
    // Seven transfers hold 114576 bytes of the wire, the marker not kept.
    EXPECT_EQ(assemble({start(1), longBody, start(2), body, start(3)}), (Handed{{7, 114571}, {9, 30020}}));
    EXPECT_EQ(assemble({start(1), shortBody, start(2), body, start(3)}), (Handed{{1, 10 + 1000 + 16 + 30000 + 10}}));
}

// The pacer waits for the frames the driver's collector hands over, a frame cut as too long included
// (here at the end of its last transfer: the next byte, which ends the cut, begins the next marker).
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

} // namespace
} // namespace korval::host
