// CAe: splitting the total exposure into exposure and gain, turning an exposure
// into sensor timing, and the line-by-line bandwidth test.
#include "ae/CAe.h"

#include "runtime/KernelMath.h"

namespace {

constexpr double LONG_MAX_VALUE = 2147483647.0;
constexpr double LONG_MIN_VALUE = -2147483648.0;
constexpr LONG LONG_MAX_RESULT = 2147483647;
constexpr LONG LONG_MIN_RESULT = -2147483647 - 1;
constexpr double KNEE_EXPOSURE = 4.0;       // the exposure below which gain is traded first
constexpr double FINE_DELAY_MAX_LINES = 20.0;
constexpr LONG FINE_DELAY_OFFSET = 88;
constexpr USHORT FINE_DELAY_SHORT_FRAME = 5;
constexpr USHORT FINE_DELAY_LONG_FRAME = 1;
constexpr ULONG MAX_FRAME_LINES = 0xFFFF;

// Sensor lines that cover an exposure of `lines`: rounded up, never beyond the
// 16-bit frame-line register, and at least one line so that the exposure start
// stays inside the frame even for a maximum exposure of 0.
ULONG LinesCovering(double lines)
{
    if (!(lines < MAX_FRAME_LINES)) {
        return lines != lines ? 1 : MAX_FRAME_LINES;
    }
    if (lines <= 0) {
        return 1;
    }
    const ULONG whole = static_cast<ULONG>(lines);
    return whole + (lines > whole ? 1 : 0);
}

struct ShortExposureCodes {
    USHORT usAbove2;
    USHORT usAt2;
    USHORT usBelow2;
};
const ShortExposureCodes kShortExposureCodes[CAe::MAX_SENSOR_MODE + 1] = {
    {46, 19, 8}, {8, 36, 40}, {8, 36, 40}};

} // namespace

// Truncation toward zero, then one down for every x < 0 (so Floor(-2.0) is -3).
// Values beyond 32 bits saturate; the rule's result is kept wherever it fits.
LONG CAe::Floor(double value)
{
    if (value != value) {
        return 0;
    }
    if (value >= LONG_MAX_VALUE) {
        return LONG_MAX_RESULT;
    }
    if (value <= LONG_MIN_VALUE + 1) {
        return LONG_MIN_RESULT;
    }
    const LONG truncated = static_cast<LONG>(value);
    return value >= 0 ? truncated : truncated - 1;
}

// Truncation toward zero, then one up for every x >= 0 (so Ceil(3.0) is 4).
LONG CAe::Ceil(double value)
{
    if (value != value) {
        return 0;
    }
    if (value >= LONG_MAX_VALUE - 1) {
        return LONG_MAX_RESULT;
    }
    if (value <= LONG_MIN_VALUE) {
        return LONG_MIN_RESULT;
    }
    const LONG truncated = static_cast<LONG>(value);
    return value >= 0 ? truncated + 1 : truncated;
}

LONG CAe::NewGainTransform(double total, double exposure, bool down) const
{
    const double gain = (total / exposure - 1) * m_dGainScale;
    return down ? Floor(gain) : Ceil(gain);
}

// The gain register cannot go below 0 or past 16 bits: saturate instead of wrapping.
void CAe::SetGain(tagAeOutput* output, LONG gain) const
{
    if (gain < 0) {
        gain = 0;
    } else if (gain > 0xFFFF) {
        gain = 0xFFFF;
    }
    output->usGain = static_cast<USHORT>(gain);
}

void CAe::NewAeSetting(double* exposure, tagAeOutput* output)
{
    if (m_dTotal < m_dMinTotal) {
        if (m_sParameters.ucFractionalExposure == 0) {
            m_dTotal = m_dTotalB;
            *exposure = m_dUnitExposure;
        } else {
            m_dTotal = m_dMinTotal;
            *exposure = m_dUnitExposure / m_sParameters.usMinExposureDivisor;
        }
        SetGain(output, m_usBaseGain);
    } else if (m_dTotal >= m_dMaxTotal) {
        m_dTotal = m_dMaxTotal;
        const bool isLong = m_sParameters.ucLongExposure != 0;
        *exposure = isLong ? m_sParameters.usMaxExposureLong : m_sParameters.usMaxExposure;
        SetGain(output, isLong ? m_sParameters.usMaxGainLong : m_sParameters.usMaxGain);
    } else if (m_bStrictBandwidth || m_dTotal < m_dTotal4B) {
        SplitShortTotal(exposure, output);
    } else {
        SplitLongTotal(exposure, output);
    }
}

