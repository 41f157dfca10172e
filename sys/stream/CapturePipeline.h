// The capture pipeline's internal steps, shared by its set-up, per-frame and
// teardown files. Everything here runs at PASSIVE_LEVEL on the thread that
// owns the stream's open, close or data queue.
#pragma once

#include "base/AeRecords.h"
#include "base/DeviceContext.h"
#include "imageprocess/CImageProcess.h"
#include "settings/PropertyParameters.h"
#include "stream/StreamContext.h"

constexpr ULONG PIPELINE_BUFFER_SLACK = 32768;
constexpr ULONG PIPELINE_HEADER_BYTES = 10;  // frame header, and the next frame's header as trailer
constexpr ULONG PIPELINE_ORIENTATION_OPTION = 0x200; // bit 9 of "A_51"
constexpr UCHAR PIPELINE_ORIENTATION_UPSIDE_DOWN = 0xFF;
constexpr UCHAR PIPELINE_FRAME_UNUSABLE = 0x80; // header byte 0
constexpr ULONG PIPELINE_EARLY_MARGIN = 30000;    // 3 ms in 100-ns units
constexpr ULONG PIPELINE_DROP_MARGIN = 10000;     // 1 ms
constexpr ULONG PIPELINE_FIRST_STAMP_FRAMES = 10;
constexpr ULONG PIPELINE_STAMP_OPTIONS = 0x111; // splice point, time valid, duration valid

// Parameter records for the processing objects, from the stored settings when
// they are valid, else the built-in tuning.
VOID BuildImageParameters(const DeviceContext* Device, tagIpParameters* Parameters);
VOID BuildAeParameters(const DeviceContext* Device, USHORT PacketSize, tagAeParameters* Parameters);
// Output size code of CImageProcess; false for a size it does not make.
bool OutputSizeCode(ULONG Width, ULONG Height, PUCHAR Code);

// The camera is mounted upside down or turned back: mirror and flip change over.
bool InvertMirrorAndFlip(CImageProcess* ImageProcess);

// Releases every buffer and processing object the set-up made; safe on a
// record that holds none. The caller holds the parameter gate.
VOID ReleasePipeline(StreamContext* Stream);

// One frame's work after its raw bytes are in RawFrame: orientation check,
// decode, auto exposure, image processing, effect, overlay and the camera's
// new values; the caller holds the parameter gate. *Delivered tells whether
// OutputFrame holds this frame. False when a register write failed (the
// device is then treated as gone).
bool ProcessRawFrame(StreamContext* Stream, DeviceContext* Device, ULONG Length, ULONGLONG FrameNumber,
                     bool* Delivered);

// Steps of ProcessRawFrame that feed results back to the camera.
tagAeInput BuildAeInput(const StreamContext* Stream, const DeviceContext* Device, ULONG Length);
tagIpInput BuildIpInput(const StreamContext* Stream, const DeviceContext* Device);
bool ProgramFrameResults(StreamContext* Stream, DeviceContext* Device, bool Decoded,
                         const tagIpOutput& IpOutput, bool IpChanged);

// Presentation time, duration, picture number and drop count of one request.
// Returns whether the frame counts as delivered (a frame stamped too early
// does not).
bool StampReadRequest(StreamContext* Stream, PHW_STREAM_REQUEST_BLOCK Srb, PKSSTREAM_HEADER Header,
                      bool NotDelivered);
