#include "tools/korval/registry_defaults.h"

#include <cstdint>
#include <string>

namespace korval::tools {
namespace {

// All five sizes, 352x288 first; alternate setting 8 to start the bandwidth
// search from; 30 frames per second (the driver derives its frame interval
// from it, so it must not be 0); then the published property defaults.
constexpr RegistryDefault kDefaults[] = {
    {64, 0x00432105}, {113, 8}, {135, 30},
    {77, 255}, {79, 0}, {81, 0}, {83, 160}, {85, 4}, {87, 70}, {89, 1}, // VIDEOPROCAMP
    {95, 1}, {97, 100},                                                 // exposure: auto, target
    {109, 60}, {119, 128}, {121, 128}, {123, 128},                      // mains, manual gains
};

} // namespace

std::span<const RegistryDefault> registryDefaults()
{
    return kDefaults;
}

void installRegistryDefaults(host::Registry& registry)
{
    registry.createKey(kParametersKey);
    registry.createKey(kStillStatusKey);
    for (const auto& [index, value] : kDefaults) {
        const std::string name = "A_" + std::to_string(index);
        if (!registry.value(kParametersKey, name)) {
            registry.setValue(kParametersKey, name, host::RegistryValue::dword(value));
        }
    }
}

} // namespace korval::tools
