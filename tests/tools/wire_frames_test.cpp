#include "tools/korval/wire_frames.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace korval::tools {
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
        assembler.endTransfer();
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

} // namespace
} // namespace korval::tools
