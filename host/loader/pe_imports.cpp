// The import directory: one descriptor per module, each with a zero-ended
// list of name entries and the address slots the loader fills.
#include "host/loader/pe_bytes.h"
#include "host/loader/pe_image.h"

namespace korval::host {
namespace {

constexpr std::size_t kDescriptorSize = 20;
constexpr std::size_t kNameLimit = 256;
constexpr std::uint32_t kByOrdinal = 0x80000000u;
// More than any driver needs; a hostile list without its zero ends here.
constexpr std::size_t kImportLimit = 4096;

void readModule(PeBytes bytes, std::size_t descriptor, std::vector<PeImport>& imports)
{
    const std::uint32_t lookup = bytes.u32(descriptor);
    const std::string module = bytes.text(bytes.u32(descriptor + 12), kNameLimit);
    const std::uint32_t slots = bytes.u32(descriptor + 16);
    // Without a lookup list the slots hold the names until they are bound.
    const std::uint32_t names = lookup != 0 ? lookup : slots;
    for (std::size_t i = 0;; ++i) {
        if (imports.size() == kImportLimit) {
            throw PeFormatError("more than " + std::to_string(kImportLimit) + " imports");
        }
        const std::uint32_t entry = bytes.u32(names + 4 * i);
        if (entry == 0) {
            return;
        }
        if (entry & kByOrdinal) {
            throw PeFormatError("import " + std::to_string(entry & 0xFFFF) + " from " + module +
                                " is by ordinal; the platform binds by name only");
        }
        const std::uint32_t slot = slots + 4 * std::uint32_t(i);
        bytes.u32(slot); // the slot must lie in the image too
        imports.push_back({module, bytes.text(std::size_t(entry) + 2, kNameLimit), slot});
    }
}

} // namespace

std::vector<PeImport> readImports(std::span<const std::uint8_t> laidOut, const PeImage& image)
{
    const PeBytes bytes(laidOut, "the image");
    std::vector<PeImport> imports;
    if (image.importDirectoryRva == 0) {
        return imports;
    }
    for (std::size_t descriptor = image.importDirectoryRva;; descriptor += kDescriptorSize) {
        if (bytes.u32(descriptor + 12) == 0 && bytes.u32(descriptor + 16) == 0) {
            return imports;
        }
        readModule(bytes, descriptor, imports);
    }
}

void bindImports(std::span<std::uint8_t> laidOut, const std::vector<PeImport>& imports, const ImportResolver& resolve)
{
    std::string missing;
    for (const PeImport& import : imports) {
        if (!resolve(import.module, import.name)) {
            missing += (missing.empty() ? "" : ", ") + import.module + "!" + import.name;
        }
    }
    if (!missing.empty()) {
        throw PeFormatError("the platform does not export " + missing);
    }
    const PeBytes bytes(laidOut, "the image");
    for (const PeImport& import : imports) {
        bytes.u32(import.slotRva);
        storeU32(laidOut, import.slotRva, *resolve(import.module, import.name));
    }
}

} // namespace korval::host
