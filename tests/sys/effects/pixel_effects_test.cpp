// Per-pixel effects and the colour conversions: hand-worked values and the
// fast loops against their plain references.
#include <gtest/gtest.h>

#include "effects/SimdDispatch.h"
#include "effects_test_support.h"

namespace korval::effects_test {
namespace {

constexpr ULONG kLumaEffects[] = {VeEffectBlackWhite, VeEffectGreenTone, VeEffectGrey, VeEffectBlueTone,
                                  VeEffectRedTone,    VeEffectSolarise,  VeEffectSepia};

Bytes toneTables()
{
    Bytes tones(1024 + 5 * 640);
    VeFillToneTables(tones.data());
    return tones;
}

Bytes lumaEffect(ULONG effect, const Bytes& source)
{
    const Bytes tones = toneTables();
    Bytes out(source.size());
    VeLumaEffect(effect, source.data(), out.data(), static_cast<ULONG>(source.size() / 3), tones.data());
    return out;
}

TEST(PixelEffects, FastLoopsMatchTheReferenceOnRandomAndChartPictures)
{
    const Bytes tones = toneTables();
    for (ULONG pixels : {1u, 15u, 16u, 17u, 33u, 640u * 480u}) {
        const Bytes random = randomBytes(pixels * 3, pixels);
        for (ULONG effect : kLumaEffects) {
            Bytes fast(random.size()), plain(random.size());
            VeLumaEffect(effect, random.data(), fast.data(), pixels, tones.data());
            VeLumaEffectReference(effect, random.data(), plain.data(), pixels, tones.data());
            ASSERT_EQ(fast, plain) << "effect " << effect << " pixels " << pixels;
        }
        Bytes fast(random.size()), plain(random.size());
        VeNegative(random.data(), fast.data(), random.size());
        VeNegativeReference(random.data(), plain.data(), random.size());
        ASSERT_EQ(fast, plain);
    }
    const Bytes chart = renderColourChart(352, 288);
    for (ULONG effect : kLumaEffects) {
        Bytes fast(chart.size()), plain(chart.size());
        VeLumaEffect(effect, chart.data(), fast.data(), 352 * 288, tones.data());
        VeLumaEffectReference(effect, chart.data(), plain.data(), 352 * 288, tones.data());
        EXPECT_EQ(fast, plain) << effect;
    }
}

// Every instruction set this machine runs, whichever it would choose.
TEST(PixelEffects, EveryInstructionSetMatchesTheReference)
{
    const Bytes tones = toneTables();
    const ULONG pixels = 352 * 288 + 21;  // a 16-pixel block after the last 32-pixel one, and 5 more
    const Bytes random = randomBytes(pixels * 3, 77);
    using Kernel = ULONG (*)(ULONG, const UCHAR*, PUCHAR, ULONG, const UCHAR*);
    for (Kernel kernel : {Kernel{&VeSse2::LumaEffectBlocks}, Kernel{&VeSsse3::LumaEffectBlocks}, Kernel{&VeAvx2::LumaEffectBlocks}}) {
        if ((kernel == &VeSsse3::LumaEffectBlocks && !VeHasSsse3()) || (kernel == &VeAvx2::LumaEffectBlocks && !VeHasAvx2())) {
            continue;
        }
        for (ULONG effect : kLumaEffects) {
            Bytes fast(random.size()), plain(random.size());
            const ULONG done = kernel(effect, random.data(), fast.data(), pixels, tones.data());
            EXPECT_EQ(done, pixels - 5);
            VeLumaEffectReference(effect, random.data(), plain.data(), pixels, tones.data());
            EXPECT_TRUE(std::equal(fast.begin(), fast.begin() + done * 3, plain.begin())) << effect;
        }
    }
}

TEST(Conversions, EveryInstructionSetMatchesTheReference)
{
    const ULONG width = 640 + 6;
    const Bytes top = randomBytes(width * 3, 1), bottom = randomBytes(width * 3, 2);
    Bytes expected(width * 2 + width), plainBgr(width * 3);
    VeBgrToI420Reference(top.data(), expected.data(), width, 1, FALSE);  // luma of the top line
    struct Set {
        const char* name;
        bool usable;
        decltype(&VeSse2::ConvertRowPair) convertRowPair;
        decltype(&VeSse2::ToBgrRow) toBgrRow;
    };
    const Set sets[] = {{"SSE2", true, &VeSse2::ConvertRowPair, &VeSse2::ToBgrRow},
                        {"SSSE3", VeHasSsse3(), &VeSsse3::ConvertRowPair, &VeSsse3::ToBgrRow},
                        {"AVX2", VeHasAvx2(), &VeAvx2::ConvertRowPair, &VeAvx2::ToBgrRow}};
    for (const Set& set : sets) {
        if (!set.usable) {
            continue;
        }
        Bytes luma(2 * width), u(width / 2), v(width / 2);
        const ULONG done = set.convertRowPair(top.data(), bottom.data(), luma.data(), luma.data() + width, u.data(),
                                              v.data(), width);
        ASSERT_EQ(done, 640u) << set.name;
        Bytes pair(top);
        pair.insert(pair.end(), bottom.begin(), bottom.end());
        Bytes i420(pictureBytes(width, 2, VE_FORMAT_I420));
        VeBgrToI420Reference(pair.data(), i420.data(), width, 2, FALSE);
        EXPECT_TRUE(std::equal(luma.begin(), luma.begin() + done, i420.begin())) << set.name;
        EXPECT_TRUE(std::equal(luma.begin() + width, luma.begin() + width + done, i420.begin() + width));
        EXPECT_TRUE(std::equal(u.begin(), u.begin() + done / 2, i420.begin() + 2 * width));
        EXPECT_TRUE(std::equal(v.begin(), v.begin() + done / 2, i420.begin() + 2 * width + width / 2));
        Bytes row(width * 3), plainRow(width * 3);
        const ULONG converted = set.toBgrRow(i420.data(), u.data(), v.data(), row.data(), width);
        ASSERT_EQ(converted, 640u);
        Bytes single(i420.begin(), i420.begin() + width);
        single.insert(single.end(), u.begin(), u.end());
        single.insert(single.end(), v.begin(), v.end());
        // A one-line picture with these chroma samples, converted plainly.
        Bytes twoLines(single.begin(), single.begin() + width);
        twoLines.insert(twoLines.end(), single.begin(), single.begin() + width);
        twoLines.insert(twoLines.end(), u.begin(), u.end());
        twoLines.insert(twoLines.end(), v.begin(), v.end());
        Bytes plainPicture(width * 2 * 3);
        VeI420ToBgrReference(twoLines.data(), plainPicture.data(), width, 2, FALSE);
        EXPECT_TRUE(std::equal(row.begin(), row.begin() + converted * 3, plainPicture.begin())) << set.name;
    }
}

TEST(PixelEffects, NegativeTwiceGivesTheInputBack)
{
    const Bytes chart = renderColourChart(320, 240);
    Bytes once(chart.size()), twice(chart.size());
    VeNegative(chart.data(), once.data(), chart.size());
    VeNegative(once.data(), twice.data(), once.size());
    EXPECT_EQ(twice, chart);
    EXPECT_EQ(once[0], 255 - chart[0]);
}

TEST(PixelEffects, MidGreyTurnsWhiteUnderBlackAndWhiteAnd127UnderSolarise)
{
    const Bytes grey(48 * 3, 128);
    EXPECT_EQ(lumaEffect(VeEffectBlackWhite, grey), Bytes(grey.size(), 255));
    EXPECT_EQ(lumaEffect(VeEffectSolarise, grey), Bytes(grey.size(), 127));
    // The thresholds: luma 120 is black, 121 white; 127 stays, 128 inverts.
    EXPECT_EQ(lumaEffect(VeEffectBlackWhite, Bytes(48, 120)), Bytes(48, 0));
    EXPECT_EQ(lumaEffect(VeEffectBlackWhite, Bytes(48, 121)), Bytes(48, 255));
    EXPECT_EQ(lumaEffect(VeEffectSolarise, Bytes(48, 127)), Bytes(48, 127));
}

TEST(PixelEffects, TintsGreyAndSepiaFollowTheLuma)
{
    // B G R = 10 200 50: luma (9798·50 + 19235·200 + 3736·10) >> 15 = 133.
    Bytes source;
    for (int i = 0; i < 20; ++i) {
        source.insert(source.end(), {10, 200, 50});
    }
    const auto pixel = [](const Bytes& picture, int index) {
        return std::vector<int>{picture[3 * index], picture[3 * index + 1], picture[3 * index + 2]};
    };
    EXPECT_EQ(pixel(lumaEffect(VeEffectGreenTone, source), 17), (std::vector<int>{0, 133, 0}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectBlueTone, source), 17), (std::vector<int>{133, 0, 0}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectRedTone, source), 17), (std::vector<int>{0, 0, 133}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectGrey, source), 17), (std::vector<int>{133, 133, 133}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectSolarise, source), 17), (std::vector<int>{245, 55, 205}));
    // Sepia at luma 133: m = 122, first = 19, second = 29.
    EXPECT_EQ(pixel(lumaEffect(VeEffectSepia, source), 17), (std::vector<int>{114, 133, 162}));
    // Luma 7 uses the tuned entry second[7] = 6; luma 128 the ends of both tables.
    EXPECT_EQ(pixel(lumaEffect(VeEffectSepia, Bytes(60, 7)), 3), (std::vector<int>{3, 7, 13}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectSepia, Bytes(60, 128)), 3), (std::vector<int>{108, 128, 158}));
    EXPECT_EQ(pixel(lumaEffect(VeEffectSepia, Bytes(60, 255)), 3), (std::vector<int>{255, 255, 255}));
}

