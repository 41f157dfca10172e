// Any byte string given to FrameDecoder::Process: a verdict, never a crash, a
// read outside the body or a write beyond the frame. The first two bytes pick
// the frame size (small frames reach every line kind and the repair quickly);
// the rest is the body, in a buffer of exactly its length.
#include "decoder/FrameDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

void checkRecords(const tagSDecompressionFrame& frame, ULONG height, bool accepted)
{
    if (!accepted) {
        if (frame.ulDroppedLines != height) {
            std::abort();
        }
        return;
    }
    const ULONG counted = frame.ulRawLines + frame.ulStep5Lines + frame.ulStep9Lines + frame.ulStep17Lines +
                          frame.ulDroppedLines;
    if (counted != height || frame.aulReserved[0] != 0) {
        std::abort();
    }
    for (ULONG y = 0; y < height; y++) {
        if (frame.psLines[y].ucKind == DECOMPRESSION_KIND_NONE) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return 0;
    }
    const ULONG width = data[0] == 0xFF ? 352 : 1 + data[0] % 48;
    const ULONG height = data[1] == 0xFF ? 288 : 1 + data[1] % 12;
    const std::size_t bodyLength = size - 2;
    std::unique_ptr<std::uint8_t[]> body(new std::uint8_t[bodyLength]);
    std::memcpy(body.get(), data + 2, bodyLength);

    // One open decoder per frame size, so that the tables are built once.
    static std::map<std::pair<ULONG, ULONG>, std::unique_ptr<FrameDecoder>> decoders;
    std::unique_ptr<FrameDecoder>& slot = decoders[{width, height}];
    if (!slot) {
        slot.reset(new FrameDecoder);
        slot->Open(width, height, 8);
    }
    FrameDecoder& decoder = *slot;
    const std::size_t frameSize = static_cast<std::size_t>(width) * height;
    std::unique_ptr<std::uint8_t[]> output(new std::uint8_t[frameSize]);
    std::memset(output.get(), 0xA5, frameSize);
    std::unique_ptr<std::uint8_t[]> plainOutput(new std::uint8_t[frameSize]);
    std::memcpy(plainOutput.get(), output.get(), frameSize);
    std::vector<tagSDecompressionInformation> lines(height);
    tagSDecompressionFrame frame{lines.data(), height, 0, 0, 0, 0, 0, {}, output.get()};

    const bool accepted = decoder.Process(body.get(), static_cast<ULONG>(bodyLength), static_cast<ULONG>(frameSize), &frame);
    checkRecords(frame, height, accepted);

    // The plain reader must agree on everything.
    std::vector<tagSDecompressionInformation> plainLines(height);
    tagSDecompressionFrame plainFrame{plainLines.data(), height, 0, 0, 0, 0, 0, {}, plainOutput.get()};
    const bool plainAccepted =
        decoder.ProcessReference(body.get(), static_cast<ULONG>(bodyLength), static_cast<ULONG>(frameSize), &plainFrame);
    if (plainAccepted != accepted || std::memcmp(plainOutput.get(), output.get(), frameSize) != 0 ||
        std::memcmp(plainLines.data(), lines.data(), sizeof(tagSDecompressionInformation) * height) != 0) {
        std::abort();
    }
    return 0;
}
