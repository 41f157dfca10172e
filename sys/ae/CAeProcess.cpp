// CAe::Process: one frame's judgement of bandwidth and brightness.
#include "ae/CAe.h"
#include "platform/KernelFloatingPoint.h"

namespace {

constexpr USHORT SLOWER_ROW_LIMIT = 4;      // rows above this are never slowed by the line counts
constexpr USHORT HIGH_RATE_VALUE = 178;     // the camera already sends at its full rate
constexpr UCHAR COUNTER_LIMIT = 0xFF;
constexpr UCHAR SKIP_AFTER_DIVIDER_CHANGE = 2;
constexpr UCHAR SKIP_AFTER_CHANGE = 1;
constexpr double DARK_STEP = 0.1;
constexpr double VERY_DARK_STEP = 0.2;
constexpr double HALF = 0.5;
constexpr double SEVEN_TENTHS = 0.7;
constexpr double BRIGHT_STEP_FAR = 0.5;
constexpr double BRIGHT_STEP_MID = 0.3;
constexpr double BRIGHT_STEP_NEAR = 0.1;

void CopyCurrentValues(const tagAeInput& input, tagAeOutput* output)
{
    output->bAnyChanged = FALSE;
    output->bLineClocksChanged = FALSE;
    output->bClockDividerChanged = FALSE;
    output->bFrameLinesChanged = FALSE;
    output->bExposureStartChanged = FALSE;
    output->bFineDelayChanged = FALSE;
    output->bTimingChanged = FALSE;
    output->bGainChanged = FALSE;
    output->bRateChanged = FALSE;
    output->bShortExposureChanged = FALSE;
    output->bFrameUsable = TRUE;
    output->usLineClocks = input.usLineClocks;
    output->usClockDivider = input.usClockDivider;
    output->usFrameLines = input.usFrameLines;
    output->usExposureStartLine = input.usExposureStartLine;
    output->usFineDelay = input.usFineDelay;
    output->usGain = input.usGain;
    output->usRateValue = input.usRateValue;
    output->usShortExposureValue = input.usShortExposureValue;
}

void CountUp(UCHAR* counter)
{
    if (*counter < COUNTER_LIMIT) {
        ++*counter;
    }
}

} // namespace

bool CAe::Process(tagAeInput input, tagAeOutput* output)
{
    KorvalVerifyFloatingPointState("CAe::Process");
    if (output == nullptr) {
        return false;
    }
    if (!m_bIsOpen) {
        Finish(output);
        return false;
    }
    CopyCurrentValues(input, output);
    const bool manual = m_sParameters.ucEnable == 0 && m_sParameters.ucManualExposure != 0;
    if ((m_sParameters.ucEnable == 0 && !manual) || m_ulFrameCount < m_ucWarmupFrames) {
        return Finish(output);
    }
    const bool lost = input.ulDroppedLines == m_ulHeight;
    if (!lost && m_ucFramesSkipped < m_ucFramesToSkip) {
        // The camera may still be sending frames taken with the old values.
        ++m_ucFramesSkipped;
        output->bFrameUsable = FALSE;
        return Finish(output);
    }
    const bool allRaw = input.ulRawLines == m_ulHeight;
    bool rowChanged = MoveToFasterRow(input);
    if (m_usRow <= SLOWER_ROW_LIMIT && MoveToSlowerRow(input, lost)) {
        rowChanged = true;
    }

    if (manual) {
        HoldManualExposure(rowChanged, input, output);
        CompareGainAndCount(input, output);
        return Finish(output);
    }
    double newExposure = m_dExposure;
    switch (StepBrightness(input.ucLuma, rowChanged, lost, &newExposure, output)) {
    case BRIGHTNESS_FINISH:
        return Finish(output);
    case BRIGHTNESS_APPLY:
        ApplyTiming(newExposure, input, output);
        break;
    case BRIGHTNESS_FIT_ROW:
        if (newExposure != m_dExposure || rowChanged) {
            FitRowToExposure(newExposure, allRaw, input.usRateValue);
            ApplyTiming(newExposure, input, output);
        }
        break;
    }
    CompareGainAndCount(input, output);
    return Finish(output);
}

