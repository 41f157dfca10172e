// Any format a client opens the capture stream with: the open never reads
// past the format, refuses what it does not offer, and an open that succeeds
// closes cleanly and leaves the device able to open again.
//
// Input: 1 flag byte (bit 0: patch an offered format, bits 1-4 which one),
// then either patches, 3 bytes each (2 bytes offset, 1 byte value), or the
// format's own bytes.
#include "fuzz/fuzz_device.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using korval::host::FormatBytes;

// The concrete formats the device answers for its offered ranges.
const std::vector<FormatBytes>& offeredFormats()
{
    static const std::vector<FormatBytes>* formats = [] {
        auto& fuzz = korval::fuzz::fuzzDevice();
        auto* list = new std::vector<FormatBytes>;
        for (const auto& range : fuzz.device->streamFormats(0)) {
            list->push_back(fuzz.device->dataIntersection(0, range).format);
        }
        return list;
    }();
    return *formats;
}

FormatBytes formatFrom(const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t flags = data[0];
    if ((flags & 1) == 0) {
        return FormatBytes{std::vector<std::uint8_t>(data + 1, data + size)};
    }
    const auto& formats = offeredFormats();
    FormatBytes format = formats[((flags >> 1) & 0xF) % formats.size()];
    for (std::size_t i = 1; i + 3 <= size; i += 3) {
        format.bytes[(data[i] | (data[i + 1] << 8)) % format.bytes.size()] = data[i + 2];
    }
    return format;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    auto& fuzz = korval::fuzz::fuzzDevice();
    FormatBytes format = formatFrom(data, size);
    // The class hands over at least a KSDATAFORMAT whose FormatSize it holds.
    if (format.bytes.size() < sizeof(KSDATAFORMAT) || format.header().FormatSize > format.bytes.size()) {
        return 0;
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = fuzz.device->openStream(0, format, &status);
    if (stream == nullptr) {
        return 0;
    }
    if (stream->close() != STATUS_SUCCESS) {
        std::abort();
    }
    return 0;
}
