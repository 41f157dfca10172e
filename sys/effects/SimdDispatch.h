// The SIMD loops in their three instruction sets and the run-time choice
// between them (SSE2 is always there; SSSE3 adds byte shuffles; AVX2 doubles
// the width of the conversions).
#pragma once

#include "platform/CpuFeatures.h"
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
VE_DECLARE_SIMD_KERNELS(VeAvx2)

inline bool VeHasSsse3()
{
    return CpuHasSsse3();
}

inline bool VeHasAvx2()
{
    return CpuHasAvx2();
}

// The best set this processor runs; 0 pixels done on the plain path.
inline ULONG VeLumaEffectBlocks(ULONG ulEffect, const UCHAR* pucSource, PUCHAR pucDestination, ULONG ulPixels,
                                const UCHAR* pucToneTable)
{
    if constexpr (kAvx2Compiled) {
        if (VeHasAvx2()) {
            return VeAvx2::LumaEffectBlocks(ulEffect, pucSource, pucDestination, ulPixels, pucToneTable);
        }
    }
    if (!CpuHasSse2()) {
        return 0;
    }
    return VeHasSsse3() ? VeSsse3::LumaEffectBlocks(ulEffect, pucSource, pucDestination, ulPixels, pucToneTable)
                        : VeSse2::LumaEffectBlocks(ulEffect, pucSource, pucDestination, ulPixels, pucToneTable);
}

inline ULONG VeConvertRowPair(const UCHAR* pucTop, const UCHAR* pucBottom, PUCHAR pucLumaTop, PUCHAR pucLumaBottom,
                              PUCHAR pucU, PUCHAR pucV, ULONG ulWidth)
{
    if constexpr (kAvx2Compiled) {
        if (VeHasAvx2()) {
            return VeAvx2::ConvertRowPair(pucTop, pucBottom, pucLumaTop, pucLumaBottom, pucU, pucV, ulWidth);
        }
    }
    if (!CpuHasSse2()) {
        return 0;
    }
    return VeHasSsse3() ? VeSsse3::ConvertRowPair(pucTop, pucBottom, pucLumaTop, pucLumaBottom, pucU, pucV, ulWidth)
                        : VeSse2::ConvertRowPair(pucTop, pucBottom, pucLumaTop, pucLumaBottom, pucU, pucV, ulWidth);
}

inline ULONG VeToBgrRow(const UCHAR* pucLuma, const UCHAR* pucU, const UCHAR* pucV, PUCHAR pucRow, ULONG ulWidth)
{
    if constexpr (kAvx2Compiled) {
        if (VeHasAvx2()) {
            return VeAvx2::ToBgrRow(pucLuma, pucU, pucV, pucRow, ulWidth);
        }
    }
    if (!CpuHasSse2()) {
        return 0;
    }
    return VeHasSsse3() ? VeSsse3::ToBgrRow(pucLuma, pucU, pucV, pucRow, ulWidth)
                        : VeSse2::ToBgrRow(pucLuma, pucU, pucV, pucRow, ulWidth);
}
