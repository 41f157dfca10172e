// A driver file is outside data: any bytes must either go through every step
// the loader takes before mapping, or be refused with PeFormatError.
#include "host/loader/pe_image.h"

#include <cstddef>
#include <cstdint>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korval::host;
    const std::span<const std::uint8_t> file(data, size);
    try {
        const PeImage image = parsePeHeaders(file);
        std::vector<std::uint8_t> laidOut = layOutImage(file, image);
        const std::vector<PeImport> imports = readImports(laidOut, image);
        applyRelocations(laidOut, image, 0x00400000);
        bindImports(laidOut, imports, [](std::string_view, std::string_view) { return std::optional<std::uint32_t>(1); });
        checkDriverImage(image);
    } catch (const PeFormatError&) {
    }
    return 0;
}
