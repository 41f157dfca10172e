// Per-line and per-frame bookkeeping that the frame decoder hands to its caller
// and that auto exposure reads to judge the compressed data rate.
#pragma once

#include "platform/NtTypes.h"

// Line kinds: the low byte of each line's 2-byte marker.
constexpr UCHAR DECOMPRESSION_KIND_NONE = 0x00;    // the decoder did not get to this line
constexpr UCHAR DECOMPRESSION_KIND_RAW = 0xF0;     // marker 0x0FF0
constexpr UCHAR DECOMPRESSION_KIND_STEP5 = 0xE1;   // marker 0x1EE1
constexpr UCHAR DECOMPRESSION_KIND_STEP9 = 0xD2;   // marker 0x2DD2
constexpr UCHAR DECOMPRESSION_KIND_STEP17 = 0xC3;  // marker 0x3CC3
constexpr UCHAR DECOMPRESSION_KIND_DROPPED = 0xB4; // marker 0x4BB4

constexpr USHORT DECOMPRESSION_MARKER_RAW = 0x0FF0;
constexpr USHORT DECOMPRESSION_MARKER_STEP5 = 0x1EE1;
constexpr USHORT DECOMPRESSION_MARKER_STEP9 = 0x2DD2;
constexpr USHORT DECOMPRESSION_MARKER_STEP17 = 0x3CC3;
constexpr USHORT DECOMPRESSION_MARKER_DROPPED = 0x4BB4;

// One record per sensor line, in an array that the caller owns.
typedef struct tagSDecompressionInformation {
    UCHAR ucKind;     // DECOMPRESSION_KIND_*
    USHORT usLength;  // bytes in the stream, marker included; the line width for a dropped line
} SDecompressionInformation, *PSDecompressionInformation;
static_assert(sizeof(tagSDecompressionInformation) == 4);

// One frame's exchange between the pipeline and the decoder.
typedef struct tagSDecompressionFrame {
    tagSDecompressionInformation* psLines; // caller: the line-record array
    ULONG ulLineCapacity;                  // caller: records in that array, at least the height
    ULONG ulRawLines;                      // decoder: lines with marker 0x0FF0
    ULONG ulStep5Lines;                    // decoder: lines with marker 0x1EE1
    ULONG ulStep9Lines;                    // decoder: lines with marker 0x2DD2
    ULONG ulStep17Lines;                   // decoder: lines with marker 0x3CC3
    ULONG ulDroppedLines;                  // decoder: lines with marker 0x4BB4; the height when rejected
    ULONG aulReserved[3];                  // decoder: cleared at the start of every frame
    PUCHAR pucOutput;                      // caller: the Bayer output buffer
} SDecompressionFrame, *PSDecompressionFrame;