// Manual exposure: the value is the exposure time in milliseconds, at the
// base gain; 0 is the shortest exposure the camera takes. Counted in flicker
// periods like every exposure here.
double CAe::ManualExposure() const
{
    const double least = 1.0 / m_sParameters.usMinExposureDivisor;
    const double periods = m_sParameters.ucTargetLuma * 2.0 * m_sParameters.ucMainsFrequency / 1000.0;
    return periods < least ? least : periods;
}

// With auto exposure off and a manual exposure set, the bandwidth steps still
// choose the timing row; the brightness loop is replaced by the fixed exposure,
// which also picks the fastest row long enough to hold it.
void CAe::HoldManualExposure(bool rowChanged, const tagAeInput& input, tagAeOutput* output)
{
    const double exposure = ManualExposure();
    SetGain(output, m_usBaseGain);
    m_dTotal = exposure * m_dGainB;
    if (exposure != m_dExposure || rowChanged || m_bParametersChanged) {
        m_bParametersChanged = false;
        FitRowToExposure(exposure, true, input.usRateValue);
        ApplyTiming(exposure, input, output);
    }
}

// Frames that compress well enough, on enough consecutive frames, and whose
// lines would fit the faster row's budget move the timing to a faster row.
bool CAe::MoveToFasterRow(const tagAeInput& input)
{
    if (m_usRow <= m_usMinRow) {
        return false;
    }
    const tagAeParameters& p = m_sParameters;
    const ULONG margin = p.ucRatioMargin;
    const bool good = input.ulDroppedLines <= p.usUpMaxDropped && input.ulStep17Lines <= p.usUpMaxStep17 &&
                      input.ulStep9Lines <= p.usUpMaxStep9 && input.ulStep5Lines >= p.usUpMinStep5 &&
                      input.ulCompressionRatio > m_asRows[m_usRow - 1].usRatioThreshold + margin;
    if (!good) {
        m_ucUpCount = 0;
        return false;
    }
    CountUp(&m_ucUpCount);
    if (m_ucUpCount < p.ucUpFrames || !CompressedRegionTest(input.psLines)) {
        return false;
    }
    --m_usRow;
    m_ucUpCount = 0;
    while (m_usRow > m_usMinRow &&
           input.ulCompressionRatio >= m_asRows[m_usRow - 1].usRatioThreshold + margin) {
        --m_usRow;
    }
    return true;
}

// Frames that need coarse codes or lose lines push the timing to a slower row.
bool CAe::MoveToSlowerRow(const tagAeInput& input, bool lost)
{
    if (m_usRow < m_usMinRow) {
        m_usRow = m_usMinRow;
        m_ucDownCount = 0;
        return true;
    }
    const tagAeParameters& p = m_sParameters;
    const bool bad = input.ulDroppedLines > p.usDownMaxDropped || input.ulStep17Lines > p.usDownMaxStep17 ||
                     input.ulStep9Lines > p.usDownMaxStep9 || input.ulStep5Lines < p.usDownMinStep5;
    if (bad) {
        CountUp(&m_ucDownCount);
        if (m_ucDownCount < p.ucDownFrames) {
            return false;
        }
        m_ucDownCount = 0;
        ++m_usRow;
        return true;
    }
    m_ucDownCount = 0;
    if (lost) {
        ++m_usRow;
        return true;
    }
    return false;
}

CAe::BrightnessResult CAe::StepBrightness(UCHAR luma, bool rowChanged, bool lost, double* newExposure,
                                          tagAeOutput* output)
{
    if (luma >= m_ucLowerLuma && luma <= m_ucUpperLuma) {
        if (rowChanged) {
            return BRIGHTNESS_FIT_ROW;
        }
        if (m_bParametersChanged) {
            NewAeSetting(newExposure, output);
            m_bParametersChanged = false;
            return BRIGHTNESS_APPLY;
        }
        return lost ? BRIGHTNESS_APPLY : BRIGHTNESS_FINISH;
    }
    m_dTotal += luma < m_ucLowerLuma ? DarkStep(luma) : BrightStep(luma);
    NewAeSetting(newExposure, output);
    return BRIGHTNESS_FIT_ROW;
}

