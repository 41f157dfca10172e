// Byte table look-up, 32 bytes a step. The 256-entry table is cut into 16 rows
// of 16; a shuffle looks up within a row and gives 0 where the index has its
// top bit set. Walking the index down by 16 per row with signed saturation
// leaves the top bit clear exactly for the rows at or below the byte's own
// row, so XOR-ing rows stored as differences of neighbours telescopes to the
// wanted entry. Bytes 128..255 take the same walk on (byte ^ 0x80).
#include <immintrin.h>

#include "imageprocess/CGamma.h"
#include "imageprocess/CInterpolationKernels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace {

struct tagLutRows {
    __m256i row[16];
};

void LoadRows(const UCHAR* table, tagLutRows* rows)
{
    for (int j = 0; j < 16; ++j) {
        __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * j));
        if (j % 8 != 0) {
            row = _mm_xor_si128(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * (j - 1))));
        }
        rows->row[j] = _mm256_broadcastsi128_si256(row);
    }
}

inline __m256i LookUpHalf(const __m256i* row, __m256i index)
{
    const __m256i step = _mm256_set1_epi8(16);
    __m256i result = _mm256_shuffle_epi8(row[0], index);
    for (int j = 1; j < 8; ++j) {
        index = _mm256_subs_epi8(index, step);
        result = _mm256_xor_si256(result, _mm256_shuffle_epi8(row[j], index));
    }
    return result;
}

inline __m256i LookUp(const tagLutRows& rows, __m256i bytes)
{
    __m256i low = LookUpHalf(rows.row, bytes);
    __m256i high = LookUpHalf(rows.row + 8, _mm256_xor_si256(bytes, _mm256_set1_epi8(static_cast<char>(0x80))));
    return _mm256_xor_si256(low, high);
}

void MapBytesAvx2(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    tagLutRows rows;
    LoadRows(pucTable, &rows);
    ULONG i = 0;
    for (; i + 64 <= ulCount; i += 64) {
        __m256i* p = reinterpret_cast<__m256i*>(pBuffer + i);
        __m256i first = LookUp(rows, _mm256_loadu_si256(p));
        __m256i second = LookUp(rows, _mm256_loadu_si256(p + 1));
        _mm256_storeu_si256(p, first);
        _mm256_storeu_si256(p + 1, second);
    }
    for (; i < ulCount; ++i) {
        pBuffer[i] = pucTable[pBuffer[i]];
    }
}

} // namespace

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif

void CGamma::MapBytes(PUCHAR pBuffer, ULONG ulCount, const UCHAR* pucTable)
{
    if (IpCpuHasAvx2()) {
        MapBytesAvx2(pBuffer, ulCount, pucTable);
    } else {
        MapBytesReference(pBuffer, ulCount, pucTable);
    }
}
