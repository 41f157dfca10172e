// The file's headers and sections copied to their RVAs in a zeroed image.
#include "host/loader/pe_image.h"

#include <algorithm>
#include <cstring>

namespace korval::host {

std::vector<std::uint8_t> layOutImage(std::span<const std::uint8_t> file, const PeImage& image)
{
    // parsePeHeaders has placed every section inside the image and the file.
    std::vector<std::uint8_t> laidOut(image.sizeOfImage, 0);
    std::memcpy(laidOut.data(), file.data(), std::min<std::size_t>(image.sizeOfHeaders, file.size()));
    for (const PeSection& section : image.sections) {
        if (section.characteristics & kPeSectionUninitialized) {
            continue;
        }
        const std::size_t length = std::min(section.rawSize, section.virtualSize);
        if (length > file.size() - section.rawOffset) {
            throw PeFormatError("section '" + section.name + "' runs past the end of the file");
        }
        std::memcpy(laidOut.data() + section.virtualAddress, file.data() + section.rawOffset, length);
    }
    return laidOut;
}

} // namespace korval::host
