#include "host/loader/driver_image.h"
#include "host/loader/pe_image.h"
#include "host/loader/platform_exports.h"
#include "pe_test_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace korval::host::testing {
namespace {

std::string refusal(const std::vector<std::uint8_t>& file)
{
    try {
        const PeImage image = parsePeHeaders(file);
        checkDriverImage(image);
        auto laidOut = layOutImage(file, image);
        readImports(laidOut, image);
        applyRelocations(laidOut, image, 0x400000);
    } catch (const PeFormatError& error) {
        return error.what();
    }
    return "";
}

TEST(PeImage, ReadsTheHeadersOfADriver)
{
    const auto file = TestImage{}.file();
    const PeImage image = parsePeHeaders(file);
    EXPECT_EQ(image.imageBase, kTestImageBase);
    EXPECT_EQ(image.entryPointRva, kTextRva);
    EXPECT_EQ(image.timeDateStamp, 0x5F000000u);
    EXPECT_EQ(image.checkSum, image.computedCheckSum);
    ASSERT_EQ(image.sections.size(), 4u);
    EXPECT_EQ(image.sections[3].name, ".reloc");
    EXPECT_EQ(refusal(file), "");
}

// Each requirement a driver file must meet, spoiled alone, and the words that name it.
TEST(PeImage, RefusesWhatWindowsRefusesAndSaysWhy)
{
    struct Case {
        const char* expected;
        void (*spoil)(TestImage&);
    };
    const Case cases[] = {
        {"not i386", [](TestImage& t) { t.machine = 0x8664; }},
        {"not native", [](TestImage& t) { t.subsystem = 2; }},
        {"executable 32-bit", [](TestImage& t) { t.characteristics &= ~kPeFileExecutable; }},
        {"relocations are stripped", [](TestImage& t) { t.characteristics |= kPeFileRelocsStripped; }},
        {"relocation kind 10", [](TestImage& t) { t.relocations = {0xA000}; }},
        {"past the end of the image", [](TestImage& t) { t.relocationPage = 0x5000, t.relocations = {0x3FFE}; }},
    };
    for (const Case& c : cases) {
        TestImage image;
        c.spoil(image);
        EXPECT_NE(refusal(image.file()).find(c.expected), std::string::npos) << c.expected << ": "
                                                                             << refusal(image.file());
    }
    auto file = TestImage{}.file();
    file[0x300] ^= 1; // a byte of the headers' padding: only the checksum notices
    EXPECT_NE(refusal(file).find("checksum"), std::string::npos) << refusal(file);
}

// Cut anywhere or with any header byte changed, a file is refused by message, never by a crash.
TEST(PeImage, TruncatedOrSpoiledFilesAreRefusedByMessage)
{
    const auto file = TestImage{}.file();
    for (std::size_t length = 0; length < file.size(); length += 7) {
        EXPECT_NE(refusal({file.begin(), file.begin() + length}), "") << length;
    }
    for (std::size_t at = 0; at < 0x400; ++at) {
        for (std::uint8_t value : {0x00, 0x7F, 0xFF}) {
            auto spoiled = file;
            spoiled[at] = value;
            refusal(spoiled);
        }
    }
}

TEST(PeImage, RelocationsMoveAbsoluteAddressesByTheLoadDistance)
{
    const auto file = TestImage{}.file();
    const PeImage image = parsePeHeaders(file);
    auto laidOut = layOutImage(file, image);
    EXPECT_EQ(applyRelocations(laidOut, image, 0x00410000), 1u);
    const std::uint32_t moved = laidOut[kTextRva + 0x10] | laidOut[kTextRva + 0x11] << 8 |
                                laidOut[kTextRva + 0x12] << 16 | std::uint32_t(laidOut[kTextRva + 0x13]) << 24;
    EXPECT_EQ(moved, 0x00410000u + kDataRva + 4);
}

TEST(PeImage, ImportsBindByModuleAndNameOrTheLoadNamesEveryMissingOne)
{
    TestImage test;
    test.imports = {"DbgPrint", "KeSetEvent", "KeBugCheckEx"};
    const auto file = test.file();
    const PeImage image = parsePeHeaders(file);
    auto laidOut = layOutImage(file, image);
    const auto imports = readImports(laidOut, image);
    ASSERT_EQ(imports.size(), 3u);
    EXPECT_EQ(imports[1].module, "ntoskrnl.exe");
    EXPECT_EQ(imports[1].name, "KeSetEvent");
    EXPECT_EQ(imports[1].slotRva, kSlotRva + 4);
    const ImportResolver some = [](std::string_view, std::string_view name) -> std::optional<std::uint32_t> {
        if (name == "KeBugCheckEx") return std::nullopt;
        return 0x1000u + std::uint32_t(name.size());
    };
    try {
        bindImports(laidOut, imports, some);
        ADD_FAILURE() << "bound an import the platform lacks";
    } catch (const PeFormatError& error) {
        EXPECT_STREQ(error.what(), "the platform does not export ntoskrnl.exe!KeBugCheckEx");
    }
    bindImports(laidOut, {imports[0], imports[1]}, some);
    std::uint32_t bound = 0;
    std::memcpy(&bound, &laidOut[kSlotRva + 4], 4);
    EXPECT_EQ(bound, 0x1000u + 10);
}

class DriverImageTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::vector<std::uint8_t>& bytes)
    {
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path_;
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                  ("korval-image-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sys");
};

