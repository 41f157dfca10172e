#include "tools/korval/registry_defaults.h"

#include "settings/PublishedProperties.h"
#include "tools/korval/hex_text.h"

#include <array>
#include <cstdio>

namespace korval::tools {
namespace {

// The tuning table reproduces the driver's built-in values, so that a valid
// table changes nothing by itself and stored settings reach the picture:
//  A_0..A_8   the camera's register defaults 0x02..0x19 and 0x40..0x4B, bytes
//             little-endian (timing 3/301/1/223, exposure 45, gains 100, line
//             clocks 444, extras 200/600/650/700, rate 54, indicator bit set);
//  A_10..A_22 the auto exposure's built-in limits and row rules;
//  A_26..A_44 the image pipeline's built-in switches, defect margins, white
//             balance, colour gains and matrix, sharpness and tone curve.
// The user settings, installed as the driver's property table gives them,
// follow the pipeline's built-in picture as well: contrast (black point) 5,
// sharpness 6, mirror off, flip on, white balance auto.
constexpr std::uint32_t kTuning[kTuningLast + 1] = {
    0x000D1203, 0x002D036F, 0x64646400, 0x31F0100A, 0x70000000, 0x000038A0, // A_0..A_5
    0x00320200, 0x02A20096, 0x003600AF,                                     // A_6..A_8
    0,          0x00000100, 0x3C0A0000, 0,          0x00000400, 0x0027000D, // A_9..A_14
    0x00000020, 0x000C000C, 0x00040012, 0,          0x00FA001E, 0x00000002, // A_15..A_20
    0x01200002, 0x00010000, 0,          0,          0,          0x00000101, // A_21..A_26
    0x00000101, 0x00140014, 0x235AEB14, 0x00001423, 0x00800100, 0x00646464, // A_27..A_32
    0,          0x07D00BB8, 0x07D007D0, 0x07D00BB8, 0x07D007D0, 0x00000BB8, // A_33..A_38
    0x00000014, 0,          0,          0,          0x20200000, 0x0000C0C0, // A_39..A_44
    0,          0,          0,          0,          0,          0,          // A_45..A_50
    0,                                                                      // A_51: no orientation check
};

constexpr std::uint32_t checksumOf(const std::uint32_t (&table)[kTuningLast + 1])
{
    std::uint32_t sum = 0;
    for (std::uint32_t value : table) {
        sum += value;
    }
    const std::uint32_t inverted = ~sum;
    return (inverted >> 24) | ((inverted >> 8) & 0xFF00) | ((inverted << 8) & 0xFF0000) | (inverted << 24);
}

constexpr int kFormatSelectionIndex = 64;
constexpr int kLastIndex = 136;

// What the property table installs in a user-setting slot, if any.
constexpr std::optional<std::uint32_t> installedSetting(int index)
{
    for (const tagPublishedProperty& entry : PublishedProperties) {
        if (entry.ucValueSlot == index) {
            return entry.usInstalledValue;
        }
        if (entry.ucFlagsSlot == index) {
            return entry.usInstalledFlags;
        }
    }
    return std::nullopt;
}

constexpr std::size_t countInstalledSettings()
{
    std::size_t count = 0;
    for (int index = kChecksumIndex + 1; index <= kLastIndex; ++index) {
        count += installedSetting(index).has_value() ? 1 : 0;
    }
    return count;
}

constexpr std::size_t kDefaultCount = kTuningLast + 1 + 2 + countInstalledSettings();

constexpr std::array<RegistryDefault, kDefaultCount> makeDefaults()
{
    std::array<RegistryDefault, kDefaultCount> all{};
    std::size_t at = 0;
    for (int index = kTuningFirst; index <= kTuningLast; ++index) {
        all[at++] = {index, kTuning[index]};
    }
    // All five sizes, 352x288 first; the checksum; then the user's settings
    // as the driver's property table installs them.
    all[at++] = {kFormatSelectionIndex, 0x00432105};
    all[at++] = {kChecksumIndex, checksumOf(kTuning)};
    for (int index = kChecksumIndex + 1; index <= kLastIndex; ++index) {
        if (const auto value = installedSetting(index)) {
            all[at++] = {index, *value};
        }
    }
    return all;
}

constexpr auto kDefaults = makeDefaults();

// "\"A_7\"", built by appending (g++ 12 misjudges "literal" + temporary).
std::string quotedName(int index)
{
    std::string text = "\"";
    text.append(parameterValueName(index)).append("\"");
    return text;
}

bool hasAnyTuningValue(const host::Registry& registry)
{
    for (int index = kTuningFirst; index <= kTuningLast; ++index) {
        if (registry.value(kParametersKey, parameterValueName(index))) {
            return true;
        }
    }
    return registry.value(kParametersKey, parameterValueName(kChecksumIndex)).has_value();
}

} // namespace

std::span<const RegistryDefault> registryDefaults()
{
    return kDefaults;
}

std::uint32_t tuningChecksum(std::span<const std::uint32_t, kTuningLast + 1> table)
{
    std::uint32_t copy[kTuningLast + 1];
    std::copy(table.begin(), table.end(), copy);
    return checksumOf(copy);
}

void installRegistryDefaults(host::Registry& registry)
{
    const bool installTuning = !hasAnyTuningValue(registry);
    if (!registry.keyExists(kParametersKey)) {
        registry.createKey(kParametersKey);
    }
    if (!registry.keyExists(kStillStatusKey)) {
        registry.createKey(kStillStatusKey);
    }
    for (const auto& [index, value] : kDefaults) {
        const bool tuning = index <= kTuningLast || index == kChecksumIndex;
        const std::string name = parameterValueName(index);
        if ((installTuning || !tuning) && !registry.value(kParametersKey, name)) {
            registry.setValue(kParametersKey, name, host::RegistryValue::dword(value));
        }
    }
}

std::optional<std::string> tuningTableProblem(const host::Registry& registry)
{
    std::uint32_t table[kTuningLast + 1] = {};
    for (int index = kTuningFirst; index <= kTuningLast; ++index) {
        const auto value = registry.value(kParametersKey, parameterValueName(index));
        if (value && !value->asDword()) {
            return quotedName(index) + " is not a REG_DWORD";
        }
        table[index] = value ? *value->asDword() : 0;
    }
    const std::uint32_t expected = tuningChecksum(table);
    const auto stored = registry.value(kParametersKey, parameterValueName(kChecksumIndex));
    if (!stored || !stored->asDword()) {
        return "its checksum \"A_65\" is missing (it should be " + hexText(expected) + ")";
    }
    if (*stored->asDword() != expected) {
        return "its checksum \"A_65\" is " + hexText(*stored->asDword()) + ", not " + hexText(expected);
    }
    return std::nullopt;
}

} // namespace korval::tools
