// Expands one compressed camera frame into an 8-bit Bayer picture and records,
// per line, how it was coded and how many bytes it took.
#pragma once

#include "decoder/DecompressionRecords.h"
#include "driver/PoolAllocator.h"

// Two codes decoded by one lookup on the next 12 bits of a coded line.
typedef struct tagSCodePair {
    UCHAR ucCodes;  // codes decoded: 2, 1 (the second is an escape) or 0 (the first is an escape)
    UCHAR ucBits;   // bits the decoded codes take together
    int8_t cFirst;   // step of the first code
    int8_t cSecond;   // step of the second code
} SCodePair;
static_assert(sizeof(tagSCodePair) == 4);

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
    enum { CODE_TABLE_SIZE = 64, PAIR_TABLE_BITS = 12, PAIR_TABLE_SIZE = 1 << PAIR_TABLE_BITS };
    enum { KIND_STEP17 = 0, KIND_STEP9 = 1, KIND_STEP5 = 2, CODED_KINDS = 3 };

    void FillCodeTables();
    void FillPairTable(ULONG codedKind);
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
};