// Up to 7 × 0.2 of the total for a black frame; never less than a tenth of the exposure.
double CAe::DarkStep(UCHAR luma) const
{
    double ratio = luma == 0 ? m_dMaxRatio : m_sParameters.ucTargetLuma / static_cast<double>(luma);
    if (ratio > m_dMaxRatio) {
        ratio = m_dMaxRatio;
    }
    const double factor = ratio < m_dMaxRatio ? DARK_STEP : VERY_DARK_STEP;
    const double step = (ratio - 1) * m_dStepFactor * factor * m_dTotal;
    const double least = m_dMinStepFraction * m_dExposure;
    return step < least ? least : step;
}

// A fixed fraction of the total for saturated frames, else by how far the luma
// overshoots; always down by at least a tenth of the exposure.
double CAe::BrightStep(UCHAR luma) const
{
    const double ratio = m_sParameters.ucTargetLuma / static_cast<double>(luma);
    double step;
    if (luma > m_dSaturatedLuma) {
        step = m_dOverStep * m_dTotal;
    } else {
        const double factor = ratio < HALF ? BRIGHT_STEP_FAR : ratio < SEVEN_TENTHS ? BRIGHT_STEP_MID
                                                                                   : BRIGHT_STEP_NEAR;
        step = (ratio - 1) * m_dStepFactor * factor * m_dTotal;
    }
    const double most = -m_dMinStepFraction * m_dExposure;
    return step > most ? most : step;
}

// The slowest row whose longest exposure reaches the new exposure; back to faster
// rows only when the camera's data cannot be the limit.
void CAe::FitRowToExposure(double newExposure, bool allRaw, USHORT currentRateValue)
{
    while (m_usRow < MAX_ROW && m_asRows[m_usRow].usMaxExposure < newExposure) {
        ++m_usRow;
    }
    if (m_usRow > m_usMinRow && (allRaw || currentRateValue >= HIGH_RATE_VALUE)) {
        while (m_usRow > m_usMinRow && m_asRows[m_usRow - 1].usMaxExposure >= newExposure) {
            --m_usRow;
        }
    }
}

void CAe::ApplyTiming(double newExposure, const tagAeInput& input, tagAeOutput* output)
{
    const bool extrasChanged = output->usExtra1 != m_asRows[m_usRow].usExtra1 ||
                               output->usExtra2 != m_asRows[m_usRow].usExtra2 ||
                               output->usExtra3 != m_asRows[m_usRow].usExtra3 ||
                               output->usExtra4 != m_asRows[m_usRow].usExtra4;
    WriteRow(output);
    m_dExposure = newExposure;
    NewAeTransform(newExposure, output);
    output->bLineClocksChanged = output->usLineClocks != input.usLineClocks;
    output->bClockDividerChanged = output->usClockDivider != input.usClockDivider;
    output->bFrameLinesChanged = output->usFrameLines != input.usFrameLines;
    output->bExposureStartChanged = output->usExposureStartLine != input.usExposureStartLine;
    output->bFineDelayChanged = output->usFineDelay != input.usFineDelay;
    output->bRateChanged = extrasChanged || output->usRateValue != input.usRateValue;
    output->bShortExposureChanged = output->usShortExposureValue != input.usShortExposureValue;
}

void CAe::CompareGainAndCount(const tagAeInput& input, tagAeOutput* output)
{
    output->bGainChanged = output->usGain != input.usGain;
    output->bTimingChanged = output->bLineClocksChanged || output->bClockDividerChanged ||
                             output->bFrameLinesChanged || output->bExposureStartChanged ||
                             output->bFineDelayChanged;
    output->bAnyChanged = output->bTimingChanged || output->bGainChanged || output->bRateChanged ||
                          output->bShortExposureChanged;
    if (output->bAnyChanged) {
        m_ucFramesSkipped = 0;
        m_ucFramesToSkip = output->bClockDividerChanged ? SKIP_AFTER_DIVIDER_CHANGE : SKIP_AFTER_CHANGE;
    }
}

// Exposure × 1024, truncated. Inconsistent gain limits can split a total into
// an exposure beyond 32 bits of 1/1024 periods; it saturates.
ULONG CAe::Exposure1024() const
{
    const double scaled = m_dExposure * 1024;
    return scaled < 4294967295.0 ? static_cast<ULONG>(scaled) : 0xFFFFFFFFu;
}

bool CAe::Finish(tagAeOutput* output)
{
    output->ulExposure1024 = Exposure1024();
    if (m_ulFrameCount != 0xFFFFFFFFu) {
        ++m_ulFrameCount;
    }
    return true;
}