// Totals below four flicker periods' worth (or any total under strict bandwidth).
void CAe::SplitShortTotal(double* exposure, tagAeOutput* output)
{
    if (m_bStrictBandwidth && m_dTotal >= m_dTotalB) {
        // A maximum long gain above the total would give exposure 0 and a
        // division by zero: one flicker period is the least.
        const LONG periods = Floor(m_dTotal / m_dGainD);
        *exposure = periods < 1 ? m_dUnitExposure : periods;
        SetGain(output, NewGainTransform(m_dTotal, *exposure, true));
    } else if (m_sParameters.ucFractionalExposure == 0 && m_dTotal < m_dTotalB) {
        m_dTotal = m_dTotalB;
        *exposure = m_dUnitExposure;
        SetGain(output, m_usBaseGain);
    } else {
        SplitByPowerOfTwo(exposure, output);
    }
}

void CAe::SplitByPowerOfTwo(double* exposure, tagAeOutput* output)
{
    *exposure = KorvalLdexp(1.0, Floor(KorvalLog(m_dTotal / m_dGainB) / m_dLn2));
    SetGain(output, NewGainTransform(m_dTotal, *exposure, true));
}

// Totals of four flicker periods and more: the exposure grows first, the gain
// follows the knee.
void CAe::SplitLongTotal(double* exposure, tagAeOutput* output)
{
    const bool isLong = m_sParameters.ucLongExposure != 0;
    if (!isLong && m_dTotal > m_dKneeTotal) {
        *exposure = Ceil(m_dTotal / m_dGainC);
        SetGain(output, NewGainTransform(m_dTotal, *exposure, false));
    } else if (isLong && m_dTotal > m_dKneeTotalLong) {
        const LONG periods = Floor(m_dTotal / m_dGainD);
        *exposure = periods < 1 ? m_dUnitExposure : periods;
        SetGain(output, NewGainTransform(m_dTotal, *exposure, true));
    } else if (m_dTotal > m_dTotal4A) {
        *exposure = Ceil(m_dTotal / m_dGainA);
        SetGain(output, NewGainTransform(m_dTotal, *exposure, false));
    } else {
        *exposure = KNEE_EXPOSURE;
        SetGain(output, NewGainTransform(m_dTotal, KNEE_EXPOSURE, true));
    }
}

void CAe::NewAeTransform(double exposure, tagAeOutput* output)
{
    const double clocks =
        static_cast<double>(m_ulMasterClock) / output->usClockDivider * exposure /
        (2 * m_sParameters.ucMainsFrequency);
    const double lines = clocks / output->usLineClocks;
    const ULONG covered = LinesCovering(lines);

    const ULONG fullFrame = m_usMinFrameLines - m_usFirstLine + 1;
    if (covered < fullFrame) {
        output->usFrameLines = m_usMinFrameLines;
        output->usExposureStartLine = static_cast<USHORT>(fullFrame - covered + 1);
    } else {
        output->usFrameLines = static_cast<USHORT>(covered);
        output->usExposureStartLine = m_usFirstLine;
    }

    output->usFineDelay = FineDelay(clocks, lines, covered, *output);

    const ShortExposureCodes& codes = kShortExposureCodes[m_ucSensorMode <= MAX_SENSOR_MODE ? m_ucSensorMode : 0];
    output->usShortExposureValue = covered > 2 ? codes.usAbove2 : covered == 2 ? codes.usAt2 : codes.usBelow2;
}

// Short exposures are trimmed within their last line; a fine delay that would
// be negative falls back to the sensor's fixed values.
USHORT CAe::FineDelay(double clocks, double lines, ULONG covered, const tagAeOutput& output) const
{
    if (lines > FINE_DELAY_MAX_LINES) {
        return FINE_DELAY_LONG_FRAME;
    }
    const SHORT delay = static_cast<SHORT>(static_cast<LONG>(output.usLineClocks * covered) -
                                           static_cast<LONG>(clocks) - FINE_DELAY_OFFSET);
    if (delay > m_usMaxFineDelay) {
        return m_usMaxFineDelay;
    }
    if (delay >= 0) {
        return static_cast<USHORT>(delay);
    }
    return output.usFrameLines == m_usMinFrameLines ? FINE_DELAY_SHORT_FRAME : FINE_DELAY_LONG_FRAME;
}

// Whether the frame's lines would have fitted the next faster row's per-line
// budget, with the camera's buffer absorbing the excess of the longer lines.
bool CAe::CompressedRegionTest(const tagSDecompressionInformation* lines) const
{
    if (lines == nullptr || m_usRow == 0) {
        return false;
    }
    const LONG budget = m_asRows[m_usRow - 1].usLineBudget;
    const LONG allowance = m_sParameters.usFifoBytes;
    LONG backlog = 0;
    for (ULONG line = 0; line < m_ulHeight; ++line) {
        backlog += lines[line].usLength - budget;
        if (backlog < 0) {
            backlog = 0;
        }
        if (backlog > allowance) {
            return false;
        }
    }
    return true;
}
