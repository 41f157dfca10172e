// Auto-exposure test helpers: a CAe that shows its protected steps and state,
// the parameters the pipeline uses without stored settings, and frames whose
// line statistics neither speed up nor slow down the timing.
#pragma once

#include <cstdint>
#include <vector>

#include "ae/CAe.h"

namespace korval::testing {

class CAeProbe : public CAe {
public:
    using CAe::Ceil;
    using CAe::CompressedRegionTest;
    using CAe::Floor;
    using CAe::NewAeSetting;
    using CAe::NewAeTransform;
    using CAe::NewGainTransform;

    USHORT row() const { return m_usRow; }
    void setRow(USHORT row) { m_usRow = row; }
    USHORT minRow() const { return m_usMinRow; }
    double total() const { return m_dTotal; }
    void setTotal(double total) { m_dTotal = total; }
    double exposure() const { return m_dExposure; }
    double stepFactor() const { return m_dStepFactor; }
    UCHAR upperLuma() const { return m_ucUpperLuma; }
    UCHAR lowerLuma() const { return m_ucLowerLuma; }
    UCHAR upCount() const { return m_ucUpCount; }
    const tagAeTimingRow& timingRow(int index) const { return m_asRows[index]; }
};

constexpr ULONG kSensorWidth = 352;
constexpr ULONG kSensorHeight = 288;

inline tagAeParameters defaultParameters(USHORT packetSize = 1023, USHORT minRow = 0)
{
    tagAeParameters p{};
    p.ucEnable = 1;
    p.ucLongExposure = 1;
    p.ucTargetLuma = 100;
    p.ucTolerance = 10;
    p.ucUnused = 60;
    p.ucMainsFrequency = 60;
    p.usFifoBytes = 1024;
    p.usPacketSize = packetSize;
    p.usMaxExposure = 13;
    p.usMaxExposureLong = 39;
    p.usMinExposureDivisor = 32;
    p.usKneeExposure = 12;
    p.usKneeExposureLong = 12;
    p.usMaxGain = 18;
    p.usMaxGainLong = 4;
    p.usMidGain = 18;
    p.usBaseGain = 4;
    p.usMinRow = minRow;
    p.usUpMaxDropped = 0;
    p.usUpMaxStep17 = 0;
    p.usUpMaxStep9 = 30;
    p.usUpMinStep5 = 250;
    p.ucUpFrames = 2;
    p.usDownMaxDropped = 0;
    p.usDownMaxStep17 = 2;
    p.usDownMaxStep9 = 288;
    p.usDownMinStep5 = 0;
    p.ucDownFrames = 1;
    p.ucRatioMargin = 0;
    return p;
}

// A frame as the camera would send it with the values of `current`: all lines
// step-5 coded, a compression ratio below every row's threshold, so that it
// moves the timing neither faster nor slower.
inline tagAeInput neutralFrame(const tagAeOutput& current, UCHAR luma,
                               std::vector<tagSDecompressionInformation>* lines = nullptr)
{
    tagAeInput in{};
    in.ucLuma = luma;
    in.usLineClocks = current.usLineClocks;
    in.usClockDivider = current.usClockDivider;
    in.usFrameLines = current.usFrameLines;
    in.usExposureStartLine = current.usExposureStartLine;
    in.usFineDelay = current.usFineDelay;
    in.usGain = current.usGain;
    in.usRateValue = current.usRateValue;
    in.usShortExposureValue = current.usShortExposureValue;
    in.ulStep5Lines = kSensorHeight;
    in.ulCompressionRatio = 38;
    in.psLines = lines != nullptr ? lines->data() : nullptr;
    return in;
}

// An opened CAe with the output record the pipeline keeps from frame to frame.
struct OpenedAe {
    explicit OpenedAe(const tagAeParameters& parameters = defaultParameters(), ULONG height = kSensorHeight)
        : records(height, tagSDecompressionInformation{DECOMPRESSION_KIND_STEP5, 100})
    {
        opened = ae.Open(kSensorWidth, height, false, 0, parameters, &out);
    }

    // One frame with the current values; returns Process's result.
    bool frame(UCHAR luma) { return process(neutralFrame(out, luma, &records)); }
    bool process(const tagAeInput& in) { return ae.Process(in, &out); }
    void warmUp()
    {
        for (int i = 0; i < 10; ++i) {
            frame(ae.upperLuma());
        }
    }

    CAeProbe ae;
    tagAeOutput out{};
    std::vector<tagSDecompressionInformation> records;
    bool opened = false;
};

} // namespace korval::testing
