#include "host/loader/driver_image.h"
#include "host/loader/platform_exports.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace korval::host {
namespace {

constexpr std::size_t kPage = 4096;

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw PeFormatError("cannot read '" + path.string() + "'");
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int protectionOf(std::uint32_t characteristics)
{
    int protection = 0;
    if (characteristics & kPeSectionRead) {
        protection |= PROT_READ;
    }
    if (characteristics & kPeSectionWrite) {
        protection |= PROT_WRITE | PROT_READ;
    }
    if (characteristics & kPeSectionExecute) {
        protection |= PROT_EXEC | PROT_READ;
    }
    return protection;
}

std::size_t pagesOf(std::size_t bytes)
{
    return (bytes + kPage - 1) / kPage;
}

} // namespace

DriverImage::DriverImage(const std::filesystem::path& path, const ImportResolver& resolve)
{
    facts_.path = path;
    try {
        const std::vector<std::uint8_t> file = readFile(path);
        image_ = parsePeHeaders(file);
        checkDriverImage(image_);
        std::vector<std::uint8_t> laidOut = layOutImage(file, image_);
        const std::vector<PeImport> imports = readImports(laidOut, image_);
        map(laidOut);
        std::span<std::uint8_t> mapped(base_, image_.sizeOfImage);
        facts_.relocationsApplied = applyRelocations(mapped, image_, facts_.loadBase);
        bindImports(mapped, imports, resolve);
        protectSections();
        facts_.fileSize = file.size();
        facts_.timeDateStamp = image_.timeDateStamp;
        facts_.checkSum = image_.checkSum;
        facts_.imageBase = image_.imageBase;
        facts_.importsBound = imports.size();
    } catch (const PeFormatError& error) {
        throw PeFormatError("'" + path.string() + "' does not load: " + error.what());
    }
}

DriverImage::Mapping::~Mapping()
{
    if (base != nullptr) {
        munmap(base, length);
    }
}

void DriverImage::map(const std::vector<std::uint8_t>& laidOut)
{
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(__x86_64__)
    flags |= MAP_32BIT; // the image's addresses are 32 bits wide
#endif
    void* mapped = mmap(nullptr, pagesOf(image_.sizeOfImage) * kPage, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (mapped == MAP_FAILED) {
        throw PeFormatError(std::string("no memory for the image: ") + std::strerror(errno));
    }
    mapping_.base = static_cast<std::uint8_t*>(mapped);
    mapping_.length = pagesOf(image_.sizeOfImage) * kPage;
    base_ = mapping_.base;
    facts_.loadBase = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(base_));
    std::memcpy(base_, laidOut.data(), laidOut.size());
}

// Each page gets the protections of the sections on it; headers and gaps read only.
void DriverImage::protectSections()
{
    constexpr int kUntouched = -1;
    std::vector<int> pages(pagesOf(image_.sizeOfImage), kUntouched);
    for (const PeSection& section : image_.sections) {
        const std::size_t end = pagesOf(std::size_t(section.virtualAddress) + section.virtualSize);
        for (std::size_t page = section.virtualAddress / kPage; page < end; ++page) {
            // A page shared by two sections (alignment below a page) allows what either needs.
            pages[page] = (pages[page] == kUntouched ? 0 : pages[page]) | protectionOf(section.characteristics);
        }
    }
    for (std::size_t page = 0; page < pages.size(); ++page) {
        const int protection = pages[page] == kUntouched ? PROT_READ : pages[page];
        if (mprotect(base_ + page * kPage, kPage, protection) != 0) {
            throw PeFormatError(std::string("cannot protect the image: ") + std::strerror(errno));
        }
    }
}

// Windows frees INIT sections after the entry point; no access at all makes a later use fault.
void DriverImage::discardInitSections()
{
    for (const PeSection& section : image_.sections) {
        if (!section.discardedAfterEntry()) {
            continue;
        }
        const std::size_t first = section.virtualAddress / kPage;
        const std::size_t end = pagesOf(std::size_t(section.virtualAddress) + section.virtualSize);
        mprotect(base_ + first * kPage, (end - first) * kPage, PROT_NONE);
        facts_.sectionsDiscarded.push_back(section.name);
    }
}

NTSTATUS DriverImage::callEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
#if defined(__i386__)
    using Entry = NTSTATUS(__attribute__((stdcall)) *)(PDRIVER_OBJECT, PUNICODE_STRING);
    const auto entry = reinterpret_cast<Entry>(at(image_.entryPointRva));
    const NTSTATUS status = entry(driverObject, registryPath);
    discardInitSections();
    return status;
#else
    (void)driverObject;
    (void)registryPath;
    throw PeFormatError("'" + facts_.path.string() + "' is 32-bit x86 code: only the 32-bit korval runs it");
#endif
}

ImportResolver platformImportResolver()
{
    return [](std::string_view module, std::string_view name) -> std::optional<std::uint32_t> {
        const PlatformExport* found = findPlatformExport(module, name);
        if (found == nullptr) {
            return std::nullopt;
        }
        const auto address = reinterpret_cast<std::uintptr_t>(found->address);
        if (address > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(address);
    };
}

} // namespace korval::host
