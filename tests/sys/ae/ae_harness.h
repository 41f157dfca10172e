// Auto-exposure test helpers: a CAe that shows its protected steps and state,
// and frames whose line statistics neither speed up nor slow down the timing
// (the built-in parameters are in support/ae_parameters.h).
#pragma once

#include <cstdint>
#include <vector>

#include "ae/CAe.h"
#include "support/ae_parameters.h"

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
