// Processor features from cpuid and xgetbv, read once and kept in two bytes
// that any thread may read: the detected features and the chosen path.
#include "platform/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

constexpr UCHAR kUnknown = 0xFF;

// Bit 0 SSE2, bit 1 SSSE3, bit 2 AVX2 usable, bit 3 AVX-512 VBMI usable; kUnknown before detection.
constinit UCHAR g_ucFeatures = kUnknown;
constinit UCHAR g_ucPath = kUnknown;
// The highest path allowed (tests and benchmarks lower it); kept across a
// later CpuFeaturesInitialize, as a loaded driver would make one.
constinit UCHAR g_ucLimit = CpuPathAvx512;

UCHAR Load(const UCHAR* pucByte)
{
    return __atomic_load_n(pucByte, __ATOMIC_RELAXED);
}

VOID Store(UCHAR* pucByte, UCHAR ucValue)
{
    __atomic_store_n(pucByte, ucValue, __ATOMIC_RELAXED);
}

#if defined(__x86_64__) || defined(__i386__)
// XCR0: the register state the OS saves.
ULONG OsSavedState()
{
    ULONG ulLow = 0;
    ULONG ulHigh = 0;
    __asm__ volatile("xgetbv" : "=a"(ulLow), "=d"(ulHigh) : "c"(0));
    return ulLow;
}
constexpr ULONG kXmmYmmState = 0x6;     // bits 1, 2
constexpr ULONG kZmmMaskState = 0xE0;   // bits 5, 6, 7: mask registers, ZMM upper halves, ZMM16..31
constexpr unsigned kLeaf7EbxAvx512fBw = (1u << 16) | (1u << 30);
constexpr unsigned kLeaf7EcxVbmi = 1u << 1;

// cpuid by hand: the DDK's intrinsic headers declare a __cpuid of their own
// that hides the compiler's macro of the same name.
VOID Cpuid(unsigned uLeaf, unsigned uSubLeaf, unsigned& a, unsigned& b, unsigned& c, unsigned& d)
{
    __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(uLeaf), "c"(uSubLeaf));
}

UCHAR DetectFeatures()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    // __get_cpuid_max also tells a 32-bit processor without cpuid (answer 0).
    const unsigned uMaxLeaf = __get_cpuid_max(0, nullptr);
    if (uMaxLeaf < 1) {
        return 0;
    }
    Cpuid(1, 0, a, b, c, d);
    UCHAR ucFeatures = 0;
    if (d & bit_SSE2) {
        ucFeatures |= 1;
    }
    if (c & bit_SSSE3) {
        ucFeatures |= 2;
    }
    const ULONG ulSaved = (c & bit_OSXSAVE) != 0 ? OsSavedState() : 0;
    const bool bAvxUsable = (c & bit_AVX) != 0 && (ulSaved & kXmmYmmState) == kXmmYmmState;
    if (bAvxUsable && uMaxLeaf >= 7) {
        Cpuid(7, 0, a, b, c, d);
        if (b & bit_AVX2) {
            ucFeatures |= 4;
        }
        if ((ucFeatures & 4) && (b & kLeaf7EbxAvx512fBw) == kLeaf7EbxAvx512fBw && (c & kLeaf7EcxVbmi) &&
            (ulSaved & kZmmMaskState) == kZmmMaskState) {
            ucFeatures |= 8;
        }
    }
    return ucFeatures;
}
#else
UCHAR DetectFeatures()
{
    return 0;
}
#endif

UCHAR Features()
{
    UCHAR ucFeatures = Load(&g_ucFeatures);
    if (ucFeatures == kUnknown) {
        // Every thread that gets here computes the same answer.
        ucFeatures = DetectFeatures();
        Store(&g_ucFeatures, ucFeatures);
    }
    return ucFeatures;
}

CPU_PATH BestPath()
{
    const UCHAR ucFeatures = Features();
    if (kAvx2Compiled && (ucFeatures & 13) == 13) {
        return CpuPathAvx512;
    }
    if (kAvx2Compiled && (ucFeatures & 5) == 5) {
        return CpuPathAvx2;
    }
    return kSse2Compiled && (ucFeatures & 1) ? CpuPathSse2 : CpuPathPlain;
}

} // namespace

CPU_PATH CpuFeaturesInitialize(void)
{
    const CPU_PATH best = BestPath();
    const UCHAR ucLimit = Load(&g_ucLimit);
    const CPU_PATH path = ucLimit < best ? static_cast<CPU_PATH>(ucLimit) : best;
    Store(&g_ucPath, path);
    return path;
}

CPU_PATH CpuFeaturesLimit(CPU_PATH Limit)
{
    Store(&g_ucLimit, Limit);
    return CpuFeaturesInitialize();
}

CPU_PATH CpuCurrentPath(void)
{
    const UCHAR ucPath = Load(&g_ucPath);
    return ucPath == kUnknown ? CpuFeaturesInitialize() : static_cast<CPU_PATH>(ucPath);
}

CPU_FEATURES CpuDetectedFeatures(void)
{
    const UCHAR ucFeatures = Features();
    CPU_FEATURES features;
    features.Sse2 = (ucFeatures & 1) != 0;
    features.Ssse3 = (ucFeatures & 2) != 0;
    features.Avx2 = (ucFeatures & 4) != 0;
    features.Avx512Vbmi = (ucFeatures & 8) != 0;
    return features;
}

PCSTR CpuPathName(CPU_PATH Path)
{
    switch (Path) {
    case CpuPathAvx512:
        return "AVX-512";
    case CpuPathAvx2:
        return "AVX2";
    case CpuPathSse2:
        return "SSE2";
    default:
        return "plain";
    }
}
