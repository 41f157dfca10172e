// Pictures for a person to look at: every effect on a rendered colour chart,
// in both formats, and an overlay frame at two output sizes.
#include <gtest/gtest.h>

#include <cstdio>

#include "effects_test_support.h"
#include "host/kernel/crt_rand.h"
#include "support/png_file.h"

namespace korval::effects_test {
namespace {

const char* const kEffectNames[] = {"none",     "negative", "black_white", "green_tone", "grey",
                                    "blue_tone", "red_tone", "relief",      "colour_sketch", "mosaic",
                                    "streaks",  "solarise", "sepia",       "oil_paint",  "grey_sketch",
                                    "frosted_glass"};

std::string pictureName(ULONG effect, const char* format)
{
    char name[64];
    std::snprintf(name, sizeof(name), "effect_%02u_%s_%s", static_cast<unsigned>(effect), kEffectNames[effect], format);
    return name;
}

TEST(EffectPictures, EveryEffectOnTheColourChart)
{
    const ULONG width = 352, height = 288;
    ReadyEffects bgr = makeReadyEffects(width, height, VE_FORMAT_BGR24);
    ReadyEffects i420 = makeReadyEffects(width, height, VE_FORMAT_I420);
    Bytes chart = renderColourChart(width, height);
    Bytes chartI420 = toI420(chart, width, height);
    ASSERT_FALSE(testing::writeBgrBottomUpPng(pictureName(0, "bgr"), width, height, chart.data()).empty());
    for (ULONG effect = 1; effect <= 15; ++effect) {
        Bytes out(chart.size()), outI420(chartI420.size());
        host::setRandState(1);
        ASSERT_TRUE(bgr.effects->ProcessEffect(chart.data(), static_cast<ULONG>(chart.size()), out.data(),
                                               static_cast<ULONG>(out.size()), effect, nullptr));
        ASSERT_TRUE(i420.effects->ProcessEffect(chartI420.data(), static_cast<ULONG>(chartI420.size()), outI420.data(),
                                                static_cast<ULONG>(outI420.size()), effect, nullptr));
        EXPECT_FALSE(testing::writeBgrBottomUpPng(pictureName(effect, "bgr"), width, height, out.data()).empty());
        const Bytes shown = toBgr(outI420, width, height);
        EXPECT_FALSE(testing::writeBgrBottomUpPng(pictureName(effect, "i420"), width, height, shown.data()).empty());
    }
}

// A gold frame with rounded inner corners: opaque outside, a soft edge, clear inside.
void renderFrame(Bytes& picture, Bytes& mask)
{
    for (ULONG line = 0; line < 288; ++line) {
        for (ULONG column = 0; column < 352; ++column) {
            const int dx = std::max(0, std::abs(static_cast<int>(column) - 176) - 140);
            const int dy = std::max(0, std::abs(static_cast<int>(line) - 144) - 108);
            const int outside = static_cast<int>(std::sqrt(dx * dx + dy * dy) * 24);
            mask[line * 352 + column] = static_cast<std::uint8_t>(std::min(255, outside));
            std::uint8_t* pixel = picture.data() + (line * 352 + column) * 3;
            const int shade = ((column / 8 + line / 8) % 2) * 40;
            pixel[0] = static_cast<std::uint8_t>(40 + shade / 2);
            pixel[1] = static_cast<std::uint8_t>(160 + shade / 2);
            pixel[2] = static_cast<std::uint8_t>(210 + shade / 4);
        }
    }
}

TEST(EffectPictures, OverlayFrameAtTwoOutputSizes)
{
    Bytes picture(336896), mask(134144);
    renderFrame(picture, mask);
    for (ULONG width : {176u, 640u}) {
        const ULONG height = width * 3 / 4 == 132 ? 144 : width * 3 / 4;
        for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
            ReadyEffects ready = makeReadyEffects(width, height, format);
            Bytes overlay = picture;
            if (format == VE_FORMAT_I420) {
                Bytes converted(184832);
                VE_PICTURE in = describe(overlay);
                VE_PICTURE out = describe(converted);
                ASSERT_EQ(ready.effects->ConvertBgrToI420(&in, &out), VE_SUCCESS);
                overlay = converted;
            }
            Bytes chart = renderColourChart(width, height);
            Bytes source = format == VE_FORMAT_I420 ? toI420(chart, width, height) : chart;
            Bytes destination(source.size());
            VE_PICTURE overlayPicture = describe(overlay);
            VE_PICTURE maskPicture = describe(mask);
            VE_PICTURE in = describe(source);
            VE_PICTURE out = describe(destination);
            ASSERT_EQ(ready.effects->Composite(&overlayPicture, &maskPicture, &in, &out), VE_SUCCESS);
            const Bytes shown = format == VE_FORMAT_I420 ? toBgr(destination, width, height) : destination;
            const std::string name = "overlay_" + std::to_string(width) + (format == VE_FORMAT_I420 ? "_i420" : "_bgr");
            EXPECT_FALSE(testing::writeBgrBottomUpPng(name, width, height, shown.data()).empty());
        }
    }
}

} // namespace
} // namespace korval::effects_test
