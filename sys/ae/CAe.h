// Auto exposure: keeps the picture's mean brightness near its target through
// exposure and gain, and picks the camera's frame timing so that the compressed
// video still fits the isochronous bandwidth.
//
// The exposure E counts flicker periods (half a mains period); the analogue gain
// is G = 1 + g / 10 for the camera's gain value g; the brightness loop steers the
// total T = E × G.
#pragma once

#include "base/AeRecords.h"
#include "base/PoolAllocator.h"

class KORVAL_EXPORT CAe : public CPoolObject {
public:
    enum { TIMING_ROWS = 10, MAX_ROW = TIMING_ROWS - 1, MAX_SENSOR_MODE = 2 };

    CAe();

    bool Open(ULONG width, ULONG height, bool strictBandwidth, UCHAR sensorMode,
              const tagAeParameters& parameters, tagAeOutput* output);
    bool Close();
    bool GetParameters(tagAeParameters* parameters) const;
    // Refuses (false, nothing changed) a record the loop cannot work with: a mains
    // frequency, packet size or minimum-exposure divisor of 0, or a row above 9.
    bool SetParameters(const tagAeParameters& parameters);
    bool Process(tagAeInput input, tagAeOutput* output);

    static bool ParametersUsable(const tagAeParameters& parameters);

protected:
    // What the brightness step leaves for the rest of Process to do.
    enum BrightnessResult { BRIGHTNESS_FINISH, BRIGHTNESS_APPLY, BRIGHTNESS_FIT_ROW };

    void NewAeSetting(double* exposure, tagAeOutput* output);
    void NewAeTransform(double exposure, tagAeOutput* output);
    USHORT FineDelay(double clocks, double lines, ULONG covered, const tagAeOutput& output) const;
    LONG NewGainTransform(double total, double exposure, bool down) const;
    bool CompressedRegionTest(const tagSDecompressionInformation* lines) const;
    static LONG Floor(double value);
    static LONG Ceil(double value);

    void FillTemplates();
    void DeriveLimits(const tagAeParameters& parameters);
    void BuildRows(const tagAeParameters& parameters);
    void ScaleRowsForPacketSize(const tagAeParameters& parameters);
    void WriteRow(tagAeOutput* output) const;
    void SplitShortTotal(double* exposure, tagAeOutput* output);
    void SplitLongTotal(double* exposure, tagAeOutput* output);
    void SplitByPowerOfTwo(double* exposure, tagAeOutput* output);
    void SetGain(tagAeOutput* output, LONG gain) const;
    bool MoveToFasterRow(const tagAeInput& input);
    bool MoveToSlowerRow(const tagAeInput& input, bool lost);
    BrightnessResult StepBrightness(UCHAR luma, bool rowChanged, bool lost, double* newExposure,
                                    tagAeOutput* output);
    double DarkStep(UCHAR luma) const;
    double BrightStep(UCHAR luma) const;
    void FitRowToExposure(double newExposure, bool allRaw, USHORT currentRateValue);
    void ApplyTiming(double newExposure, const tagAeInput& input, tagAeOutput* output);
    void CompareGainAndCount(const tagAeInput& input, tagAeOutput* output);
    ULONG Exposure1024() const;
    bool Finish(tagAeOutput* output);
    double ManualExposure() const;
    void HoldManualExposure(bool rowChanged, const tagAeInput& input, tagAeOutput* output);

    bool m_bIsOpen;
    bool m_bParametersChanged;
    bool m_bStrictBandwidth;
    UCHAR m_ucSensorMode;
    tagAeParameters m_sParameters;
    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulMasterClock;
    USHORT m_usInitialExposure;
    USHORT m_usInitialGain;
    USHORT m_usBaseGain;
    USHORT m_usMidGain;
    USHORT m_usMinFrameLines;
    USHORT m_usFirstLine;
    USHORT m_usMaxFineDelay;
    double m_dGainScale;
    double m_dMinStepFraction;
    UCHAR m_ucUpperLuma;
    UCHAR m_ucLowerLuma;
    ULONG m_ulFrameCount;
    UCHAR m_ucFramesToSkip;
    UCHAR m_ucFramesSkipped;
    UCHAR m_ucWarmupFrames;
    USHORT m_usRow;
    double m_dExposure;
    double m_dTotal;
    double m_dMaxTotal;
    double m_dMinTotal;
    double m_dTotal4B;
    double m_dTotal4A;
    double m_dTotalB;
    double m_dGainA;
    double m_dGainB;
    double m_dKneeTotal;
    double m_dKneeTotalLong;
    double m_dGainC;
    double m_dGainD;
    double m_dMaxRatio;
    double m_dSaturatedLuma;
    double m_dOverStep;
    double m_dStepFactor;
    double m_dUnitExposure;
    UCHAR m_ucUpCount;
    UCHAR m_ucDownCount;
    USHORT m_usMaxExposureNow;
    USHORT m_usMinRow;
    double m_dLn2;
    tagAeTimingRow m_asRows[TIMING_ROWS];
    tagAeTimingRow m_asRowsNormal[TIMING_ROWS];
    tagAeTimingRow m_asRowsAlternate[TIMING_ROWS];
};
