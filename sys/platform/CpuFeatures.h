// Processor features that the pixel loops choose their fast paths by, asked
// once per process; and the markers that compile a block of functions for AVX2
// so that it is only entered after CpuHasAvx2() said yes.
#pragma once

inline bool CpuHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool bHasAvx2 = __builtin_cpu_supports("avx2");
    return bHasAvx2;
#else
    return false;
#endif
}

inline bool CpuHasSsse3()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool bHasSsse3 = __builtin_cpu_supports("ssse3");
    return bHasSsse3;
#else
    return false;
#endif
}

#if defined(__clang__)
#define KORVAL_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define KORVAL_AVX2_END _Pragma("clang attribute pop")
#else
#define KORVAL_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define KORVAL_AVX2_END _Pragma("GCC pop_options")
#endif
