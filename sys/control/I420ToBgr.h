// I420 frames (planes Y, U, V, top-down) to 24-bit BGR rows stored bottom-up,
// the layout of the still file. The chroma terms are the integer formulas
// b' = u*1772/1000, g' = (u*-3441)/10000 - (v*7141)/10000, r' = v*1402/1000
// (u = U - 128, v = V - 128, division truncating toward zero), added to the
// luma of both pixels of a pair and clamped to 0..255.
//
// These are not the effects' 8-bit coefficients: the still file's bytes are
// exact to these divisions, so this conversion keeps its own arithmetic.
//
// Odd sizes: a pixel past the last chroma column or row uses the nearest
// chroma sample, and a frame one pixel wide or high (no chroma at all) is
// converted as grey, so no size makes the conversion read past the planes.
#pragma once

#include "platform/Platform.h"

// Bytes of an I420 frame: Y plane plus two chroma planes of (w/2) x (h/2).
ULONGLONG I420FrameBytes(ULONG Width, ULONG Height);

// False when a pointer is null; otherwise converts (nothing for a zero size).
bool I420ToBgrBottomUp(const UCHAR* Source, PUCHAR Destination, ULONG Width, ULONG Height);

// The plain per-pixel version, the measure for the one above.
bool I420ToBgrBottomUpReference(const UCHAR* Source, PUCHAR Destination, ULONG Width, ULONG Height);
