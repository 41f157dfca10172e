// Every effect in I420 gives the picture its BGR24 rule gives, within the
// rounding of the conversions.
#include <gtest/gtest.h>

#include "effects_test_support.h"
#include "host/kernel/crt_rand.h"

namespace korval::effects_test {
namespace {

Bytes runEffect(ReadyEffects& ready, Bytes& source, ULONG effect)
{
    Bytes destination(source.size());
    host::setRandState(1);
    EXPECT_TRUE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                             static_cast<ULONG>(destination.size()), effect, nullptr));
    return destination;
}

bool hasOwnI420Path(ULONG effect)
{
    return effect == VeEffectGreenTone || effect == VeEffectBlueTone || effect == VeEffectRedTone ||
           effect == VeEffectSepia;
}

TEST(I420Consistency, EveryEffectMatchesItsBgrRule)
{
    for (ULONG width : {176u, 352u}) {
        const ULONG height = width * 9 / 11;
        ReadyEffects bgr = makeReadyEffects(width, height, VE_FORMAT_BGR24);
        ReadyEffects i420 = makeReadyEffects(width, height, VE_FORMAT_I420);
        Bytes source = toI420(renderColourChart(width, height), width, height);
        Bytes sourceAsBgr = toBgr(source, width, height);
        for (ULONG effect = 1; effect <= 15; ++effect) {
            const Bytes expected = toI420(runEffect(bgr, sourceAsBgr, effect), width, height);
            const Bytes actual = runEffect(i420, source, effect);
            if (effect == VeEffectGreenTone || effect == VeEffectBlueTone || effect == VeEffectRedTone) {
                // A tint's luma follows the BGR rule; its chroma takes the source's own
                // colour channel rather than the luma (TintsReadTheSourceChroma).
                const std::size_t luma = static_cast<std::size_t>(width) * height;
                EXPECT_LE(maxDifference(Bytes(actual.begin(), actual.begin() + luma),
                                        Bytes(expected.begin(), expected.begin() + luma)),
                          3)
                    << "effect " << effect;
            } else if (hasOwnI420Path(effect)) {
                // The own path starts from the I420 luma itself, not from its BGR rendering
                // (which is up to 2 levels off); sepia's tone tables are steepest near black.
                EXPECT_LE(maxDifference(actual, expected), 6) << "effect " << effect;
            } else {
                EXPECT_EQ(actual, expected) << "effect " << effect;
            }
        }
    }
}

// Noise has edges everywhere and every chroma: the shortcuts of the I420 paths
// must still give exactly the converted BGR result.
TEST(I420Consistency, ConversionPathsAreExactOnRandomPictures)
{
    const ULONG width = 640, height = 480;
    ReadyEffects bgr = makeReadyEffects(width, height, VE_FORMAT_BGR24);
    ReadyEffects i420 = makeReadyEffects(width, height, VE_FORMAT_I420);
    Bytes source = randomBytes(pictureBytes(width, height, VE_FORMAT_I420), 640);
    Bytes sourceAsBgr = toBgr(source, width, height);
    for (ULONG effect = 1; effect <= 15; ++effect) {
        if (!hasOwnI420Path(effect)) {
            EXPECT_EQ(runEffect(i420, source, effect), toI420(runEffect(bgr, sourceAsBgr, effect), width, height))
                << "effect " << effect;
        }
    }
}

TEST(I420Consistency, OwnPathsMatchTheirPlainLoops)
{
    ReadyEffects ready = makeReadyEffects(640, 480, VE_FORMAT_I420);
    for (ULONG width : {640u, 18u, 5u}) {
        const ULONG height = width == 5 ? 3 : 6 + width / 2;
        const Bytes source = randomBytes(pictureBytes(width, height, VE_FORMAT_I420), width);
        for (ULONG effect : {VeEffectGreenTone, VeEffectBlueTone, VeEffectRedTone, VeEffectSepia}) {
            Bytes fast(source.size()), plain(source.size());
            VeLumaEffectI420(effect, source.data(), fast.data(), width, height, ready.effects->GetToneTable());
            VeLumaEffectI420Reference(effect, source.data(), plain.data(), width, height, ready.effects->GetToneTable());
            EXPECT_EQ(fast, plain) << "effect " << effect << " width " << width;
        }
    }
}

TEST(I420Consistency, OwnPathsGiveTintedChroma)
{
    ReadyEffects i420 = makeReadyEffects(16, 2, VE_FORMAT_I420);
    // A flat grey picture of luma 200 tinted green: pure green of luma 200.
    Bytes source(pictureBytes(16, 2, VE_FORMAT_I420), 128);
    std::fill(source.begin(), source.begin() + 32, 200);
    const Bytes green = runEffect(i420, source, VeEffectGreenTone);
    EXPECT_EQ(green[0], (200 * 19235) >> 15);
    EXPECT_EQ(green[32], VeChromaU(0, 800, 0));
    EXPECT_EQ(green[40], VeChromaV(0, 800, 0));
    const Bytes red = runEffect(i420, source, VeEffectRedTone);
    EXPECT_EQ(red[0], (200 * 9798) >> 15);
    EXPECT_EQ(red[40], VeChromaV(0, 0, 800));
    const Bytes blue = runEffect(i420, source, VeEffectBlueTone);
    EXPECT_EQ(blue[0], (200 * 3736) >> 15);
    EXPECT_EQ(blue[32], VeChromaU(800, 0, 0));
    // Sepia at luma 200: m = 55, B = 200 − 13, R = 200 + 19.
    const Bytes sepia = runEffect(i420, source, VeEffectSepia);
    EXPECT_EQ(sepia[0], VeLuma(187, 200, 219));
    EXPECT_EQ(sepia[32], VeChromaU(4 * 187, 800, 4 * 219));
    EXPECT_EQ(sepia[40], VeChromaV(4 * 187, 800, 4 * 219));
}

// The tints take their chroma from the source's own colour: on a pure red
// picture green and blue find nothing of their channel, red finds it all.
TEST(I420Consistency, TintsReadTheSourceChroma)
{
    const ULONG width = 176, height = 144;
    ReadyEffects i420 = makeReadyEffects(width, height, VE_FORMAT_I420);
    Bytes source(pictureBytes(width, height, VE_FORMAT_I420));
    const std::size_t luma = width * height, chroma = luma / 4;
    std::fill(source.begin(), source.begin() + luma, 76);
    std::fill(source.begin() + luma, source.begin() + luma + chroma, 85);
    std::fill(source.begin() + luma + chroma, source.end(), 255);
    struct Case {
        ULONG effect;
        int y, u, v;
    };
    for (const Case& c : {Case{VeEffectGreenTone, (76 * 19235) >> 15, 128, 128},
                          Case{VeEffectBlueTone, (76 * 3736) >> 15, 128, 128},
                          Case{VeEffectRedTone, (76 * 9798) >> 15, 85, 255}}) {
        const Bytes out = runEffect(i420, source, c.effect);
        EXPECT_EQ(out[luma - 1], c.y) << "effect " << c.effect;
        EXPECT_EQ(out[luma + chroma - 1], c.u) << "effect " << c.effect;
        EXPECT_EQ(out[luma + 2 * chroma - 1], c.v) << "effect " << c.effect;
    }
}

} // namespace
} // namespace korval::effects_test
