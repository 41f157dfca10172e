// Expands one compressed camera frame into an 8-bit Bayer picture and records,
// per line, how it was coded and how many bytes it took.
#pragma once

#include "base/DecompressionRecords.h"
#include "base/PoolAllocator.h"

// What the next 13 bits of a coded line decode to: one or two pixels, each the
// row of the pixel table that maps the pixel two to the left to the new one (a
// clamped step, or an escaped value whatever the pixel was). A second code is
// included only when it lies whole within the 13 bits.
typedef struct tagSCodePair {
    USHORT usFirstRow;    // row offset in the pixel table: row number times 256
    USHORT usSecondRow;
    UCHAR ucBits;         // bits the decoded codes take
    UCHAR ucPixels;       // 1 or 2
    UCHAR aucUnused[2];
} SCodePair;
static_assert(sizeof(tagSCodePair) == 8);

class FrameDecoder : public CPoolObject {
public:
    FrameDecoder();
    virtual ~FrameDecoder();

    bool Open(ULONG width, ULONG height, ULONG bitsPerSample);
    bool Close();
    bool Process(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                 tagSDecompressionFrame* frame);

    // The same frame decode with the coded lines expanded by the plain
    // one-code-at-a-time reader; tests hold the fast reader to it.
    bool ProcessReference(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                          tagSDecompressionFrame* frame);

private:
    enum { CODE_TABLE_SIZE = 64, PAIR_TABLE_BITS = 13, PAIR_TABLE_SIZE = 1 << PAIR_TABLE_BITS };
    enum { KIND_STEP17 = 0, KIND_STEP9 = 1, KIND_STEP5 = 2, CODED_KINDS = 3 };

    void FillCodeTables();
    void FillPairTable(ULONG codedKind);
    bool CodeInIndex(ULONG codedKind, ULONG index, ULONG start, UCHAR* length, USHORT* row) const;
    bool ArgumentsAcceptable(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                             const tagSDecompressionFrame* frame) const;
    bool DecodeFrame(const UCHAR* source, ULONG sourceLength, tagSDecompressionFrame* frame,
                     bool reference);
    ULONG DecodeCodedLine(const UCHAR* source, ULONG sourceLength, uint64_t lineStart,
                          ULONG codedKind, PUCHAR line, bool reference) const;
    uint64_t DecodeCodedPixelsFast(const UCHAR* source, ULONG sourceLength, uint64_t dataStart,
                                   ULONG codedKind, PUCHAR line) const;
    uint64_t DecodeCodedPixelsReference(const UCHAR* source, ULONG sourceLength, uint64_t dataStart,
                                        ULONG codedKind, PUCHAR line) const;
    void RepairDroppedLines(const tagSDecompressionFrame* frame);
    void RepairInnerLine(ULONG y, bool nextLineDropped, PUCHAR output);

    ULONG m_ulWidth;
    ULONG m_ulHeight;
    ULONG m_ulBitsPerSample;
    BOOLEAN m_bIsOpen;
    // Indexed by the next 6 bits of a coded line; kinds 0x3CC3, 0x2DD2, 0x1EE1.
    int8_t m_acStep[CODED_KINDS][CODE_TABLE_SIZE];
    UCHAR m_aucLength[CODED_KINDS][CODE_TABLE_SIZE];
    ULONG m_ulFrameSize;
    ULONG m_ulInnerLines;
    ULONG m_ulInnerColumns;
    // Derived from the code tables in Open: two codes per lookup for the fast reader.
    tagSCodePair m_asPairs[CODED_KINDS][PAIR_TABLE_SIZE];
    // The bits each pair entry takes, alone: small enough to stay in the first-level
    // cache, so the walk along the bit stream does not wait on the larger pair table.
    UCHAR m_aucPairBits[CODED_KINDS][PAIR_TABLE_SIZE];
};
