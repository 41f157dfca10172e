// CAe: construction, the timing tables, Open / Close and the parameters.
#include "ae/CAe.h"
#include "platform/KernelFloatingPoint.h"

#include "runtime/KernelMath.h"
#include <cstring>

namespace {

// Columns 0..6 of both timing tables: clock divider, line clocks, rate value,
// line budget, ratio threshold, frames per second, longest exposure.
const USHORT kTimingColumns[CAe::TIMING_ROWS][7] = {
    {3, 444, 54, 112, 384, 30, 4},     {4, 444, 72, 150, 288, 23, 6},
    {5, 444, 90, 187, 230, 18, 7},     {6, 444, 108, 224, 192, 15, 8},
    {7, 444, 126, 261, 166, 13, 10},   {9, 444, 162, 336, 128, 10, 12},
    {11, 444, 198, 411, 105, 8, 15},   {15, 444, 270, 540, 77, 6, 20},
    {20, 444, 360, 720, 58, 4, 26},    {30, 444, 540, 1080, 39, 3, 64},
};
const USHORT kNormalExtras[4] = {200, 600, 650, 700};
const USHORT kAlternateExtras[4] = {400, 500, 590, 600};

constexpr USHORT FULL_SPEED_PACKET = 1023;  // the largest isochronous packet keeps the table's timing
constexpr USHORT SCALE_PACKET = 1024;       // rates and budgets are quoted per 1024-byte packet
constexpr ULONG DIVIDER_PACKET_PRODUCT = 3072;
constexpr USHORT LONG_EXPOSURE_ROW = 6;
constexpr USHORT FULL_SPEED_ROW6_RATE = 178;
constexpr USHORT FULL_SPEED_ROW6_BUDGET = 369;
constexpr USHORT SCALED_LINE_CLOCKS = 512;
constexpr USHORT SCALED_ROW0_MAX_EXPOSURE = 5;
constexpr USHORT MAX_RATE_VALUE = 255;
constexpr ULONG MAX_LINE_BUDGET = 0xFFFF;
constexpr USHORT STRICT_LONG_RATE_VALUE = 200;
constexpr USHORT STRICT_MIN_ROW_SHORT = 3;
constexpr USHORT STRICT_MIN_ROW_LONG = 6;
constexpr USHORT OPEN_ROW = 4;

void FillTable(tagAeTimingRow* rows, const USHORT* extras)
{
    for (ULONG index = 0; index < CAe::TIMING_ROWS; ++index) {
        const USHORT* columns = kTimingColumns[index];
        rows[index] = {columns[0], columns[1], columns[2], columns[3], columns[4], columns[5],
                       columns[6], extras[0],  extras[1],  extras[2],  extras[3]};
    }
}

} // namespace

CAe::CAe()
    : m_bIsOpen(false), m_bParametersChanged(false), m_bStrictBandwidth(false), m_ucSensorMode(99),
      m_sParameters(), m_ulWidth(0), m_ulHeight(0), m_ulMasterClock(12000000), m_usInitialExposure(4),
      m_usInitialGain(10), m_usBaseGain(0), m_usMidGain(0), m_usMinFrameLines(293), m_usFirstLine(1),
      m_usMaxFineDelay(356), m_dGainScale(10.0), m_dMinStepFraction(0.1), m_ucUpperLuma(0),
      m_ucLowerLuma(0), m_ulFrameCount(0), m_ucFramesToSkip(2), m_ucFramesSkipped(2),
      m_ucWarmupFrames(10), m_usRow(OPEN_ROW), m_dExposure(0), m_dTotal(0), m_dMaxTotal(0),
      m_dMinTotal(0), m_dTotal4B(0), m_dTotal4A(0), m_dTotalB(0), m_dGainA(0), m_dGainB(0),
      m_dKneeTotal(0), m_dKneeTotalLong(0), m_dGainC(0), m_dGainD(0), m_dMaxRatio(8.0),
      m_dSaturatedLuma(242.0), m_dOverStep(0), m_dStepFactor(0), m_dUnitExposure(1.0), m_ucUpCount(0),
      m_ucDownCount(0), m_usMaxExposureNow(64), m_usMinRow(0), m_dLn2(KorvalLog(2.0))
{
    FillTemplates();
    std::memcpy(m_asRows, m_asRowsNormal, sizeof(m_asRows));
}

