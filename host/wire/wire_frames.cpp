#include "host/wire/wire_frames.h"

#include "stream/CaptureStream.h"
#include "usb/CUsbCamera.h"

namespace korval::host {

static_assert(kLargestWireFrame >= RAW_FRAME_MIN_BYTES && kLargestWireFrame == 352 * 288 + RAW_FRAME_SLACK,
              "the assembler's buffer must be as large as the driver's for the camera's frame");
static_assert(kWireCutBytes == RAW_FRAME_CUT_BYTES, "frames are cut where the driver cuts them");
static_assert(kWideMarkerSkip == MARKER_SKIP_BYTES_LARGE && kNarrowMarkerSkip == MARKER_SKIP_BYTES_SMALL,
              "the blind copy is as long as the driver's");

WireFrameAssembler::WireFrameAssembler(FrameHandler handler)
    : handler_(std::move(handler)), buffer_(kLargestWireFrame)
{
    collector_.pEnd = buffer_.data() + buffer_.size();
    collector_.ulSkipBytes = kWideMarkerSkip;
    collector_.pHandOver = &WireFrameAssembler::handOver;
    collector_.pHandOverContext = this;
    reset();
}

void WireFrameAssembler::feed(std::span<const std::uint8_t> packet)
{
    CollectPacketReference(&collector_, packet.data(), static_cast<ULONG>(packet.size()));
}

void WireFrameAssembler::endOfTransfer()
{
    CutLongFrame(&collector_, RAW_FRAME_CUT_BYTES);
}

void WireFrameAssembler::reset()
{
    collector_.pBuffer = buffer_.data();
    collector_.pWrite = buffer_.data();
    collector_.ulLength = 0;
    collector_.ucState = COLLECT_SEARCH;
    collector_.ucFrameOpen = 0;
    collector_.ucFrameCut = 0;
}

void WireFrameAssembler::handOver(void* context, const std::uint8_t* frame, ULONG length)
{
    auto* self = static_cast<WireFrameAssembler*>(context);
    if (self->handler_) {
        self->handler_(std::vector<std::uint8_t>(frame, frame + length));
    }
}

} // namespace korval::host
