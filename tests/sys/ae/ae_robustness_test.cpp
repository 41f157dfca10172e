// Any parameter record the property handlers could pass, and any frame
// statistics, keep CAe's values inside the camera's registers and its table.
// Run under the undefined-behaviour sanitizer this also catches conversions of
// out-of-range doubles.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ae_harness.h"

namespace korval::testing {
namespace {

tagAeParameters randomParameters(std::mt19937& random)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> word(0, 0xFFFF);
    std::uniform_int_distribution<int> small(0, 64);
    tagAeParameters p{};
    UCHAR* flags[] = {&p.ucEnable, &p.ucLongExposure, &p.ucAlternateTable, &p.ucFractionalExposure,
                      &p.ucStepBoost};
    for (UCHAR* flag : flags) {
        *flag = static_cast<UCHAR>(byte(random) % 4 == 0 ? byte(random) : byte(random) % 3);
    }
    p.ucTargetLuma = static_cast<UCHAR>(byte(random));
    p.ucTolerance = static_cast<UCHAR>(small(random));
    p.ucMainsFrequency = static_cast<UCHAR>(byte(random));
    USHORT* words[] = {&p.usFifoBytes,     &p.usPacketSize,   &p.usMaxExposure,       &p.usMaxExposureLong,
                       &p.usMinExposureDivisor, &p.usKneeExposure, &p.usKneeExposureLong, &p.usMaxGain,
                       &p.usMaxGainLong,   &p.usMidGain,      &p.usBaseGain,          &p.usUpMaxDropped,
                       &p.usUpMaxStep17,   &p.usUpMaxStep9,   &p.usUpMinStep5,        &p.usDownMaxDropped,
                       &p.usDownMaxStep17, &p.usDownMaxStep9, &p.usDownMinStep5};
    for (USHORT* w : words) {
        *w = static_cast<USHORT>(byte(random) % 2 == 0 ? small(random) : word(random));
    }
    p.usMinRow = static_cast<USHORT>(small(random) % 12);
    p.ucUpFrames = static_cast<UCHAR>(byte(random) % 4);
    p.ucDownFrames = static_cast<UCHAR>(byte(random) % 4);
    p.ucRatioMargin = static_cast<UCHAR>(byte(random));
    return p;
}

tagAeInput randomFrame(std::mt19937& random, const tagAeOutput& current,
                       std::vector<tagSDecompressionInformation>& lines)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<ULONG> count(0, kSensorHeight);
    tagAeInput in = neutralFrame(current, static_cast<UCHAR>(byte(random)), &lines);
    in.ulRawLines = count(random);
    in.ulStep5Lines = count(random);
    in.ulStep9Lines = count(random);
    in.ulStep17Lines = count(random);
    in.ulDroppedLines = byte(random) % 8 == 0 ? kSensorHeight : count(random) / 8;
    in.ulCompressionRatio = static_cast<ULONG>(byte(random) * 3);
    for (auto& line : lines) {
        line.usLength = static_cast<USHORT>(byte(random) * 2);
    }
    return in;
}

TEST(AeRobustness, RandomParametersAndFramesStayInsideTheLimits)
{
    std::mt19937 random(20261207);
    std::vector<tagSDecompressionInformation> lines(kSensorHeight);
    for (int record = 0; record < 3000; ++record) {
        const tagAeParameters p = randomParameters(random);
        CAeProbe ae;
        tagAeOutput out{};
        const bool strict = record % 3 == 0;
        const bool opened = ae.Open(kSensorWidth, kSensorHeight, strict, static_cast<UCHAR>(record % 3), p, &out);
        ASSERT_EQ(opened, CAe::ParametersUsable(p));
        if (!opened) {
            continue;
        }
        for (int frame = 0; frame < 40; ++frame) {
            if (frame == 20) {
                ae.SetParameters(randomParameters(random));
            }
            ASSERT_TRUE(ae.Process(randomFrame(random, out, lines), &out));
            ASSERT_LE(ae.row(), CAe::MAX_ROW);
            ASSERT_GE(ae.row(), ae.minRow());
            ASSERT_TRUE(std::isfinite(ae.total()) && std::isfinite(ae.exposure()));
            ASSERT_GE(ae.exposure(), 0.0);
            ASSERT_GE(out.usExposureStartLine, 1);
            ASSERT_LE(out.usExposureStartLine, out.usFrameLines);
            ASSERT_LE(out.usFineDelay, 356);
            ASSERT_NE(out.usClockDivider, 0);
        }
    }
}

} // namespace
} // namespace korval::testing
