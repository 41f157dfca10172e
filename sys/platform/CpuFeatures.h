// Processor features that the pixel loops choose their fast paths by.
//
// The driver asks the processor itself (cpuid, and xgetbv for whether the
// operating system saves the YMM registers), once at driver entry: a kernel
// runs no library start-up code, so nothing else can answer. The answer is one
// instruction-set path for the whole driver, which tests and benchmarks may
// lower (never raise above what the processor has) to run the SSE2 or the plain
// path on any machine.
//
// The Windows build compiles AVX2 out (the kernels it targets do not save the
// YMM registers of kernel code): every AVX2 call sits behind
// `if constexpr (kAvx2Compiled)`, so no AVX2 symbol is referenced there. The
// 32-bit Linux build, which runs beside the image, leaves it out as well.
#pragma once

#include "platform/NtTypes.h"

typedef enum _CPU_PATH : UCHAR {
    CpuPathPlain = 0, // general registers and x87 only: runs on any x86
    CpuPathSse2 = 1,  // 128-bit integer SIMD
    CpuPathAvx2 = 2,  // 256-bit integer SIMD (host build only)
    CpuPathAvx512 = 3, // AVX2, and AVX-512's byte permutes where a table look-up gains by them (host build only)
} CPU_PATH;

#if defined(KORVAL_WIN32) || !defined(__x86_64__)
inline constexpr bool kAvx2Compiled = false;
#else
inline constexpr bool kAvx2Compiled = true;
#endif

#if defined(__x86_64__) || defined(__i386__)
inline constexpr bool kSse2Compiled = true;
#else
inline constexpr bool kSse2Compiled = false;
#endif

// What the processor offers (AVX2 only when the OS saves YMM state; AVX-512
// VBMI, with its byte-wise BW, only when it also saves the ZMM and mask registers).
typedef struct _CPU_FEATURES {
    BOOLEAN Sse2;
    BOOLEAN Ssse3;
    BOOLEAN Avx2;
    BOOLEAN Avx512Vbmi;
} CPU_FEATURES;

// Detects the features and chooses the best compiled path; driver entry calls
// it, later calls answer the same. Returns the chosen path.
CPU_PATH CpuFeaturesInitialize(void);
// Allows at most `Limit` from now on (CpuPathAvx512: no limit); returns the path.
CPU_PATH CpuFeaturesLimit(CPU_PATH Limit);
CPU_PATH CpuCurrentPath(void);
CPU_FEATURES CpuDetectedFeatures(void);
PCSTR CpuPathName(CPU_PATH Path);

inline bool CpuHasAvx2()
{
    return kAvx2Compiled && CpuCurrentPath() >= CpuPathAvx2;
}

inline bool CpuHasAvx512Vbmi()
{
    return kAvx2Compiled && CpuCurrentPath() >= CpuPathAvx512;
}

inline bool CpuHasSse2()
{
    return kSse2Compiled && CpuCurrentPath() >= CpuPathSse2;
}

// SSSE3 rides on the SSE2 path when the processor has it.
inline bool CpuHasSsse3()
{
    return CpuHasSse2() && CpuDetectedFeatures().Ssse3;
}

// Blocks of functions that use SSE2 or AVX2 intrinsics: the 32-bit Windows
// build compiles the rest of the driver for a plain x86, so these blocks hold
// nothing that the plain path runs.
#if defined(__clang__)
#define KORVAL_SSE2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"sse2\"))), apply_to = function)")
#define KORVAL_SSE2_END _Pragma("clang attribute pop")
#else
#define KORVAL_SSE2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"sse2\")")
#define KORVAL_SSE2_END _Pragma("GCC pop_options")
#endif

#if defined(__clang__)
#define KORVAL_SSSE3_BEGIN _Pragma("clang attribute push(__attribute__((target(\"ssse3\"))), apply_to = function)")
#define KORVAL_SSSE3_END _Pragma("clang attribute pop")
#else
#define KORVAL_SSSE3_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"ssse3\")")
#define KORVAL_SSSE3_END _Pragma("GCC pop_options")
#endif

#if defined(__clang__)
#define KORVAL_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define KORVAL_AVX2_END _Pragma("clang attribute pop")
#else
#define KORVAL_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define KORVAL_AVX2_END _Pragma("GCC pop_options")
#endif

#if defined(__clang__)
#define KORVAL_AVX512VBMI_BEGIN \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vbmi\"))), apply_to = function)")
#define KORVAL_AVX512VBMI_END _Pragma("clang attribute pop")
#else
#define KORVAL_AVX512VBMI_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vbmi\")")
#define KORVAL_AVX512VBMI_END _Pragma("GCC pop_options")
#endif