void CAe::FillTemplates()
{
    FillTable(m_asRowsNormal, kNormalExtras);
    FillTable(m_asRowsAlternate, kAlternateExtras);
}

bool CAe::ParametersUsable(const tagAeParameters& parameters)
{
    return parameters.ucMainsFrequency != 0 && parameters.usMinExposureDivisor != 0 &&
           parameters.usPacketSize != 0 && parameters.usMinRow <= MAX_ROW;
}

bool CAe::Open(ULONG width, ULONG height, bool strictBandwidth, UCHAR sensorMode,
               const tagAeParameters& parameters, tagAeOutput* output)
{
    KorvalVerifyFloatingPointState("CAe::Open");
    if (m_bIsOpen || width == 0 || height == 0 || output == nullptr || sensorMode > MAX_SENSOR_MODE ||
        !ParametersUsable(parameters)) {
        return false;
    }
    m_ulWidth = width;
    m_ulHeight = height;
    m_bStrictBandwidth = strictBandwidth;
    m_ucSensorMode = sensorMode;
    m_usRow = OPEN_ROW;
    m_dExposure = m_usInitialExposure;
    SetParameters(parameters);

    // A small packet needs a slow enough clock from the start.
    const UCHAR minimumDivider = static_cast<UCHAR>(DIVIDER_PACKET_PRODUCT / parameters.usPacketSize);
    while (m_usRow < MAX_ROW && m_asRows[m_usRow].usClockDivider < minimumDivider) {
        ++m_usRow;
    }
    if (m_usRow < m_usMinRow) {
        m_usRow = m_usMinRow;
    }
    std::memset(output, 0, sizeof(*output));
    WriteRow(output);
    output->usGain = m_usInitialGain;
    NewAeTransform(m_dExposure, output);
    output->ulExposure1024 = Exposure1024();
    m_bParametersChanged = false;
    m_bIsOpen = true;
    m_dTotal = (m_usInitialGain / m_dGainScale + 1) * m_dExposure;
    // The warm-up counts frames since this Open, whatever came before it.
    m_ulFrameCount = 0;
    m_ucUpCount = 0;
    m_ucDownCount = 0;
    return true;
}

bool CAe::Close()
{
    m_bIsOpen = false;
    m_ulFrameCount = 0;
    m_ucUpCount = 0;
    m_ucDownCount = 0;
    return true;
}

bool CAe::GetParameters(tagAeParameters* parameters) const
{
    if (parameters == nullptr) {
        return false;
    }
    *parameters = m_sParameters;
    return true;
}

bool CAe::SetParameters(const tagAeParameters& parameters)
{
    KorvalVerifyFloatingPointState("CAe::SetParameters");
    if (!ParametersUsable(parameters)) {
        return false;
    }
    DeriveLimits(parameters);
    BuildRows(parameters);
    m_sParameters = parameters;
    m_bParametersChanged = true;
    return true;
}

