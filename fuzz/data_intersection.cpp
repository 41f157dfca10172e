// Any range a client proposes for the capture pin, under any "A_64"
// selection: the intersection never reads past the range nor writes past the
// buffer it was given, answers success only with a whole format that fits, and
// the open check of the same bytes stays inside them too.
//
// Input: 1 flag byte (bit 0: the range is a table entry with patches, bits 1-4
// the entry, bit 5: ask for stream 1), 4 bytes "A_64" selection, 2 bytes the
// output buffer size (modulo 320), then either the patches, 3 bytes each
// (2 bytes offset modulo 296, 1 byte value), or the range's own bytes.
#include "driver/AdapterHandlers.h"
#include "stream/StreamFormats.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 7;
constexpr std::uint8_t kGuard = 0xA5;

std::uint32_t le32(const std::uint8_t* bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::vector<std::uint8_t> patchedEntry(std::uint8_t flags, const std::uint8_t* patches, std::size_t size)
{
    const KS_DATARANGE_VIDEO& entry = CaptureFormatTable[((flags >> 1) & 0xF) % CAPTURE_FORMAT_TABLE_SIZE];
    std::vector<std::uint8_t> range(sizeof(entry));
    std::memcpy(range.data(), &entry, sizeof(entry));
    for (std::size_t i = 0; i + 3 <= size; i += 3) {
        range[(patches[i] | (patches[i + 1] << 8)) % sizeof(entry)] = patches[i + 2];
    }
    return range;
}

// The stream class hands over at least a KSDATARANGE and never a FormatSize
// beyond the bytes it holds.
bool asTheClassWould(std::vector<std::uint8_t>& range)
{
    if (range.size() < sizeof(KSDATARANGE)) {
        return false;
    }
    KSDATARANGE header;
    std::memcpy(&header, range.data(), sizeof(header));
    if (header.FormatSize > range.size()) {
        header.FormatSize = static_cast<ULONG>(range.size());
        std::memcpy(range.data(), &header, sizeof(header));
    }
    return true;
}

void checkAnswer(const HW_STREAM_REQUEST_BLOCK& srb, const std::uint8_t* output, ULONG claimed, std::size_t capacity)
{
    const std::size_t written = srb.Status == STATUS_SUCCESS ? srb.ActualBytesTransferred : 0;
    if (srb.Status == STATUS_SUCCESS) {
        KSDATAFORMAT header;
        std::memcpy(&header, output, sizeof(header));
        if (written > claimed || written != sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) || header.FormatSize != written) {
            std::abort();
        }
    }
    for (std::size_t i = written; i < capacity; ++i) {
        if (output[i] != kGuard) {
            std::abort(); // a failure, or a success beyond its answer, wrote into the buffer
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderBytes) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    SelectCaptureFormats(le32(data + 1));
    const ULONG claimed = (data[5] | (data[6] << 8)) % 320;
    std::vector<std::uint8_t> range = (flags & 1) != 0
                                          ? patchedEntry(flags, data + kHeaderBytes, size - kHeaderBytes)
                                          : std::vector<std::uint8_t>(data + kHeaderBytes, data + size);
    if (!asTheClassWould(range)) {
        return 0;
    }
    // Exact-size copies, so that a read or write past either is a sanitizer error.
    auto proposed = std::make_unique<std::uint8_t[]>(range.size());
    std::memcpy(proposed.get(), range.data(), range.size());
    auto format = std::make_unique<std::uint8_t[]>(range.size());
    std::memcpy(format.get(), range.data(), range.size());
    std::vector<std::uint8_t> output(claimed, kGuard);

    STREAM_DATA_INTERSECT_INFO info{(flags & 0x20) != 0 ? 1u : 0u, reinterpret_cast<PKSDATARANGE>(proposed.get()),
                                    output.data(), claimed};
    HW_STREAM_REQUEST_BLOCK srb{};
    srb.Command = SRB_GET_DATA_INTERSECTION;
    srb.CommandData.IntersectInfo = &info;
    srb.NumberOfBytesToTransfer = claimed;
    srb.Status = GetDataIntersection(&srb);
    checkAnswer(srb, output.data(), claimed, output.size());

    IsOfferedCaptureFormat(reinterpret_cast<const KSDATAFORMAT*>(format.get()));
    return 0;
}