const ImportResolver kAnyImport = [](std::string_view, std::string_view) -> std::optional<std::uint32_t> {
    return 0x12345678u;
};

TEST_F(DriverImageTest, MapsAwayFromItsBaseWithTheSectionsProtections)
{
    DriverImage image(write(TestImage{}.file()), kAnyImport);
    const DriverImageFacts& facts = image.facts();
    EXPECT_NE(facts.loadBase, kTestImageBase);
    EXPECT_EQ(facts.relocationsApplied, 1u);
    EXPECT_EQ(facts.importsBound, 2u);
    std::uint32_t moved = 0;
    std::memcpy(&moved, image.at(kTextRva + 0x10), 4);
    EXPECT_EQ(moved, facts.loadBase + kDataRva + 4);
    image.at(kDataRva)[0] = 0x22; // data stays writable
    EXPECT_EQ(image.at(kDataRva)[0], 0x22);
    EXPECT_DEATH(image.at(kTextRva)[0] = 0x90, "");
    EXPECT_DEATH(image.at(kImportRva)[0] = 0x90, "");
}

TEST_F(DriverImageTest, RefusalNamesTheFile)
{
    TestImage test;
    test.subsystem = 3;
    try {
        DriverImage image(write(test.file()), kAnyImport);
        ADD_FAILURE() << "loaded a console program";
    } catch (const PeFormatError& error) {
        EXPECT_NE(std::string(error.what()).find(path_.string() + "' does not load: subsystem 3"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(DriverImage(path_.string() + ".missing", kAnyImport), PeFormatError);
}

#if defined(__i386__)
TEST_F(DriverImageTest, InitSectionsAreGoneOnceTheEntryPointReturns)
{
    TestImage test;
    test.withInit = true;
    DriverImage image(write(test.file()), kAnyImport);
    EXPECT_EQ(image.callEntry(nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(image.facts().sectionsDiscarded, std::vector<std::string>{"INIT"});
    EXPECT_DEATH((void)*static_cast<volatile std::uint8_t*>(image.at(TestImage::kInitRva)), "");
}
#endif

// The image the Windows build made, when there is one: every import bound, every address moved.
TEST(ShippedImage, ChecksBindsAndRelocates)
{
    const std::filesystem::path path = KORVAL_SOURCE_DIR "/build/win32/korval.sys";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << path << " is not built";
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const PeImage image = parsePeHeaders(file);
    checkDriverImage(image);
    auto laidOut = layOutImage(file, image);
    for (const PeImport& import : readImports(laidOut, image)) {
        EXPECT_NE(findPlatformExport(import.module, import.name), nullptr) << import.module << "!" << import.name;
    }
    EXPECT_GT(applyRelocations(laidOut, image, 0x00800000), 1000u);
#if defined(__i386__)
    DriverImage mapped(path, platformImportResolver());
    EXPECT_EQ(mapped.facts().importsBound, readImports(laidOut, image).size());
#endif
}

} // namespace
} // namespace korval::host::testing
