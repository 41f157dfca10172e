// The SIMD loops in their two instruction sets and the run-time choice
// between them (SSE2 is always there; SSSE3 adds byte shuffles).
#pragma once

#include "platform/Platform.h"

#define VE_DECLARE_SIMD_KERNELS(Namespace)                                                                      \
    namespace Namespace {                                                                                       \
    ULONG LumaEffectBlocks(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,       \
                           const UCHAR* pucToneTable);                                                          \
    ULONG ConvertRowPair(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucLumaTop, PUCHAR pucLumaBottom,  \
                         PUCHAR pucU, PUCHAR pucV, ULONG ulWidth);                                              \
    ULONG ToBgrRow(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow, ULONG ulWidth);   \
    }

VE_DECLARE_SIMD_KERNELS(VeSse2)
VE_DECLARE_SIMD_KERNELS(VeSsse3)

inline bool VeHasSsse3()
{
    static const bool bSsse3 = __builtin_cpu_supports("ssse3");
    return bSsse3;
}
