// The capture pipeline's register traffic: the auto exposure's first settings
// at set-up, the orientation check, and each frame's changed exposure, timing
// and white-balance values, written group by group and committed as one batch.
#include "usb/CCameraRegisters.h"

VOID CCameraRegisters::StoreExposureStart(const tagAeOutput& ae)
{
    Field[FIELD_CLOCK_CODE] = ae.usLineClocks;
    Field[FIELD_CLOCK_DIVIDER] = ae.usClockDivider;
    Field[FIELD_FRAME_LINES] = ae.usFrameLines;
    Field[FIELD_EXPOSURE_START_LINE] = ae.usExposureStartLine;
    Field[FIELD_FINE_DELAY] = ae.usFineDelay;
    Field[FIELD_GAIN] = ae.usGain;
    StoreRate(ae);
}

VOID CCameraRegisters::StoreRate(const tagAeOutput& ae)
{
    Field[FIELD_RATE_VALUE] = ae.usRateValue;
    Field[FIELD_EXTRA1 + 0] = ae.usExtra1;
    Field[FIELD_EXTRA1 + 1] = ae.usExtra2;
    Field[FIELD_EXTRA1 + 2] = ae.usExtra3;
    Field[FIELD_EXTRA1 + 3] = ae.usExtra4;
}

// Timing values count only with the timing flag; every value needs its own flag.
VOID CCameraRegisters::StoreExposureChanges(const tagAeOutput& ae)
{
    if (!ae.bAnyChanged) {
        return;
    }
    const bool timing = ae.bTimingChanged;
    StoreIf(timing && ae.bLineClocksChanged, FIELD_CLOCK_CODE, ae.usLineClocks);
    StoreIf(timing && ae.bClockDividerChanged, FIELD_CLOCK_DIVIDER, ae.usClockDivider);
    StoreIf(timing && ae.bFrameLinesChanged, FIELD_FRAME_LINES, ae.usFrameLines);
    StoreIf(timing && ae.bExposureStartChanged, FIELD_EXPOSURE_START_LINE, ae.usExposureStartLine);
    StoreIf(timing && ae.bFineDelayChanged, FIELD_FINE_DELAY, ae.usFineDelay);
    StoreIf(ae.bShortExposureChanged, FIELD_SHORT_EXPOSURE, ae.usShortExposureValue);
    StoreIf(ae.bGainChanged, FIELD_GAIN, ae.usGain);
    if (ae.bRateChanged) {
        StoreRate(ae);
    }
}

VOID CCameraRegisters::StoreIf(bool changed, ULONG field, ULONG value)
{
    if (changed) {
        Field[field] = value;
    }
}

bool CCameraRegisters::WriteExposureStart()
{
    EncodeImage();
    return WriteImageRange(REGISTER_CLOCK_DIVIDER, 7) && WriteImageRegister(REGISTER_GAIN) &&
           WriteImageRegister(REGISTER_LINE_CLOCKS) && WriteImageRange(REGISTER_EXTRA, 8) &&
           WriteImageRegister(REGISTER_RATE_VALUE) && CommitBatch();
}

// Reads register 0x00 until it answers one of the two orientation bytes, at
// most ORIENTATION_READ_ATTEMPTS times; *orientation holds the last answer.
bool CCameraRegisters::ReadOrientation(PUCHAR orientation)
{
    if (orientation == nullptr) {
        return false;
    }
    for (ULONG attempt = 0; attempt < ORIENTATION_READ_ATTEMPTS; ++attempt) {
        if (!ReadRegister(REGISTER_ORIENTATION, orientation)) {
            return false;
        }
        if (*orientation == 0x00 || *orientation == 0xFF) {
            return true;
        }
    }
    return false;
}

// Exposure start line and fine delay share register 0x07: when 0x07 has just
// gone out with the start line, the fine delay needs only its own 0x06.
bool CCameraRegisters::WriteTimingChanges(const tagAeOutput& ae)
{
    if (ae.bClockDividerChanged && !WriteImageRegister(REGISTER_CLOCK_DIVIDER)) {
        return false;
    }
    if (ae.bFrameLinesChanged && !WriteImageRange(REGISTER_FRAME_LINES, 2)) {
        return false;
    }
    if (ae.bExposureStartChanged &&
        !(WriteImageRegister(REGISTER_EXPOSURE_START) && WriteImageRegister(REGISTER_DELAY_LOW_BITS))) {
        return false;
    }
    if (ae.bFineDelayChanged) {
        const bool written = ae.bExposureStartChanged ? WriteImageRegister(REGISTER_FINE_DELAY)
                                                      : WriteImageRange(REGISTER_FINE_DELAY, 2);
        if (!written) {
            return false;
        }
    }
    return !ae.bLineClocksChanged || WriteImageRegister(REGISTER_LINE_CLOCKS);
}

bool CCameraRegisters::WriteExposureChanges(const tagAeOutput& ae)
{
    if (ae.bShortExposureChanged && !WriteImageRegister(REGISTER_SHORT_EXPOSURE)) {
        return false;
    }
    if (ae.bGainChanged && !WriteImageRegister(REGISTER_GAIN)) {
        return false;
    }
    return !ae.bRateChanged || (WriteImageRange(REGISTER_EXTRA, 8) && WriteImageRegister(REGISTER_RATE_VALUE));
}

// Stops at the first failed request; nothing is committed after a failure.
bool CCameraRegisters::WriteFrameChanges(const tagRegisterFrameChanges& changes)
{
    EncodeImage();
    const tagAeOutput* ae = changes.psAeOutput;
    const bool anyChanged = ae != nullptr && ae->bAnyChanged;
    if (anyChanged && ae->bTimingChanged && !WriteTimingChanges(*ae)) {
        return false;
    }
    if (anyChanged && !WriteExposureChanges(*ae)) {
        return false;
    }
    if (changes.bWhiteBalanceWrite && !WriteImageRange(REGISTER_GAIN_INDICES, 5)) {
        return false;
    }
    return !(anyChanged || changes.bWhiteBalanceCommit) || CommitBatch();
}
