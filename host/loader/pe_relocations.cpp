// Base relocations: blocks of 12-bit offsets under a page RVA; each
// HIGHLOW entry names a 32-bit address that moves with the image.
#include "host/loader/pe_bytes.h"
#include "host/loader/pe_image.h"

namespace korval::host {
namespace {

constexpr unsigned kRelocationAbsolute = 0;
constexpr unsigned kRelocationHighLow = 3;
constexpr std::uint32_t kBlockHeaderSize = 8;

struct BlockApplied {
    std::size_t size;
    std::size_t moved;
};

BlockApplied applyBlock(std::span<std::uint8_t> laidOut, std::size_t block, std::size_t end, std::uint32_t delta)
{
    const PeBytes bytes(laidOut, "the image");
    const std::uint32_t page = bytes.u32(block);
    const std::uint32_t blockSize = bytes.u32(block + 4);
    if (blockSize < kBlockHeaderSize || blockSize % 2 != 0 || block + blockSize > end) {
        throw PeFormatError("relocation block at RVA " + std::to_string(block) + " has impossible size " +
                            std::to_string(blockSize));
    }
    std::size_t moved = 0;
    for (std::size_t entry = block + kBlockHeaderSize; entry < block + blockSize; entry += 2) {
        const std::uint16_t word = bytes.u16(entry);
        const unsigned kind = word >> 12;
        if (kind == kRelocationAbsolute) {
            continue;
        }
        if (kind != kRelocationHighLow) {
            throw PeFormatError("relocation kind " + std::to_string(kind) + " has no meaning in a 32-bit image");
        }
        const std::size_t target = std::size_t(page) + (word & 0x0FFF);
        storeU32(laidOut, target, bytes.u32(target) + delta); // u32 checks the target
        ++moved;
    }
    return {blockSize, moved};
}

} // namespace

std::size_t applyRelocations(std::span<std::uint8_t> laidOut, const PeImage& image, std::uint32_t loadBase)
{
    const PeBytes bytes(laidOut, "the image");
    if (!bytes.holds(image.relocationDirectoryRva, image.relocationDirectorySize)) {
        throw PeFormatError("the relocation directory lies outside the image");
    }
    const std::uint32_t delta = loadBase - image.imageBase;
    std::size_t moved = 0;
    std::size_t block = image.relocationDirectoryRva;
    const std::size_t end = block + image.relocationDirectorySize;
    while (block + kBlockHeaderSize <= end) {
        const BlockApplied applied = applyBlock(laidOut, block, end, delta);
        moved += applied.moved;
        block += applied.size;
    }
    return moved;
}

} // namespace korval::host
