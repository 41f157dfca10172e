// The records through which the capture pipeline and the property handlers talk
// to auto exposure: its parameters, one frame's input and the values it answers.
#pragma once

#include "base/DecompressionRecords.h"
#include "platform/NtTypes.h"

// Parameters, copied whole by GetParameters and SetParameters.
typedef struct tagAeParameters {
    UCHAR ucEnable;             // 0: Process changes nothing
    UCHAR ucLongExposure;       // use usMaxExposureLong / usMaxGainLong
    UCHAR ucAlternateTable;     // 0: the normal timing table, else the alternate one
    UCHAR ucFractionalExposure; // allow exposures below one flicker period
    UCHAR ucStepBoost;          // brightness steps scaled by 1 + boost / 4
    UCHAR ucTargetLuma;         // brightness target
    UCHAR ucTolerance;          // half width of the brightness band
    UCHAR ucUnused;             // carried for the settings, not read by auto exposure
    UCHAR ucMainsFrequency;     // Hz; the flicker period is half a mains period
    UCHAR ucManualExposure;     // with ucEnable 0: hold the exposure at ucTargetLuma milliseconds
    USHORT usFifoBytes;         // camera buffer allowance of the line-by-line bandwidth test
    USHORT usPacketSize;        // bytes per isochronous packet
    USHORT usMaxExposure;       // longest exposure, in flicker periods, without long exposure
    USHORT usMaxExposureLong;   // longest exposure with long exposure
    USHORT usMinExposureDivisor; // shortest exposure is 1 / this
    USHORT usKneeExposure;
    USHORT usKneeExposureLong;
    USHORT usMaxGain;           // gain value at the longest exposure, without long exposure
    USHORT usMaxGainLong;       // gain value at the longest exposure, with long exposure
    USHORT usMidGain;
    USHORT usBaseGain;          // gain value at short exposures
    USHORT usMinRow;            // fastest timing row allowed, 0..9
    USHORT usUpMaxDropped;      // a frame counts towards a faster row only within these
    USHORT usUpMaxStep17;
    USHORT usUpMaxStep9;
    USHORT usUpMinStep5;
    UCHAR ucUpFrames;           // consecutive such frames needed
    USHORT usDownMaxDropped;    // a frame outside these pushes towards a slower row
    USHORT usDownMaxStep17;
    USHORT usDownMaxStep9;
    USHORT usDownMinStep5;
    UCHAR ucDownFrames;         // consecutive such frames needed
    UCHAR ucRatioMargin;        // added to every row's ratio threshold
} AeParameters, *PAeParameters;
static_assert(sizeof(tagAeParameters) == 54);

// One frame as the pipeline hands it over: brightness, the camera's current
// values and the decoder's statistics.
typedef struct tagAeInput {
    UCHAR ucLuma;
    USHORT usLineClocks;
    USHORT usClockDivider;
    USHORT usFrameLines;
    USHORT usExposureStartLine;
    USHORT usFineDelay;
    USHORT usGain;
    USHORT usRateValue;
    USHORT usShortExposureValue;
    UCHAR aucFrameHeader[10];
    UCHAR aucFrameTrailer[10];
    ULONG ulRawLines;
    ULONG ulStep5Lines;
    ULONG ulStep9Lines;
    ULONG ulStep17Lines;
    ULONG ulDroppedLines;
    ULONG ulCompressionRatio;   // width × height × 128 / raw frame length
    tagSDecompressionInformation* psLines; // one record per sensor line
} AeInput, *PAeInput;

// New camera values, each with a flag that tells whether it changed.
typedef struct tagAeOutput {
    BOOLEAN bAnyChanged;
    BOOLEAN bLineClocksChanged;
    BOOLEAN bClockDividerChanged;
    BOOLEAN bFrameLinesChanged;
    BOOLEAN bExposureStartChanged;
    BOOLEAN bFineDelayChanged;
    BOOLEAN bTimingChanged;     // any of the five above
    BOOLEAN bGainChanged;
    BOOLEAN bRateChanged;       // also covers usExtra1..usExtra4
    BOOLEAN bShortExposureChanged;
    BOOLEAN bFrameUsable;       // 0 while frames after a change are skipped
    USHORT usLineClocks;
    USHORT usClockDivider;
    USHORT usFrameLines;
    USHORT usExposureStartLine;
    USHORT usFineDelay;
    USHORT usGain;
    USHORT usRateValue;
    USHORT usShortExposureValue;
    USHORT usExtra1;
    USHORT usExtra2;
    USHORT usExtra3;
    USHORT usExtra4;
    ULONG ulExposure1024;       // exposure in flicker periods × 1024, truncated
} AeOutput, *PAeOutput;
static_assert(sizeof(tagAeOutput) == 40);

// One frame timing: a divider of the 12 MHz master clock and its limits.
typedef struct tagAeTimingRow {
    USHORT usClockDivider;
    USHORT usLineClocks;
    USHORT usRateValue;       // passed through to the camera, scaled by the packet size
    USHORT usLineBudget;      // per-line bytes of the bandwidth test, scaled likewise
    USHORT usRatioThreshold;  // compression ratio × 128 needed to move into this row
    USHORT usFramesPerSecond; // for the reader of the table; not used
    USHORT usMaxExposure;     // longest exposure this row allows
    USHORT usExtra1;
    USHORT usExtra2;
    USHORT usExtra3;
    USHORT usExtra4;
} AeTimingRow, *PAeTimingRow;
static_assert(sizeof(tagAeTimingRow) == 22);
