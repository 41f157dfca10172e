#include "platform/CpuFeatures.h"
#include "imageprocess/CRearrange.h"

#include <immintrin.h>

#include "imageprocess/CInterpolationKernels.h"

namespace {

constexpr ULONG kGroupPixels = 8;
constexpr ULONG kGroupBytes = 24;

// Byte of a packed group that holds channel ch (0 B, 1 G, 2 R) of pixel k.
constexpr ULONG PackedByte(ULONG k, ULONG ch) { return (k & 1) * 12 + ch * 4 + (k >> 1); }

void UnpackGroupReference(const UCHAR* group, PUCHAR row, ULONG firstPixel, bool mirror, ULONG width)
{
    for (ULONG k = 0; k < kGroupPixels; ++k) {
        ULONG column = mirror ? width - 1 - (firstPixel + k) : firstPixel + k;
        PUCHAR out = row + 3 * column;
        for (ULONG ch = 0; ch < 3; ++ch) {
            out[ch] = group[PackedByte(k, ch)];
        }
    }
}

void RearrangeRowReference(const UCHAR* packedRow, PUCHAR row, ULONG width, bool mirror)
{
    for (ULONG group = 0; group < width / kGroupPixels; ++group) {
        UnpackGroupReference(packedRow + group * kGroupBytes, row, group * kGroupPixels, mirror, width);
    }
}

// Byte shuffles (SSSE3) on 128-bit registers.
KORVAL_SSSE3_BEGIN

// Shuffle masks that turn a group (read as bytes 0..15 and 8..23) into eight
// BGR pixels, in order or mirrored: output bytes 0..15 and 16..23 each take
// what they can from the first read and the rest (0x80 elsewhere) from the second.
struct tagGroupShuffle {
    __m128i lowFromFirst, lowFromSecond, highFromFirst, highFromSecond;
};

tagGroupShuffle MakeShuffle(bool mirror)
{
    alignas(16) char masks[4][16];
    for (auto& mask : masks) {
        for (char& byte : mask) {
            byte = static_cast<char>(0x80);
        }
    }
    for (ULONG out = 0; out < 24; ++out) {
        ULONG pixel = out / 3;
        ULONG source = PackedByte(mirror ? 7 - pixel : pixel, out % 3);
        char (*half)[16] = out < 16 ? masks : masks + 2;
        if (source < 16) {
            half[0][out % 16] = static_cast<char>(source);
        } else {
            half[1][out % 16] = static_cast<char>(source - 8);
        }
    }
    auto load = [&](int i) { return _mm_load_si128(reinterpret_cast<const __m128i*>(masks[i])); };
    return tagGroupShuffle{load(0), load(1), load(2), load(3)};
}

void RearrangeRowSsse3(const UCHAR* packedRow, PUCHAR row, ULONG width, bool mirror,
                      const tagGroupShuffle& shuffle)
{
    ULONG groups = width / kGroupPixels;
    for (ULONG group = 0; group < groups; ++group) {
        const UCHAR* in = packedRow + group * kGroupBytes;
        __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
        __m128i low = _mm_or_si128(_mm_shuffle_epi8(first, shuffle.lowFromFirst),
                                   _mm_shuffle_epi8(second, shuffle.lowFromSecond));
        __m128i high = _mm_or_si128(_mm_shuffle_epi8(first, shuffle.highFromFirst),
                                    _mm_shuffle_epi8(second, shuffle.highFromSecond));
        ULONG outGroup = mirror ? groups - 1 - group : group;
        PUCHAR out = row + outGroup * kGroupBytes + 3 * (mirror ? width % kGroupPixels : 0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), high);
    }
}

KORVAL_SSSE3_END

} // namespace

CRearrange::CRearrange() : m_bOpened(FALSE), m_ulWidth(0), m_ulHeight(0) {}

bool CRearrange::Open(ULONG ulWidth, ULONG ulHeight)
{
    if (m_bOpened) {
        return false;
    }
    m_ulWidth = ulWidth;
    m_ulHeight = ulHeight;
    m_bOpened = TRUE;
    return true;
}

bool CRearrange::Close()
{
    m_bOpened = FALSE;
    m_ulWidth = 0;
    m_ulHeight = 0;
    return true;
}

bool CRearrange::Run(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror, UCHAR ucFlip, bool bReference)
{
    if (!m_bOpened || pPacked == nullptr || pImage == nullptr) {
        return false;
    }
    bool mirror = ucMirror == 1;
    bool fast = !bReference && CpuHasSsse3();
    tagGroupShuffle shuffle{};
    if (fast) {
        shuffle = MakeShuffle(mirror);
    }
    SIZE_T rowBytes = static_cast<SIZE_T>(m_ulWidth) * 3;
    for (ULONG r = 0; r < m_ulHeight; ++r) {
        ULONG source = ucFlip == 1 ? m_ulHeight - 1 - r : r;
        const UCHAR* packedRow = pPacked + source * rowBytes;
        PUCHAR row = pImage + r * rowBytes;
        if (fast) {
            RearrangeRowSsse3(packedRow, row, m_ulWidth, mirror, shuffle);
        } else {
            RearrangeRowReference(packedRow, row, m_ulWidth, mirror);
        }
    }
    return true;
}

bool CRearrange::Process_4B4G4R(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror, UCHAR ucFlip)
{
    return Run(pPacked, pImage, ucMirror, ucFlip, false);
}

bool CRearrange::Process_4B4G4RReference(const UCHAR* pPacked, PUCHAR pImage, UCHAR ucMirror,
                                         UCHAR ucFlip)
{
    return Run(pPacked, pImage, ucMirror, ucFlip, true);
}
