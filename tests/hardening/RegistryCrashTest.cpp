// The registry file under crashes: a process that keeps saving the registry
// is killed at random moments; the file is then always one whole version the
// writer saved (the old or the new one), never a mix or a cut.
#include "hardening/Campaign.h"

#include "host/kernel/registry.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korval::hardening {
namespace {

using host::Registry;
using host::RegistryValue;

constexpr const char* kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korval\\Crash";
constexpr std::size_t kBlobBytes = 48 * 1024; // a file of ~150 KB: each save takes many writes

// One version in one value: its number in the first four bytes, then bytes
// that follow from it.
RegistryValue blobOf(std::uint32_t version)
{
    std::vector<std::uint8_t> bytes(kBlobBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = i < 4 ? static_cast<std::uint8_t>(version >> (8 * i)) : static_cast<std::uint8_t>(version * 7 + i);
    }
    return RegistryValue::binary(bytes);
}

// Saves version after version until killed; never returns.
[[noreturn]] void writeForEver(const std::filesystem::path& file, std::uint32_t first)
{
    Registry registry;
    registry.attachFile(file);
    for (std::uint32_t version = first;; ++version) {
        registry.setValue(kKey, "Blob", blobOf(version)); // each change is saved
    }
}

// The version the file holds when it is whole and consistent; otherwise a failure.
std::optional<std::uint32_t> wholeVersion(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Registry registry;
    try {
        registry.importText(text.str(), file.string());
    } catch (const host::RegistryFormatError& error) {
        ADD_FAILURE() << "half a registry file: " << error.what();
        return std::nullopt;
    }
    const auto blob = registry.value(kKey, "Blob");
    if (!blob || blob->data.size() != kBlobBytes) {
        ADD_FAILURE() << "the value is missing or cut in the registry file";
        return std::nullopt;
    }
    const std::uint32_t v = blob->data[0] | blob->data[1] << 8 | blob->data[2] << 16 |
                            static_cast<std::uint32_t>(blob->data[3]) << 24;
    if (blob->data != blobOf(v).data) {
        ADD_FAILURE() << "the value belongs to no saved version";
        return std::nullopt;
    }
    return v;
}

TEST(RegistryCrashTest, AKilledWriterLeavesTheOldOrTheNewFile)
{
    const auto directory = std::filesystem::temp_directory_path() / ("korval-crash-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    const auto file = directory / "registry.reg";
    {
        Registry seed;
        seed.attachFile(file);
        seed.setValue(kKey, "Blob", blobOf(1));
    }
    std::mt19937 random(campaignSeed());
    const int trials = campaignSize(20, 1000);
    std::uint32_t version = 1;
    for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            writeForEver(file, version + 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        const auto found = wholeVersion(file);
        ASSERT_TRUE(found) << "trial " << trial;
        EXPECT_GE(*found, version) << "trial " << trial << ": an older file came back";
        version = *found;
    }
    RecordProperty("trials", trials);
    RecordProperty("versions", static_cast<int>(version));
    std::printf("%d kills, %u versions saved\n", trials, version);
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace korval::hardening
