// Which driver a command runs: the one built into korval, or a korval.sys
// file (--driver) loaded as Windows loads it; and the built-in driver's pixel
// path (--pixel-path). Every command that talks to the driver declares both
// options, and every place that loads the driver loads it through DriverLoader.
#pragma once

#include "host/loader/driver_image.h"

#include "platform/Platform.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace korval::tools {

struct DriverChoice {
    std::filesystem::path image; // empty: the built-in driver
    std::string pixelPath = "auto"; // auto, avx2, sse2 or plain
};

// The choice of the command being run (set while its options are parsed).
DriverChoice& chosenDriver();

// The commands that load the driver, and so take --driver and --pixel-path.
bool commandLoadsDriver(std::string_view command);

// Declares --driver and --pixel-path on `app`, bound to chosenDriver(), reset to the defaults.
void declareDriverOptions(CLI::App& app);

// Nothing when the choice can be run; otherwise the message naming the option at fault.
std::optional<std::string> driverChoiceProblem(const DriverChoice& choice);

// `korval --driver FILE capture ...` is `korval capture --driver FILE ...`: the
// driver options given before the command move behind its name.
std::vector<std::string> driverOptionsAfterCommand(const std::vector<std::string>& args);

// Whether this korval runs Windows images itself (the 32-bit build does).
constexpr bool kRunsDriverImages = sizeof(void*) == 4;

// Loads the chosen driver into a driver object: DriverEntry of the built-in
// driver on the chosen pixel path, or the image mapped and its entry point
// called. Throws SessionError when the image cannot load. The image stays
// mapped as long as the loader lives.
class DriverLoader {
public:
    NTSTATUS load(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
    const host::DriverImage* image() const { return image_.get(); }
    // The pixel path the loaded driver chose ("SSE2"), as it reports it.
    std::string pixelPath() const;

private:
    std::unique_ptr<host::DriverImage> image_;
};

// The 64-bit korval hands a command with --driver to the 32-bit one, directly
// or under qemu-i386-static; returns only when neither can be started, with
// the exit status of the message it wrote to `err`.
int runThirtyTwoBitKorval(const std::vector<std::string>& args, std::ostream& err);
bool namesDriverImage(const std::vector<std::string>& args);

} // namespace korval::tools