TEST(Conversions, WhiteBlackAndGreyKeepNeutralChroma)
{
    for (std::uint8_t level : {0, 128, 255}) {
        const Bytes bgr(32 * 4 * 3, level);
        Bytes i420(pictureBytes(32, 4, VE_FORMAT_I420));
        VeBgrToI420(bgr.data(), i420.data(), 32, 4, TRUE);
        EXPECT_EQ(Bytes(i420.begin(), i420.begin() + 128), Bytes(128, level));
        EXPECT_EQ(Bytes(i420.begin() + 128, i420.end()), Bytes(64, 128));
        Bytes back(bgr.size());
        VeI420ToBgr(i420.data(), back.data(), 32, 4, TRUE);
        EXPECT_EQ(back, bgr);
    }
}

TEST(Conversions, UseTheFixedPointCoefficients)
{
    // A pure red 2 × 2 block: Y = 9798·255 >> 15 = 76; U = (−5529·1020 >> 17) + 128 = 84;
    // V = (16384·1020 >> 17) + 128 = 255 (127.5 floors to 127).
    Bytes red(16 * 2 * 3);
    for (std::size_t i = 2; i < red.size(); i += 3) {
        red[i] = 255;
    }
    Bytes i420(pictureBytes(16, 2, VE_FORMAT_I420));
    VeBgrToI420(red.data(), i420.data(), 16, 2, FALSE);
    EXPECT_EQ(i420[0], 76);
    EXPECT_EQ(i420[32], 84);
    EXPECT_EQ(i420[40], 255);
    // Back: R = 76 + (359·127 >> 8) = 254, G = 76 − ((88·(−44) + 183·127) >> 8) = 1,
    // B = 76 + (454·(−44) >> 8) = 0 (clamped).
    Bytes back(red.size());
    VeI420ToBgr(i420.data(), back.data(), 16, 2, FALSE);
    EXPECT_EQ(back[0], 0);
    EXPECT_EQ(back[1], 1);
    EXPECT_EQ(back[2], 254);
    // A negative sum floors: Y 100, U 100, V 128 gives G = 100 − floor(−2464 / 256) = 110.
    Bytes flat(pictureBytes(16, 2, VE_FORMAT_I420), 128);
    std::fill(flat.begin(), flat.begin() + 32, 100);
    std::fill(flat.begin() + 32, flat.begin() + 40, 100);
    VeI420ToBgr(flat.data(), back.data(), 16, 2, FALSE);
    EXPECT_EQ(back[1], 110);
    EXPECT_EQ(back[0], 100 + ((454 * -28) >> 8));
}

