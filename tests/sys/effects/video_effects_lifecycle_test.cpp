// Set-up, states, result codes, the dispatcher and memory use of VideoEffects.
#include <gtest/gtest.h>

#include <cmath>

#include "effects_test_support.h"
#include "host/kernel/pool.h"

namespace korval::effects_test {
namespace {

constexpr std::uint32_t kTag = 0x206D6457;  // "Wdm "

TEST(VideoEffectsSetup, ReportsTheWorkSizeAndLaysOutTheScratchPictures)
{
    for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
        for (const auto& size : kStreamSizes) {
            VideoEffects effects;
            PipelineDescriptions d = pipelineDescriptions(size.width, size.height, format);
            ULONG bytes = 0;
            ASSERT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_SUCCESS);
            const ULONG pixels = size.width * size.height;
            EXPECT_EQ(bytes, size.width * 5 + 17660 + (pixels * 3 + 101376) * 4);
            EXPECT_EQ(effects.GetState(), VE_STATE_DESCRIBED);
            Bytes work(bytes);
            ASSERT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, work.data(), &bytes), VE_SUCCESS);
            EXPECT_EQ(effects.GetState(), VE_STATE_READY);
            std::uint8_t* base = work.data();
            const std::size_t picture = (pixels + 1024) * 3;
            EXPECT_EQ(effects.GetToneTable(), base);
            EXPECT_EQ(effects.GetWork(0), base + size.width * 5 + 1276);
            EXPECT_EQ(effects.GetWork(1), effects.GetWork(0) + picture);
            EXPECT_EQ(effects.GetWork(2), effects.GetWork(1) + picture);
            EXPECT_EQ(effects.GetWork(3), effects.GetWork(2) + 2048 + 101376 * 2);
            EXPECT_EQ(effects.GetWork(4), effects.GetWork(3) + picture);
            EXPECT_EQ(effects.GetWork(5), effects.GetWork(4) + picture);
            // work5 ends exactly at the end of the buffer.
            EXPECT_EQ(effects.GetWork(5) + 2048 + 101376 * 2, base + bytes);
        }
    }
}

TEST(VideoEffectsSetup, RefusesBadCallsWithTheirCodes)
{
    VideoEffects effects;
    PipelineDescriptions d = pipelineDescriptions(352, 288, VE_FORMAT_BGR24);
    ULONG bytes = 0;
    EXPECT_EQ(effects.Setup(nullptr, &d.overlay, &d.mask, nullptr, &bytes), VE_NULL_POINTER);
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, nullptr), VE_NULL_POINTER);
    d.output.ulFormat = 2;
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_UNSUPPORTED_FORMAT);
    d.output.ulFormat = VE_FORMAT_I420;
    d.output.ulWidth = 351;  // I420 needs whole 2 × 2 blocks
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_UNSUPPORTED_FORMAT);
    d.output.ulWidth = 0;
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_UNSUPPORTED_FORMAT);
    EXPECT_EQ(effects.GetState(), VE_STATE_CREATED);

    d = pipelineDescriptions(352, 288, VE_FORMAT_BGR24);
    ASSERT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_SUCCESS);
    Bytes work(bytes);
    ULONG tooSmall = bytes - 1;
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_NULL_POINTER);
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, work.data(), &tooSmall), VE_NULL_POINTER);
    EXPECT_EQ(effects.GetState(), VE_STATE_DESCRIBED);
    ASSERT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, work.data(), &bytes), VE_SUCCESS);
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, work.data(), &bytes), VE_ALREADY_READY);
    effects.Reset();
    EXPECT_EQ(effects.GetState(), VE_STATE_CREATED);
    EXPECT_EQ(effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes), VE_SUCCESS);
}

TEST(VideoEffectsSetup, FillsTheToneTables)
{
    ReadyEffects ready = makeReadyEffects(176, 144, VE_FORMAT_BGR24);
    const std::uint8_t* tones = ready.effects->GetToneTable();
    for (int i = 0; i <= 128; ++i) {
        EXPECT_EQ(tones[VE_TONE_FIRST + i], static_cast<int>(std::floor(20 * std::sqrt(i / 128.0)))) << i;
        if (i != 7 && i != 89) {
            EXPECT_EQ(tones[VE_TONE_SECOND + i], static_cast<int>(std::floor(30 * std::sqrt(i / 128.0)))) << i;
        }
    }
    EXPECT_EQ(tones[VE_TONE_FIRST + 128], 20);
    EXPECT_EQ(tones[VE_TONE_SECOND + 128], 30);
    EXPECT_EQ(tones[VE_TONE_SECOND + 7], 6);
    EXPECT_EQ(tones[VE_TONE_SECOND + 89], 24);
}

