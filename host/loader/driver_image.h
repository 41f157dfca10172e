// A driver file mapped as the I/O manager maps one: its sections at their
// RVAs with their own protections (code and read-only data fault on a
// write), moved away from its image base by its relocations, its imports
// bound by module and name, and its INIT sections freed once the entry point
// has returned. Running the entry point needs a 32-bit build; mapping,
// relocating and binding work in either (the mapping lies below 4 GB).
#pragma once

#include "host/loader/pe_image.h"

#include "platform/Platform.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korval::host {

// What 'korval info' shows of a loaded image.
struct DriverImageFacts {
    std::filesystem::path path;
    std::uint64_t fileSize = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t imageBase = 0;
    std::uint32_t loadBase = 0;
    std::size_t relocationsApplied = 0;
    std::size_t importsBound = 0;
    std::vector<std::string> sectionsDiscarded; // after the entry point returned
};

class DriverImage {
public:
    // Reads, checks, maps, relocates and binds the file; throws PeFormatError
    // whose message names the file and what is wrong with it.
    DriverImage(const std::filesystem::path& path, const ImportResolver& resolve);
    ~DriverImage() = default;
    DriverImage(const DriverImage&) = delete;
    DriverImage& operator=(const DriverImage&) = delete;

    // Calls the entry point (stdcall) with the driver object and the service's
    // registry path, then frees the INIT sections. Only in a 32-bit build;
    // elsewhere it throws PeFormatError.
    NTSTATUS callEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

    // The mapped address of `rva` (tests read and write through it).
    std::uint8_t* at(std::uint32_t rva) const { return base_ + rva; }
    const DriverImageFacts& facts() const { return facts_; }
    const PeImage& headers() const { return image_; }

private:
    void map(const std::vector<std::uint8_t>& laidOut);
    void protectSections();
    void discardInitSections();

    // The pages the image occupies, returned when the image goes (or its constructor fails).
    struct Mapping {
        std::uint8_t* base = nullptr;
        std::size_t length = 0;
        ~Mapping();
    };

    PeImage image_;
    Mapping mapping_;
    std::uint8_t* base_ = nullptr;
    DriverImageFacts facts_;
};

// Binds to the emulated platform's exports (findPlatformExport); an export
// whose address does not fit 32 bits counts as missing.
ImportResolver platformImportResolver();

} // namespace korval::host