TEST(Conversions, FastLoopsMatchTheReferenceAtEverySize)
{
    struct Size { ULONG width, height; };
    for (Size size : {Size{640, 480}, Size{352, 288}, Size{176, 144}, Size{18, 6}, Size{2, 2}, Size{34, 10}}) {
        for (BOOLEAN flip : {FALSE, TRUE}) {
            const Bytes bgr = randomBytes(size.width * size.height * 3, size.width + flip);
            Bytes fast(pictureBytes(size.width, size.height, VE_FORMAT_I420)), plain(fast.size());
            VeBgrToI420(bgr.data(), fast.data(), size.width, size.height, flip);
            VeBgrToI420Reference(bgr.data(), plain.data(), size.width, size.height, flip);
            ASSERT_EQ(fast, plain) << size.width;
            const Bytes i420 = randomBytes(fast.size(), size.height + flip);
            Bytes fastBgr(bgr.size()), plainBgr(bgr.size());
            VeI420ToBgr(i420.data(), fastBgr.data(), size.width, size.height, flip);
            VeI420ToBgrReference(i420.data(), plainBgr.data(), size.width, size.height, flip);
            ASSERT_EQ(fastBgr, plainBgr) << size.width;
        }
    }
}

TEST(Conversions, RoundTripOfTheChartStaysClose)
{
    const Bytes chart = renderColourChart(352, 288);
    const Bytes back = toBgr(toI420(chart, 352, 288), 352, 288);
    // Chroma is shared by 2 × 2 blocks: compare inside the patches' flat areas only.
    int largest = 0;
    for (ULONG y = 0; y < 288; y += 2) {
        for (ULONG x = 0; x < 352; x += 2) {
            bool flat = true;
            const std::size_t at = (y * 352 + x) * 3;
            for (std::size_t k = 0; k < 3; ++k) {
                flat = flat && chart[at + k] == chart[at + 3 + k] && chart[at + k] == chart[at + 352 * 3 + k] &&
                       chart[at + k] == chart[at + 352 * 3 + 3 + k];
            }
            for (std::size_t k = 0; flat && k < 3; ++k) {
                largest = std::max(largest, std::abs(chart[at + k] - back[at + k]));
            }
        }
    }
    EXPECT_LE(largest, 4);
}

} // namespace
} // namespace korval::effects_test
