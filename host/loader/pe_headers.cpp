// The DOS stub's pointer, the file header, the PE32 optional header and the
// section table, each read only after its extent is known to be in the file.
#include "host/loader/pe_image.h"
#include "host/loader/pe_bytes.h"

#include <cstdio>

namespace korval::host {
namespace {

constexpr std::uint32_t kPe32Magic = 0x010B;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kOptionalHeaderMinimum = 96 + 16 * 8;
constexpr std::uint32_t kMaxSections = 96;
constexpr std::uint32_t kMaxImageSize = 64u << 20;

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

std::string sectionName(PeBytes bytes, std::size_t offset)
{
    std::string name;
    for (std::size_t i = 0; i < 8; ++i) {
        const char c = static_cast<char>(bytes.u8(offset + i));
        if (c == '\0') {
            break;
        }
        name += c;
    }
    return name;
}

PeSection readSection(PeBytes bytes, std::size_t offset)
{
    PeSection section;
    section.name = sectionName(bytes, offset);
    section.virtualSize = bytes.u32(offset + 8);
    section.virtualAddress = bytes.u32(offset + 12);
    section.rawSize = bytes.u32(offset + 16);
    section.rawOffset = bytes.u32(offset + 20);
    section.characteristics = bytes.u32(offset + 36);
    if (section.virtualSize == 0) {
        section.virtualSize = section.rawSize;
    }
    return section;
}

void checkSectionPlace(const PeSection& section, const PeImage& image, std::size_t fileSize)
{
    const std::uint64_t end = std::uint64_t(section.virtualAddress) + section.virtualSize;
    if (section.virtualAddress < image.sizeOfHeaders || end > image.sizeOfImage) {
        throw PeFormatError("section '" + section.name + "' at RVA " + hex(section.virtualAddress) +
                            " lies outside the image of " + hex(image.sizeOfImage) + " bytes");
    }
    const std::uint64_t rawEnd = std::uint64_t(section.rawOffset) + section.rawSize;
    if ((section.characteristics & kPeSectionUninitialized) == 0 && rawEnd > fileSize) {
        throw PeFormatError("section '" + section.name + "' claims file bytes up to " + hex(std::uint32_t(rawEnd)) +
                            " of a file of " + hex(std::uint32_t(fileSize)));
    }
}

void readOptionalHeader(PeBytes bytes, std::size_t offset, std::uint32_t size, PeImage& image)
{
    if (size < kOptionalHeaderMinimum || bytes.u16(offset) != kPe32Magic) {
        throw PeFormatError("not a PE32 (32-bit) optional header");
    }
    image.entryPointRva = bytes.u32(offset + 16);
    image.imageBase = bytes.u32(offset + 28);
    image.sizeOfImage = bytes.u32(offset + 56);
    image.sizeOfHeaders = bytes.u32(offset + 60);
    image.checkSum = bytes.u32(offset + 64);
    image.subsystem = bytes.u16(offset + 68);
    const std::uint32_t directories = bytes.u32(offset + 92);
    if (directories > 1) {
        image.importDirectoryRva = bytes.u32(offset + 96 + 8);
        image.importDirectorySize = bytes.u32(offset + 96 + 12);
    }
    if (directories > 5) {
        image.relocationDirectoryRva = bytes.u32(offset + 96 + 40);
        image.relocationDirectorySize = bytes.u32(offset + 96 + 44);
    }
    if (image.sizeOfImage == 0 || image.sizeOfImage > kMaxImageSize || image.sizeOfHeaders > image.sizeOfImage ||
        image.sizeOfHeaders > bytes.size()) {
        throw PeFormatError("image size " + hex(image.sizeOfImage) + " or header size " + hex(image.sizeOfHeaders) +
                            " is impossible");
    }
}

} // namespace

bool PeSection::discardedAfterEntry() const
{
    return name.rfind("INIT", 0) == 0;
}

PeImage parsePeHeaders(std::span<const std::uint8_t> file)
{
    const PeBytes bytes(file, "the file");
    if (bytes.size() < 64 || bytes.u16(0) != 0x5A4D) {
        throw PeFormatError("no MZ header: not a Windows image");
    }
    const std::uint32_t peOffset = bytes.u32(60);
    if (bytes.u32(peOffset) != 0x00004550) {
        throw PeFormatError("no PE signature at offset " + hex(peOffset));
    }
    PeImage image;
    const std::size_t fileHeader = std::size_t(peOffset) + 4;
    image.machine = bytes.u16(fileHeader);
    const std::uint32_t sectionCount = bytes.u16(fileHeader + 2);
    image.timeDateStamp = bytes.u32(fileHeader + 4);
    const std::uint32_t optionalSize = bytes.u16(fileHeader + 16);
    image.characteristics = bytes.u16(fileHeader + 18);
    const std::size_t optionalHeader = fileHeader + kFileHeaderSize;
    readOptionalHeader(bytes, optionalHeader, optionalSize, image);
    if (sectionCount == 0 || sectionCount > kMaxSections) {
        throw PeFormatError("impossible section count " + std::to_string(sectionCount));
    }
    const std::size_t table = optionalHeader + optionalSize;
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        image.sections.push_back(readSection(bytes, table + i * kSectionHeaderSize));
        checkSectionPlace(image.sections.back(), image, bytes.size());
    }
    image.computedCheckSum = peCheckSum(file);
    return image;
}

void checkDriverImage(const PeImage& image)
{
    if (image.machine != kPeMachineI386) {
        throw PeFormatError("machine " + hex(image.machine) + " is not i386 (0x14C)");
    }
    if (image.subsystem != kPeSubsystemNative) {
        throw PeFormatError("subsystem " + std::to_string(image.subsystem) + " is not native (1): not a driver");
    }
    const std::uint16_t required = kPeFileExecutable | kPeFile32BitMachine;
    if ((image.characteristics & required) != required) {
        throw PeFormatError("characteristics " + hex(image.characteristics) +
                            " do not mark an executable 32-bit image");
    }
    if (image.characteristics & kPeFileRelocsStripped) {
        throw PeFormatError("the relocations are stripped: the image cannot load away from its base");
    }
    if (image.checkSum != image.computedCheckSum) {
        throw PeFormatError("checksum " + hex(image.checkSum) + " does not match the file's " +
                            hex(image.computedCheckSum));
    }
    if (image.entryPointRva == 0 || image.entryPointRva >= image.sizeOfImage) {
        throw PeFormatError("entry point RVA " + hex(image.entryPointRva) + " lies outside the image");
    }
}

std::uint32_t peCheckSum(std::span<const std::uint8_t> file)
{
    const PeBytes bytes(file, "the file");
    const std::size_t field = bytes.size() >= 64 ? std::size_t(bytes.u32(60)) + 4 + kFileHeaderSize + 64 : 0;
    std::uint64_t sum = 0;
    for (std::size_t offset = 0; offset < file.size(); offset += 2) {
        if (offset >= field && offset < field + 4) {
            continue;
        }
        const std::uint32_t word = file[offset] | (offset + 1 < file.size() ? file[offset + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

} // namespace korval::host
