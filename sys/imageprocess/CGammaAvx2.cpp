// Byte table look-up. The 256-entry table is cut into 16 rows
// of 16; a shuffle looks up the low nibble within a row and gives 0 where the
// index has its top bit set, so levels 0..127 are looked up with the byte
// itself and levels 128..255 with (byte ^ 0x80), each half choosing among its
// eight rows by bits 4, 5 and 6 with byte blends.
//
// The shuffles and blends share three of the four vector pipes, so the rest is
// kept off them: the blend masks come from byte additions (x + x moves bit 6
// to the top bit, and so on) instead of shifts, and the blend is written out
// so that the compiler does not add a compare to widen each mask. The integer
// pipes, idle meanwhile, look up four more bytes of each step in the table
// itself: a step covers 36 bytes, 32 of them in vector registers.
//
// Processors with AVX-512 VBMI look 64 bytes up in two 128-entry byte permutes
// and one blend by each index's top bit instead.
#include "platform/CpuFeatures.h"
#include <immintrin.h>
#include <cstring>

#include "imageprocess/CGamma.h"

KORVAL_AVX2_BEGIN

namespace {

struct tagLutRows {
    __m256i row[16];
};

void LoadRows(const UCHAR* table, tagLutRows* rows)
{
    for (int j = 0; j < 16; ++j) {
        rows->row[j] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * j)));
    }
}

// Bytes of b where the mask byte's top bit is set, else bytes of a.
inline __m256i BlendByTopBit(__m256i a, __m256i b, __m256i mask)
{
    __m256i result;
    asm("vpblendvb %3, %2, %1, %0" : "=x"(result) : "x"(a), "x"(b), "x"(mask));
    return result;
}

// Blend masks carry the selecting bit in each byte's top bit.
struct tagRowSelect {
    __m256i bit4;
    __m256i bit5;
    __m256i bit6;
};

inline tagRowSelect RowSelect(__m256i bytes)
{
    __m256i bit6 = _mm256_add_epi8(bytes, bytes);
    __m256i bit5 = _mm256_add_epi8(bit6, bit6);
    return tagRowSelect{_mm256_add_epi8(bit5, bit5), bit5, bit6};
}

inline __m256i LookUpHalf(const __m256i* row, __m256i index, const tagRowSelect& select)
{
    __m256i pair[4];
    for (int k = 0; k < 4; ++k) {
        pair[k] = BlendByTopBit(_mm256_shuffle_epi8(row[2 * k], index), _mm256_shuffle_epi8(row[2 * k + 1], index),
                                select.bit4);
    }
    __m256i low = BlendByTopBit(pair[0], pair[1], select.bit5);
    __m256i high = BlendByTopBit(pair[2], pair[3], select.bit5);
    return BlendByTopBit(low, high, select.bit6);
}

inline __m256i LookUp(const tagLutRows& rows, __m256i bytes)
{
    tagRowSelect select = RowSelect(bytes);
    __m256i low = LookUpHalf(rows.row, bytes, select);
    __m256i high = LookUpHalf(rows.row + 8, _mm256_xor_si256(bytes, _mm256_set1_epi8(static_cast<char>(0x80))), select);
    return _mm256_or_si256(low, high);
}

// Four bytes looked up one by one from a single 32-bit load.
inline void MapFourBytes(PUCHAR pBytes, const UCHAR* pucTable)
{
    ULONG bytes;
    memcpy(&bytes, pBytes, sizeof(bytes));
    for (int k = 0; k < 4; ++k) {
        pBytes[k] = pucTable[(bytes >> (8 * k)) & 0xFF];
    }
}

void MapBytesAvx2(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    constexpr ULONG kStep = 32 + 4;
    tagLutRows rows;
    LoadRows(pucTable, &rows);
    ULONG i = 0;
    for (; i + kStep <= ulCount; i += kStep) {
        __m256i* p = reinterpret_cast<__m256i*>(pBuffer + i);
        __m256i bytes = _mm256_loadu_si256(p);
        MapFourBytes(pBuffer + i + 32, pucTable);
        _mm256_storeu_si256(p, LookUp(rows, bytes));
    }
    for (; i < ulCount; ++i) {
        pBuffer[i] = pucTable[pBuffer[i]];
    }
}

} // namespace

KORVAL_AVX2_END

KORVAL_AVX512VBMI_BEGIN

namespace {

void MapBytesAvx512Vbmi(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    const __m512i lower0 = _mm512_loadu_si512(pucTable);
    const __m512i lower1 = _mm512_loadu_si512(pucTable + 64);
    const __m512i upper0 = _mm512_loadu_si512(pucTable + 128);
    const __m512i upper1 = _mm512_loadu_si512(pucTable + 192);
    ULONG i = 0;
    for (; i + 64 <= ulCount; i += 64) {
        const __m512i bytes = _mm512_loadu_si512(pBuffer + i);
        // Bits 0..6 of each byte index 128 entries; bit 7 chooses the half.
        const __m512i lower = _mm512_permutex2var_epi8(lower0, bytes, lower1);
        const __m512i upper = _mm512_permutex2var_epi8(upper0, bytes, upper1);
        _mm512_storeu_si512(pBuffer + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), lower, upper));
    }
    for (; i < ulCount; ++i) {
        pBuffer[i] = pucTable[pBuffer[i]];
    }
}

} // namespace

KORVAL_AVX512VBMI_END

void GammaMapBytesAvx2(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    MapBytesAvx2(pBuffer, ulCount, pucTable);
}

void GammaMapBytesAvx512Vbmi(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    MapBytesAvx512Vbmi(pBuffer, ulCount, pucTable);
}
