// Shared helpers of the VideoEffects tests: a set-up object with its work
// buffer, a rendered colour chart and random pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "effects/EffectKernels.h"
#include "effects/VideoEffects.h"

namespace korval::effects_test {

struct EffectsDeleter {
    void operator()(VideoEffects* effects) const { delete effects; }
};

using Bytes = std::vector<std::uint8_t>;

struct Size {
    ULONG width;
    ULONG height;
};
// The picture sizes a capture stream offers.
constexpr Size kStreamSizes[] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};

inline std::size_t pictureBytes(ULONG width, ULONG height, ULONG format)
{
    return format == VE_FORMAT_I420 ? width * height + 2 * (width / 2) * (height / 2) : width * height * 3;
}

// The three descriptions the capture pipeline passes at stream open.
struct PipelineDescriptions {
    VE_IMAGE_DESCRIPTION output;
    VE_IMAGE_DESCRIPTION overlay;
    VE_IMAGE_DESCRIPTION mask;
};

inline PipelineDescriptions pipelineDescriptions(ULONG width, ULONG height, ULONG format)
{
    return {{24, width, height, 24, format, static_cast<ULONG>(pictureBytes(width, height, format))},
            {24, 352, 288, 24, format, 304128},
            {24, 352, 288, 8, 0, 101376}};
}

struct ReadyEffects {
    std::unique_ptr<VideoEffects, EffectsDeleter> effects;
    Bytes work;
    ULONG width = 0;
    ULONG height = 0;
    ULONG format = 0;
};

inline ReadyEffects makeReadyEffects(ULONG width, ULONG height, ULONG format)
{
    ReadyEffects ready;
    ready.effects.reset(new VideoEffects());
    ready.width = width;
    ready.height = height;
    ready.format = format;
    PipelineDescriptions descriptions = pipelineDescriptions(width, height, format);
    ULONG bytes = 0;
    ready.effects->Setup(&descriptions.output, &descriptions.overlay, &descriptions.mask, nullptr, &bytes);
    ready.work.assign(bytes, 0xCD);
    ready.effects->Setup(&descriptions.output, &descriptions.overlay, &descriptions.mask, ready.work.data(), &bytes);
    return ready;
}

inline VE_PICTURE describe(Bytes& bytes)
{
    return {sizeof(VE_PICTURE), bytes.data(), static_cast<ULONG>(bytes.size()), 0};
}

inline Bytes randomBytes(std::size_t count, std::uint32_t seed, int maximum = 255)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> value(0, maximum);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(value(generator));
    }
    return bytes;
}

// A 6 × 4 chart of 24 coloured patches on a dark surround, with a grey ramp
// along the bottom quarter, as a bottom-up BGR24 picture.
inline Bytes renderColourChart(ULONG width, ULONG height)
{
    static const std::uint8_t kPatches[24][3] = {  // R G B
        {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
        {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
        {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
        {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52}};
    Bytes bgr(static_cast<std::size_t>(width) * height * 3);
    const ULONG chartHeight = height * 3 / 4;
    for (ULONG row = 0; row < height; ++row) {      // row 0 is the top of the picture
        std::uint8_t* line = bgr.data() + static_cast<std::size_t>(height - 1 - row) * width * 3;
        for (ULONG x = 0; x < width; ++x) {
            std::uint8_t rgb[3] = {30, 30, 30};
            if (row >= chartHeight) {
                rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(x * 255 / (width - 1));
            } else {
                const ULONG column = x * 6 / width;
                const ULONG patchRow = row * 4 / chartHeight;
                const ULONG inX = x - column * width / 6;
                const ULONG inY = row - patchRow * chartHeight / 4;
                const ULONG margin = width / 60 + 1;
                if (inX >= margin && inY >= margin && inX + margin < width / 6 && inY + margin < chartHeight / 4) {
                    const std::uint8_t* patch = kPatches[patchRow * 6 + column];
                    rgb[0] = patch[0];
                    rgb[1] = patch[1];
                    rgb[2] = patch[2];
                }
            }
            line[3 * x] = rgb[2];
            line[3 * x + 1] = rgb[1];
            line[3 * x + 2] = rgb[0];
        }
    }
    return bgr;
}

inline Bytes toI420(const Bytes& bgrBottomUp, ULONG width, ULONG height)
{
    Bytes i420(pictureBytes(width, height, VE_FORMAT_I420));
    VeBgrToI420Reference(bgrBottomUp.data(), i420.data(), width, height, TRUE);
    return i420;
}

inline Bytes toBgr(const Bytes& i420, ULONG width, ULONG height)
{
    Bytes bgr(static_cast<std::size_t>(width) * height * 3);
    VeI420ToBgrReference(i420.data(), bgr.data(), width, height, TRUE);
    return bgr;
}

inline int maxDifference(const Bytes& first, const Bytes& second)
{
    int largest = 0;
    for (std::size_t i = 0; i < first.size() && i < second.size(); ++i) {
        const int difference = first[i] > second[i] ? first[i] - second[i] : second[i] - first[i];
        largest = difference > largest ? difference : largest;
    }
    return largest;
}

} // namespace korval::effects_test