TEST(VideoEffectsOperations, WorkOnlyWhenReadyAndCheckTheirPictures)
{
    VideoEffects effects;
    Bytes source(352 * 288 * 3, 100);
    Bytes destination(352 * 288 * 3, 7);
    VE_PICTURE in = describe(source);
    VE_PICTURE out = describe(destination);
    EXPECT_EQ(effects.Negative(&in, &out), VE_WRONG_STATE);
    PipelineDescriptions d = pipelineDescriptions(352, 288, VE_FORMAT_BGR24);
    ULONG bytes = 0;
    effects.Setup(&d.output, &d.overlay, &d.mask, nullptr, &bytes);
    EXPECT_EQ(effects.Negative(&in, &out), VE_WRONG_STATE);
    EXPECT_EQ(effects.Composite(&in, &in, &in, &out), VE_WRONG_STATE);
    Bytes work(bytes);
    effects.Setup(&d.output, &d.overlay, &d.mask, work.data(), &bytes);

    EXPECT_EQ(effects.Negative(nullptr, &out), VE_NULL_POINTER);
    VE_PICTURE empty = {sizeof(VE_PICTURE), nullptr, 0, 0};
    EXPECT_EQ(effects.Negative(&in, &empty), VE_NULL_POINTER);
    out.ulFlags = 1;
    EXPECT_EQ(effects.Negative(&in, &out), VE_FLAGS_NOT_ZERO);
    out.ulFlags = 0;
    VE_PICTURE shortOut = out;
    shortOut.ulLength -= 1;  // one byte short of the picture: refused, nothing written
    EXPECT_EQ(effects.Negative(&in, &shortOut), VE_NULL_POINTER);
    EXPECT_EQ(destination, Bytes(destination.size(), 7));
    EXPECT_EQ(effects.Negative(&in, &out), VE_SUCCESS);
    EXPECT_EQ(destination, Bytes(destination.size(), 155));
    EXPECT_EQ(out.ulFlags, 0u);
}

TEST(VideoEffectsDispatcher, RunsEffectsOneToFifteenOnly)
{
    ReadyEffects ready = makeReadyEffects(176, 144, VE_FORMAT_BGR24);
    Bytes source = renderColourChart(176, 144);
    for (ULONG effect : {0u, 16u, 255u, 0xFFFFFFFFu}) {
        Bytes destination(source.size(), 9);
        EXPECT_FALSE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                                  static_cast<ULONG>(destination.size()), effect, nullptr));
        EXPECT_EQ(destination, Bytes(source.size(), 9)) << effect;
    }
    for (ULONG effect = 1; effect <= 15; ++effect) {
        Bytes destination(source.size(), 9);
        EXPECT_TRUE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                                 static_cast<ULONG>(destination.size()), effect, nullptr)) << effect;
    }
    Bytes destination(source.size(), 9);
    EXPECT_FALSE(ready.effects->ProcessEffect(source.data(), 100, destination.data(),
                                              static_cast<ULONG>(destination.size()), 1, nullptr));
    ready.effects->Reset();
    EXPECT_FALSE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                              static_cast<ULONG>(destination.size()), 1, nullptr));
}

TEST(VideoEffectsDispatcher, InPlaceCallsGiveTheSamePicture)
{
    for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
        ReadyEffects ready = makeReadyEffects(176, 144, format);
        Bytes chart = renderColourChart(176, 144);
        Bytes source = format == VE_FORMAT_I420 ? toI420(chart, 176, 144) : chart;
        for (ULONG effect : {7u, 8u, 9u, 13u, 14u}) {
            Bytes expected(source.size());
            ASSERT_TRUE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), expected.data(),
                                                     static_cast<ULONG>(expected.size()), effect, nullptr));
            Bytes inPlace = source;
            ASSERT_TRUE(ready.effects->ProcessEffect(inPlace.data(), static_cast<ULONG>(inPlace.size()), inPlace.data(),
                                                     static_cast<ULONG>(inPlace.size()), effect, nullptr));
            EXPECT_EQ(inPlace, expected) << "effect " << effect << " format " << format;
        }
    }
}

TEST(VideoEffectsMemory, ComesFromThePoolWithItsOwnSizeOnly)
{
    host::resetPoolCounters();
    VideoEffects* effects = new VideoEffects();
    ASSERT_NE(effects, nullptr);
    EXPECT_EQ(host::poolCounters(kTag).outstandingBlocks, 1u);
    EXPECT_EQ(host::poolCounters(kTag).outstandingBytes, sizeof(VideoEffects));
    EXPECT_EQ(VideoEffects::operator new(sizeof(VideoEffects) + 1), nullptr);
    delete effects;
    host::checkNoPoolLeaks(kTag);
    host::failPoolAllocation(1);
    EXPECT_EQ(new VideoEffects(), nullptr);
    host::failPoolAllocation(0);
}

TEST(VideoEffectsMemory, NoEffectAndNoCompositeAllocates)
{
    for (ULONG format : {VE_FORMAT_BGR24, VE_FORMAT_I420}) {
        ReadyEffects ready = makeReadyEffects(320, 240, format);
        Bytes chart = renderColourChart(320, 240);
        Bytes source = format == VE_FORMAT_I420 ? toI420(chart, 320, 240) : chart;
        Bytes destination(source.size());
        Bytes overlay(336896, 50);
        Bytes mask(134144, 128);
        host::resetPoolCounters();
        for (ULONG effect = 1; effect <= 15; ++effect) {
            ASSERT_TRUE(ready.effects->ProcessEffect(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                                     static_cast<ULONG>(destination.size()), effect, nullptr));
        }
        VE_PICTURE overlayPicture = describe(overlay);
        VE_PICTURE maskPicture = describe(mask);
        VE_PICTURE in = describe(source);
        VE_PICTURE out = describe(destination);
        EXPECT_EQ(ready.effects->Composite(&overlayPicture, &maskPicture, &in, &out), VE_SUCCESS);
        EXPECT_EQ(host::poolCounters().allocations, 0u);
    }
}

} // namespace
} // namespace korval::effects_test