void CAe::DeriveLimits(const tagAeParameters& parameters)
{
    m_usBaseGain = parameters.usBaseGain;
    m_usMidGain = parameters.usMidGain;
    m_dGainA = 1 + m_usMidGain / m_dGainScale;
    m_dGainB = 1 + m_usBaseGain / m_dGainScale;
    m_dTotal4B = 4 * m_dGainB;
    m_dTotal4A = 4 * m_dGainA;
    m_dTotalB = m_dGainB * m_dUnitExposure;

    const int target = parameters.ucTargetLuma;
    const int tolerance = parameters.ucTolerance;
    m_ucUpperLuma = static_cast<UCHAR>(target + tolerance > 255 ? 255 : target + tolerance);
    m_ucLowerLuma = static_cast<UCHAR>(target - tolerance < 0 ? 0 : target - tolerance);
    m_dOverStep = (target / m_dSaturatedLuma - 1) * 2 / 3;

    m_dKneeTotal = parameters.usKneeExposure * m_dGainA;
    m_dKneeTotalLong = parameters.usKneeExposureLong * m_dGainA;
    m_dGainC = 1 + parameters.usMaxGain / m_dGainScale;
    m_dGainD = 1 + parameters.usMaxGainLong / m_dGainScale;
    m_dMinTotal = m_dGainB / parameters.usMinExposureDivisor;
    m_dStepFactor = 1 + parameters.ucStepBoost / 4.0;

    if (parameters.ucLongExposure == 0) {
        m_usMaxExposureNow = parameters.usMaxExposure;
        m_dMaxTotal = parameters.usMaxExposure * m_dGainC;
    } else {
        m_usMaxExposureNow = parameters.usMaxExposureLong;
        m_dMaxTotal = parameters.usMaxExposureLong * m_dGainD;
    }
}

void CAe::BuildRows(const tagAeParameters& parameters)
{
    std::memcpy(m_asRows, parameters.ucAlternateTable == 0 ? m_asRowsNormal : m_asRowsAlternate,
                sizeof(m_asRows));
    m_usMinRow = parameters.usMinRow;
    if (m_bStrictBandwidth) {
        const USHORT slowest = parameters.ucLongExposure == 0 ? STRICT_MIN_ROW_SHORT : STRICT_MIN_ROW_LONG;
        if (m_usMinRow < slowest) {
            m_usMinRow = slowest;
        }
    }
    if (m_usRow < m_usMinRow) {
        m_usRow = m_usMinRow;
    }
    ScaleRowsForPacketSize(parameters);
}

void CAe::ScaleRowsForPacketSize(const tagAeParameters& parameters)
{
    const ULONG packetSize = parameters.usPacketSize;
    tagAeTimingRow& longRow = m_asRows[LONG_EXPOSURE_ROW];
    if (packetSize == FULL_SPEED_PACKET) {
        longRow.usRateValue = FULL_SPEED_ROW6_RATE;
        longRow.usLineBudget = FULL_SPEED_ROW6_BUDGET;
        longRow.usMaxExposure = m_usMaxExposureNow;
        return;
    }
    m_asRows[0].usMaxExposure = SCALED_ROW0_MAX_EXPOSURE;
    const bool strictLong = m_bStrictBandwidth && parameters.ucLongExposure != 0;
    for (USHORT index = 0; index < TIMING_ROWS; ++index) {
        tagAeTimingRow& row = m_asRows[index];
        const ULONG rate = row.usRateValue * packetSize / SCALE_PACKET;
        row.usLineClocks = SCALED_LINE_CLOCKS;
        row.usRateValue = static_cast<USHORT>(rate > MAX_RATE_VALUE ? MAX_RATE_VALUE : rate);
        if (strictLong && index >= m_usMinRow) {
            row.usRateValue = STRICT_LONG_RATE_VALUE;
        }
        const ULONG budget = row.usLineBudget * packetSize / SCALE_PACKET;
        row.usLineBudget = static_cast<USHORT>(budget > MAX_LINE_BUDGET ? MAX_LINE_BUDGET : budget);
    }
    longRow.usMaxExposure = m_usMaxExposureNow;
}

void CAe::WriteRow(tagAeOutput* output) const
{
    const tagAeTimingRow& row = m_asRows[m_usRow];
    output->usClockDivider = row.usClockDivider;
    output->usLineClocks = row.usLineClocks;
    output->usRateValue = row.usRateValue;
    output->usExtra1 = row.usExtra1;
    output->usExtra2 = row.usExtra2;
    output->usExtra3 = row.usExtra3;
    output->usExtra4 = row.usExtra4;
}
