// What a frame tells the camera and what the camera tells the frame: the
// auto-exposure input from the camera's current fields and the decoder's
// counts, the image-processing input with the white-balance gains in force,
// and the changed exposure, timing and white-balance values written back.
#include "stream/CapturePipeline.h"
#include "usb/CCameraRegisters.h"

#include <cstring>

namespace {

constexpr ULONG HEADER_FRAME_RATE = 2;
constexpr ULONG HEADER_GAIN_RED = 5;   // then green, blue
constexpr ULONG HEADER_GAIN_INDEX_GB = 8; // low nibble green, high nibble blue
constexpr ULONG HEADER_GAIN_INDEX_R = 9;  // low nibble red
constexpr ULONG LARGEST_DIGITAL_GAIN = 255;

USHORT FieldValue(const DeviceContext* Device, ULONG Field)
{
    return static_cast<USHORT>(Device->Camera->Field[Field]);
}

VOID GainsFromCamera(const DeviceContext* Device, tagIpInput* Input)
{
    Input->ucGainIndex[0] = static_cast<UCHAR>(Device->Camera->Field[FIELD_GAIN_INDEX_RED]);
    Input->ucGainIndex[1] = static_cast<UCHAR>(Device->Camera->Field[FIELD_GAIN_INDEX_GREEN_RED_ROW]);
    Input->ucGainIndex[2] = static_cast<UCHAR>(Device->Camera->Field[FIELD_GAIN_INDEX_BLUE]);
    Input->usGain[0] = static_cast<USHORT>(Device->CurGain1);
    Input->usGain[1] = static_cast<USHORT>(Device->CurGain2);
    Input->usGain[2] = static_cast<USHORT>(Device->CurGain3);
}

VOID GainsFromHeader(const UCHAR* Header, tagIpInput* Input)
{
    Input->ucGainIndex[0] = Header[HEADER_GAIN_INDEX_R] & 0x0F;
    Input->ucGainIndex[1] = Header[HEADER_GAIN_INDEX_GB] & 0x0F;
    Input->ucGainIndex[2] = Header[HEADER_GAIN_INDEX_GB] >> 4;
    for (ULONG i = 0; i < 3; ++i) {
        Input->usGain[i] = Header[HEADER_GAIN_RED + i];
    }
}

// The digital gain registers hold 8 bits: a larger gain is held at the
// largest boost the camera can give rather than wrapping to a cut.
ULONG RegisterGain(USHORT Gain)
{
    return Gain > LARGEST_DIGITAL_GAIN ? LARGEST_DIGITAL_GAIN : Gain;
}

VOID StoreWhiteBalance(DeviceContext* Device, const tagIpInput& Next)
{
    ULONG* field = Device->Camera->Field;
    field[FIELD_GAIN_INDEX_BLUE] = Next.ucGainIndex[2];
    field[FIELD_GAIN_INDEX_GREEN_BLUE_ROW] = Next.ucGainIndex[1];
    field[FIELD_GAIN_INDEX_GREEN_RED_ROW] = Next.ucGainIndex[1];
    field[FIELD_GAIN_INDEX_RED] = Next.ucGainIndex[0];
    field[FIELD_DIGITAL_GAIN_RED] = RegisterGain(Next.usGain[0]);
    field[FIELD_DIGITAL_GAIN_GREEN] = RegisterGain(Next.usGain[1]);
    field[FIELD_DIGITAL_GAIN_BLUE] = RegisterGain(Next.usGain[2]);
}

} // namespace

tagAeInput BuildAeInput(const StreamContext* Stream, const DeviceContext* Device, ULONG Length)
{
    tagAeInput input = {};
    input.ucLuma = Stream->LastMeanLuma;
    input.usLineClocks = FieldValue(Device, FIELD_CLOCK_CODE);
    input.usClockDivider = FieldValue(Device, FIELD_CLOCK_DIVIDER);
    input.usFrameLines = FieldValue(Device, FIELD_FRAME_LINES);
    input.usExposureStartLine = FieldValue(Device, FIELD_EXPOSURE_START_LINE);
    input.usFineDelay = FieldValue(Device, FIELD_FINE_DELAY);
    input.usGain = FieldValue(Device, FIELD_GAIN);
    input.usRateValue = FieldValue(Device, FIELD_RATE_VALUE);
    input.usShortExposureValue = FieldValue(Device, FIELD_SHORT_EXPOSURE);
    memcpy(input.aucFrameHeader, Stream->RawFrame, PIPELINE_HEADER_BYTES);
    memcpy(input.aucFrameTrailer, Stream->RawFrame + Length - PIPELINE_HEADER_BYTES, PIPELINE_HEADER_BYTES);
    const tagSDecompressionFrame& lines = Stream->DecompressionFrame;
    input.ulRawLines = lines.ulRawLines;
    input.ulStep5Lines = lines.ulStep5Lines;
    input.ulStep9Lines = lines.ulStep9Lines;
    input.ulStep17Lines = lines.ulStep17Lines;
    input.ulDroppedLines = lines.ulDroppedLines;
    input.ulCompressionRatio = Stream->RatioNumerator / Length;
    input.psLines = lines.psLines;
    return input;
}

// The defect stage is given the exposure auto exposure reports, so that it
// rescans when the exposure moves and re-marks its pixels at short exposures.
// White balance is automatic exactly when its flags say auto (1), as the image
// processing's bAwb: every other value, the stored 0 as well as the property's
// manual flag 2, takes the gains in force rather than the frame header's.
tagIpInput BuildIpInput(const StreamContext* Stream, const DeviceContext* Device)
{
    tagIpInput input = {};
    input.pBayer = Stream->BayerFrame;
    input.ucFrameRate = Stream->RawFrame[HEADER_FRAME_RATE];
    input.ulExposure = Stream->AeOutput.ulExposure1024;
    if (Device->CurWhiteBalanceFlags != KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO) {
        GainsFromCamera(Device, &input);
    } else {
        GainsFromHeader(Stream->RawFrame, &input);
    }
    return input;
}

bool ProgramFrameResults(StreamContext* Stream, DeviceContext* Device, bool Decoded, const tagIpOutput& IpOutput,
                         bool IpChanged)
{
    CCameraRegisters* camera = Device->Camera;
    camera->StoreExposureChanges(Stream->AeOutput);
    if (Decoded && IpChanged) {
        StoreWhiteBalance(Device, IpOutput.sNextFrame);
    }
    tagRegisterFrameChanges changes;
    changes.psAeOutput = &Stream->AeOutput;
    changes.bWhiteBalanceWrite = Decoded && IpChanged;
    changes.bWhiteBalanceCommit = Stream->AeOutput.bFrameUsable && IpChanged;
    return camera->WriteFrameChanges(changes);
}
