// A 32-bit Windows driver file (PE32) read as the I/O manager reads it: the
// headers, the section table, the imports and the base relocations. Every
// offset and RVA in the file is checked before it is followed, so a truncated
// or hostile file gives a PeFormatError naming what is wrong, never a crash.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korval::host {

class PeFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::uint16_t kPeMachineI386 = 0x014C;
constexpr std::uint16_t kPeSubsystemNative = 1;
constexpr std::uint16_t kPeFileRelocsStripped = 0x0001;
constexpr std::uint16_t kPeFileExecutable = 0x0002;
constexpr std::uint16_t kPeFile32BitMachine = 0x0100;

constexpr std::uint32_t kPeSectionExecute = 0x20000000;
constexpr std::uint32_t kPeSectionRead = 0x40000000;
constexpr std::uint32_t kPeSectionWrite = 0x80000000;
constexpr std::uint32_t kPeSectionDiscardable = 0x02000000;
constexpr std::uint32_t kPeSectionUninitialized = 0x00000080;

struct PeSection {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0; // the raw size when the file gives none
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0;

    // INIT code and data serve the entry point only; the loader frees them once it returns.
    bool discardedAfterEntry() const;
};

// One import by name, and the RVA of the address slot it binds.
struct PeImport {
    std::string module;
    std::string name;
    std::uint32_t slotRva = 0;
};

struct PeImage {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t subsystem = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t checkSum = 0;        // as the header records it
    std::uint32_t computedCheckSum = 0; // as the file's bytes give it
    std::uint32_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t entryPointRva = 0;
    std::uint32_t importDirectoryRva = 0;
    std::uint32_t importDirectorySize = 0;
    std::uint32_t relocationDirectoryRva = 0;
    std::uint32_t relocationDirectorySize = 0;
    std::vector<PeSection> sections;
};

// Headers and section table of `file`; throws PeFormatError.
PeImage parsePeHeaders(std::span<const std::uint8_t> file);

// What Windows requires of a driver before it maps one: i386, native
// subsystem, an executable image that keeps its relocations, a checksum that
// matches. Throws PeFormatError naming the first requirement not met.
void checkDriverImage(const PeImage& image);

// The PE checksum of `file`: the 16-bit folded sum of its words without the
// checksum field, plus the file's length.
std::uint32_t peCheckSum(std::span<const std::uint8_t> file);

// The image as memory holds it: SizeOfImage bytes, the headers and each
// section's file data at its RVA, zero elsewhere.
std::vector<std::uint8_t> layOutImage(std::span<const std::uint8_t> file, const PeImage& image);

// The imports by name, read from a laid-out image. Throws PeFormatError on an
// import by ordinal or a descriptor, name or slot outside the image.
std::vector<PeImport> readImports(std::span<const std::uint8_t> laidOut, const PeImage& image);

// Applies the base relocations of a laid-out image for a load at `loadBase`;
// returns how many addresses were moved. Throws PeFormatError on a block or
// target outside the image or a relocation kind a 32-bit image cannot have.
std::size_t applyRelocations(std::span<std::uint8_t> laidOut, const PeImage& image, std::uint32_t loadBase);

// The address an import binds to, or none when the platform lacks it.
using ImportResolver = std::function<std::optional<std::uint32_t>(std::string_view module, std::string_view name)>;

// Writes every import's address into its slot. Throws PeFormatError naming
// every import the resolver lacks, as Windows refuses a driver it cannot bind.
void bindImports(std::span<std::uint8_t> laidOut, const std::vector<PeImport>& imports, const ImportResolver& resolve);

} // namespace korval::host
