#include "decoder/FrameDecoder.h"

#include <cstring>

namespace {

// Per coded kind, in table order (0x3CC3, 0x2DD2, 0x1EE1).
constexpr int STEP_UNIT[3] = {17, 9, 5};
constexpr int ESCAPE_BITS[3] = {4, 5, 6};
// A value no step takes: marks the escape entries of a step table.
constexpr int ESCAPE_STEP[3] = {16, 32, 64};
constexpr ULONG ESCAPE_PREFIX_BITS = 5;

constexpr int ClampPixel(int value)
{
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

// Bytes past the end of the body read as zero, as if a guard area of zeros followed it.
inline UCHAR ByteAt(const UCHAR* source, ULONG sourceLength, uint64_t position)
{
    return position < sourceLength ? source[position] : 0;
}

inline uint64_t LoadBigEndian64(const UCHAR* bytes)
{
    uint64_t value;
    memcpy(&value, bytes, sizeof(value));
    return __builtin_bswap64(value);
}

// Bytes of a coded line: marker, two raw pixels and the bit stream up to its last
// used byte, padded to an even total.
inline ULONG CodedLineLength(uint64_t consumedBits)
{
    const ULONG length = 4 + static_cast<ULONG>((consumedBits + 7) / 8);
    return length + (length & 1);
}

// Rows of 256 bytes indexed by the pixel two to the left: for each coded kind its
// nine steps -4d..+4d, each giving clamp(pixel + step); then one row per escaped
// value (the multiples of 4), each giving that value whatever the pixel.
constexpr int STEP_ROWS_PER_KIND = 9;
constexpr int ESCAPE_ROW_BASE = 3 * STEP_ROWS_PER_KIND;
constexpr int ESCAPE_VALUE_UNIT = 4;
constexpr int PIXEL_TABLE_ROWS = ESCAPE_ROW_BASE + 256 / ESCAPE_VALUE_UNIT;
struct PixelTable {
    UCHAR aucValue[PIXEL_TABLE_ROWS][256];
};
constexpr int StepRow(int codedKind, int step)
{
    return codedKind * STEP_ROWS_PER_KIND + STEP_ROWS_PER_KIND / 2 + step / STEP_UNIT[codedKind];
}
constexpr int EscapeRow(int value)
{
    return ESCAPE_ROW_BASE + value / ESCAPE_VALUE_UNIT;
}
constexpr PixelTable MakePixelTable()
{
    PixelTable table = {};
    for (int kind = 0; kind < 3; kind++) {
        for (int multiple = -4; multiple <= 4; multiple++) {
            const int step = multiple * STEP_UNIT[kind];
            for (int pixel = 0; pixel < 256; pixel++) {
                table.aucValue[StepRow(kind, step)][pixel] = static_cast<UCHAR>(ClampPixel(pixel + step));
            }
        }
    }
    for (int value = 0; value < 256; value += ESCAPE_VALUE_UNIT) {
        for (int pixel = 0; pixel < 256; pixel++) {
            table.aucValue[EscapeRow(value)][pixel] = static_cast<UCHAR>(value);
        }
    }
    return table;
}
constexpr PixelTable PIXEL_TABLE = MakePixelTable();

} // namespace

FrameDecoder::FrameDecoder()
    : m_ulWidth(0), m_ulHeight(0), m_ulBitsPerSample(0), m_bIsOpen(FALSE), m_acStep(), m_aucLength(),
      m_ulFrameSize(0), m_ulInnerLines(0), m_ulInnerColumns(0), m_asPairs(), m_aucPairBits()
{
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::Open(ULONG width, ULONG height, ULONG bitsPerSample)
{
    if (m_bIsOpen || width == 0 || height == 0 || bitsPerSample != 8) {
        return false;
    }
    // The output must be addressable by a 32-bit frame size.
    if (static_cast<uint64_t>(width) * height > 0xFFFFFFFFu) {
        return false;
    }
    m_ulWidth = width;
    m_ulHeight = height;
    m_ulBitsPerSample = bitsPerSample;
    FillCodeTables();
    m_ulFrameSize = width * height;
    m_ulInnerLines = height - 2;
    m_ulInnerColumns = width - 2;
    m_bIsOpen = TRUE;
    return true;
}

bool FrameDecoder::Close()
{
    if (!m_bIsOpen) {
        return false;
    }
    m_bIsOpen = FALSE;
    return true;
}

void FrameDecoder::FillCodeTables()
{
    for (ULONG kind = 0; kind < CODED_KINDS; kind++) {
        const int d = STEP_UNIT[kind];
        for (ULONG i = 0; i < CODE_TABLE_SIZE; i++) {
            int step;
            ULONG length;
            if (i < 16) { step = 0; length = 2; }
            else if (i < 32) { step = -d; length = 2; }
            else if (i < 48) { step = d; length = 2; }
            else if (i < 52) { step = -2 * d; length = 4; }
            else if (i < 56) { step = 2 * d; length = 4; }
            else if (i < 58) { step = -3 * d; length = 5; }
            else if (i < 60) { step = 3 * d; length = 5; }
            else if (i == 60) { step = -4 * d; length = 6; }
            else if (i == 61) { step = 4 * d; length = 6; }
            else { step = ESCAPE_STEP[kind]; length = ESCAPE_PREFIX_BITS + ESCAPE_BITS[kind]; }
            m_acStep[kind][i] = static_cast<int8_t>(step);
            m_aucLength[kind][i] = static_cast<UCHAR>(length);
        }
        FillPairTable(kind);
    }
}

// One code of the 13-bit index starting at bit start (from the top): its
// length and its row offset in the pixel table; false when it does not lie
// whole in the index.
bool FrameDecoder::CodeInIndex(ULONG codedKind, ULONG index, ULONG start, UCHAR* length, USHORT* row) const
{
    const ULONG escapeBits = ESCAPE_BITS[codedKind];
    const ULONG code = ((index << start) & (PAIR_TABLE_SIZE - 1)) >> (PAIR_TABLE_BITS - 6);
    *length = m_aucLength[codedKind][code];
    if (start + *length > PAIR_TABLE_BITS) {
        return false;
    }
    int tableRow;
    if (m_acStep[codedKind][code] == ESCAPE_STEP[codedKind]) {
        const ULONG value = (index >> (PAIR_TABLE_BITS - start - *length)) & ((1u << escapeBits) - 1);
        tableRow = EscapeRow(static_cast<int>(value << (8 - escapeBits)));
    } else {
        tableRow = StepRow(static_cast<int>(codedKind), m_acStep[codedKind][code]);
    }
    *row = static_cast<USHORT>(tableRow * 256);
    return true;
}

// Every code is at most 11 bits long, so the first always lies in the index.
void FrameDecoder::FillPairTable(ULONG codedKind)
{
    for (ULONG index = 0; index < PAIR_TABLE_SIZE; index++) {
        tagSCodePair& pair = m_asPairs[codedKind][index];
        UCHAR firstLength;
        UCHAR secondLength;
        pair = tagSCodePair{0, 0, 0, 1, {0, 0}};
        CodeInIndex(codedKind, index, 0, &firstLength, &pair.usFirstRow);
        pair.ucBits = firstLength;
        if (CodeInIndex(codedKind, index, firstLength, &secondLength, &pair.usSecondRow)) {
            pair.ucBits = static_cast<UCHAR>(firstLength + secondLength);
            pair.ucPixels = 2;
        } else {
            pair.usSecondRow = 0;
        }
        m_aucPairBits[codedKind][index] = pair.ucBits;
    }
}

bool FrameDecoder::Process(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                           tagSDecompressionFrame* frame)
{
    if (!ArgumentsAcceptable(source, sourceLength, destinationLength, frame)) {
        return false;
    }
    return DecodeFrame(source, sourceLength, frame, false);
}

bool FrameDecoder::ProcessReference(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                                    tagSDecompressionFrame* frame)
{
    if (!ArgumentsAcceptable(source, sourceLength, destinationLength, frame)) {
        return false;
    }
    return DecodeFrame(source, sourceLength, frame, true);
}

bool FrameDecoder::ArgumentsAcceptable(const UCHAR* source, ULONG sourceLength, ULONG destinationLength,
                                       const tagSDecompressionFrame* frame) const
{
    return m_bIsOpen && source != nullptr && sourceLength != 0 && destinationLength >= m_ulFrameSize &&
           frame != nullptr && frame->pucOutput != nullptr && frame->psLines != nullptr &&
           frame->ulLineCapacity >= m_ulHeight;
}

static void ClearFrameResults(tagSDecompressionFrame* frame)
{
    memset(frame->psLines, 0, sizeof(tagSDecompressionInformation) * frame->ulLineCapacity);
    frame->ulRawLines = 0;
    frame->ulStep5Lines = 0;
    frame->ulStep9Lines = 0;
    frame->ulStep17Lines = 0;
    frame->ulDroppedLines = 0;
    memset(frame->aulReserved, 0, sizeof(frame->aulReserved));
}

static void CopyRawBytes(PUCHAR destination, const UCHAR* source, ULONG sourceLength, uint64_t position,
                         ULONG count)
{
    ULONG available = 0;
    if (position < sourceLength) {
        const uint64_t left = sourceLength - position;
        available = left < count ? static_cast<ULONG>(left) : count;
        memcpy(destination, source + position, available);
    }
    memset(destination + available, 0, count - available);
}

bool FrameDecoder::DecodeFrame(const UCHAR* source, ULONG sourceLength, tagSDecompressionFrame* frame,
                               bool reference)
{
    ClearFrameResults(frame);
    uint64_t total = 0;
    for (ULONG y = 0; y < m_ulHeight; y++) {
        PUCHAR line = frame->pucOutput + static_cast<SIZE_T>(y) * m_ulWidth;
        tagSDecompressionInformation& record = frame->psLines[y];
        const ULONG marker = (ByteAt(source, sourceLength, total) << 8) | ByteAt(source, sourceLength, total + 1);
        ULONG lineBytes;
        ULONG codedKind;
        switch (marker) {
        case DECOMPRESSION_MARKER_RAW:
            CopyRawBytes(line, source, sourceLength, total + 2, m_ulWidth);
            lineBytes = m_ulWidth + 2;
            record.ucKind = DECOMPRESSION_KIND_RAW;
            record.usLength = static_cast<USHORT>(lineBytes);
            frame->ulRawLines++;
            total += static_cast<uint64_t>(m_ulWidth) + 2;
            continue;
        case DECOMPRESSION_MARKER_DROPPED:
            record.ucKind = DECOMPRESSION_KIND_DROPPED;
            record.usLength = static_cast<USHORT>(m_ulWidth);
            frame->ulDroppedLines++;
            total += 2;
            continue;
        case DECOMPRESSION_MARKER_STEP17:
            codedKind = KIND_STEP17;
            record.ucKind = DECOMPRESSION_KIND_STEP17;
            frame->ulStep17Lines++;
            break;
        case DECOMPRESSION_MARKER_STEP9:
            codedKind = KIND_STEP9;
            record.ucKind = DECOMPRESSION_KIND_STEP9;
            frame->ulStep9Lines++;
            break;
        case DECOMPRESSION_MARKER_STEP5:
            codedKind = KIND_STEP5;
            record.ucKind = DECOMPRESSION_KIND_STEP5;
            frame->ulStep5Lines++;
            break;
        default:
            frame->ulDroppedLines = m_ulHeight;
            return false;
        }
        lineBytes = DecodeCodedLine(source, sourceLength, total, codedKind, line, reference);
        record.usLength = static_cast<USHORT>(lineBytes);
        total += lineBytes;
    }
    // The lines may run over the body by at most the 1 or 2 bytes the camera leaves out.
    if (total < sourceLength || total - sourceLength > 2) {
        frame->ulDroppedLines = m_ulHeight;
        return false;
    }
    RepairDroppedLines(frame);
    return true;
}

// The two raw pixels, then the bit stream of the other width - 2; returns the
// bytes the line occupies.
ULONG FrameDecoder::DecodeCodedLine(const UCHAR* source, ULONG sourceLength, uint64_t lineStart,
                                    ULONG codedKind, PUCHAR line, bool reference) const
{
    const ULONG rawPixels = m_ulWidth < 2 ? m_ulWidth : 2;
    for (ULONG x = 0; x < rawPixels; x++) {
        line[x] = ByteAt(source, sourceLength, lineStart + 2 + x);
    }
    if (m_ulWidth <= 2) {
        return CodedLineLength(0);
    }
    const uint64_t dataStart = lineStart + 4;
    const uint64_t consumedBits =
        reference ? DecodeCodedPixelsReference(source, sourceLength, dataStart, codedKind, line)
                  : DecodeCodedPixelsFast(source, sourceLength, dataStart, codedKind, line);
    return CodedLineLength(consumedBits);
}

// One code at a time from a 32-bit left-aligned buffer, topped up a byte at a
// time to more than 16 bits before each pixel. Returns the bits the codes took.
uint64_t FrameDecoder::DecodeCodedPixelsReference(const UCHAR* source, ULONG sourceLength, uint64_t dataStart,
                                                  ULONG codedKind, PUCHAR line) const
{
    const int8_t* steps = m_acStep[codedKind];
    const UCHAR* lengths = m_aucLength[codedKind];
    const ULONG escapeBits = ESCAPE_BITS[codedKind];
    uint32_t buffer = 0;
    ULONG bitCount = 0;
    uint64_t fetched = 0;
    for (ULONG x = 2; x < m_ulWidth; x++) {
        while (bitCount <= 16) {
            buffer |= static_cast<uint32_t>(ByteAt(source, sourceLength, dataStart + fetched)) << (24 - bitCount);
            bitCount += 8;
            fetched++;
        }
        const ULONG index = buffer >> 26;
        if (steps[index] == ESCAPE_STEP[codedKind]) {
            const ULONG value = (buffer >> (32 - ESCAPE_PREFIX_BITS - escapeBits)) & ((1u << escapeBits) - 1);
            line[x] = static_cast<UCHAR>(value << (8 - escapeBits));
        } else {
            line[x] = static_cast<UCHAR>(ClampPixel(line[x - 2] + steps[index]));
        }
        buffer <<= lengths[index];
        bitCount -= lengths[index];
    }
    return fetched * 8 - bitCount;
}

namespace {

// A 64-bit left-aligned bit buffer. Within the body it loads eight bytes at once
// (bits already held are loaded again unchanged); near the end it takes a byte at
// a time and zeros past the end.
struct BitReader {
    const UCHAR* source;
    ULONG sourceLength;
    uint64_t nextByte;
    uint64_t bits;
    ULONG bitCount;
    uint64_t startByte;

    void Refill()
    {
        if (nextByte + 8 <= sourceLength) {
            bits |= LoadBigEndian64(source + nextByte) >> bitCount;
            nextByte += (63 - bitCount) >> 3;
            bitCount |= 56;
            return;
        }
        while (bitCount <= 56) {
            bits |= static_cast<uint64_t>(ByteAt(source, sourceLength, nextByte)) << (56 - bitCount);
            bitCount += 8;
            nextByte++;
        }
    }
    void Skip(ULONG count)
    {
        bits <<= count;
        bitCount -= count;
    }
    uint64_t ConsumedBits() const { return (nextByte - startByte) * 8 - bitCount; }
};

} // namespace

namespace {

constexpr ULONG PAIR_INDEX_BITS = 13;

// The pixels one lookup gives, each a single load from its row: previous holds
// pixel x - 2 and current pixel x - 1; a single pixel shifts them by one, two
// pixels by two. Single pixels come only with escapes beside long codes, so the
// branch on the count is mostly predicted and keeps a select off the pixel chain.
inline PUCHAR PutPixels(const tagSCodePair& pair, ULONG& previous, ULONG& current, PUCHAR out)
{
    const UCHAR* rows = &PIXEL_TABLE.aucValue[0][0];
    const ULONG first = rows[pair.usFirstRow + previous];
    out[0] = static_cast<UCHAR>(first);
    if (pair.ucPixels == 2) {
        const ULONG second = rows[pair.usSecondRow + current];
        out[1] = static_cast<UCHAR>(second);
        previous = first;
        current = second;
        return out + 2;
    }
    previous = current;
    current = first;
    return out + 1;
}

// One or two pixels per lookup. While eight bytes of body remain ahead, the buffer is
// topped up on every step from the state before the step's lookup, so the
// load overlaps the lookup; the rest goes through the checked refill.
// Returns the first pixel not decoded: the last one when a single code is left.
ULONG DecodePixelPairs(const tagSCodePair* pairs, const UCHAR* pairBits, BitReader& reader, PUCHAR line,
                       ULONG width)
{
    ULONG previous = line[0];
    ULONG current = line[1];
    PUCHAR out = line + 2;
    const PUCHAR last = line + width - 1;
    reader.Refill();
    uint64_t bits = reader.bits;
    ULONG bitCount = reader.bitCount;
    if (reader.nextByte + 8 <= reader.sourceLength) {
        const UCHAR* next = reader.source + reader.nextByte;
        const UCHAR* const fastEnd = reader.source + (reader.sourceLength - 8);
        // Two steps per top-up: 56 valid bits after it, at most 13 used per step, so
        // at least 30 remain on entry, and the top-up stays off the second lookup's path.
        while (out + 2 < last && next <= fastEnd) {
            const uint64_t index = bits >> (64 - PAIR_INDEX_BITS);
            const ULONG used = pairBits[index];
            const tagSCodePair pair = pairs[index];
            bits |= LoadBigEndian64(next) >> bitCount;
            next += (63 - bitCount) >> 3;
            bitCount |= 56;
            out = PutPixels(pair, previous, current, out);
            bits <<= used;
            bitCount -= used;
            const uint64_t followingIndex = bits >> (64 - PAIR_INDEX_BITS);
            const ULONG followingUsed = pairBits[followingIndex];
            const tagSCodePair following = pairs[followingIndex];
            out = PutPixels(following, previous, current, out);
            bits <<= followingUsed;
            bitCount -= followingUsed;
        }
        reader.nextByte = static_cast<uint64_t>(next - reader.source);
    }
    reader.bits = bits;
    reader.bitCount = bitCount;
    while (out < last) {
        if (reader.bitCount < PAIR_INDEX_BITS) {
            reader.Refill();
        }
        const tagSCodePair pair = pairs[reader.bits >> (64 - PAIR_INDEX_BITS)];
        out = PutPixels(pair, previous, current, out);
        reader.Skip(pair.ucBits);
    }
    return static_cast<ULONG>(out - line);
}

} // namespace

uint64_t FrameDecoder::DecodeCodedPixelsFast(const UCHAR* source, ULONG sourceLength, uint64_t dataStart,
                                             ULONG codedKind, PUCHAR line) const
{
    const int8_t* steps = m_acStep[codedKind];
    const UCHAR* lengths = m_aucLength[codedKind];
    const ULONG width = m_ulWidth;
    BitReader reader = {source, sourceLength, dataStart, 0, 0, dataStart};
    const ULONG x = DecodePixelPairs(m_asPairs[codedKind], m_aucPairBits[codedKind], reader, line, width);
    if (x < width) {
        const ULONG escapeBits = ESCAPE_BITS[codedKind];
        reader.Refill();
        const ULONG index = static_cast<ULONG>(reader.bits >> 58);
        if (steps[index] == ESCAPE_STEP[codedKind]) {
            const ULONG value = static_cast<ULONG>(reader.bits >> (64 - ESCAPE_PREFIX_BITS - escapeBits)) &
                                ((1u << escapeBits) - 1);
            line[x] = static_cast<UCHAR>(value << (8 - escapeBits));
        } else {
            line[x] = static_cast<UCHAR>(ClampPixel(line[x - 2] + steps[index]));
        }
        reader.Skip(lengths[index]);
    }
    return reader.ConsumedBits();
}

void FrameDecoder::RepairDroppedLines(const tagSDecompressionFrame* frame)
{
    const tagSDecompressionInformation* lines = frame->psLines;
    PUCHAR output = frame->pucOutput;
    for (ULONG y = 2; y + 2 < m_ulHeight; y++) {
        if (lines[y].ucKind == DECOMPRESSION_KIND_DROPPED) {
            RepairInnerLine(y, lines[y + 1].ucKind == DECOMPRESSION_KIND_DROPPED, output);
        }
    }
    for (ULONG y = m_ulHeight < 4 ? 2 : m_ulHeight - 2; y < m_ulHeight; y++) {
        if (lines[y].ucKind == DECOMPRESSION_KIND_DROPPED) {
            memcpy(output + static_cast<SIZE_T>(y) * m_ulWidth, output + static_cast<SIZE_T>(y - 2) * m_ulWidth,
                   m_ulWidth);
        }
    }
}

static inline int AbsoluteDifference(int a, int b)
{
    return a < b ? b - a : a - b;
}

// Rebuilds line y from the lines two above (A) and two below (B), which carry
// the same colours; where they differ a lot, the side whose neighbour line is
// smoother along the row is taken.
void FrameDecoder::RepairInnerLine(ULONG y, bool nextLineDropped, PUCHAR output)
{
    const SIZE_T width = m_ulWidth;
    const UCHAR* above = output + (y - 2) * width;
    const UCHAR* below = output + (y + 2) * width;
    const ULONG gradientOffset = nextLineDropped ? 2 : 1;
    const UCHAR* upper = output + (y - gradientOffset) * width;
    const UCHAR* lower = output + (y + gradientOffset) * width;
    PUCHAR line = output + y * width;
    line[0] = static_cast<UCHAR>((above[0] + below[0]) / 2);
    line[width - 1] = static_cast<UCHAR>((above[width - 1] + below[width - 1]) / 2);
    for (SIZE_T x = 1; x + 1 < width; x++) {
        const int a = above[x];
        const int b = below[x];
        int value = (a + b) / 2;
        if (AbsoluteDifference(a, b) >= 60) {
            const int upperGradient = AbsoluteDifference(upper[x - 1], upper[x + 1]);
            const int lowerGradient = AbsoluteDifference(lower[x - 1], lower[x + 1]);
            if (upperGradient - lowerGradient > 20) {
                value = b;
            } else if (upperGradient - lowerGradient < -20) {
                value = a;
            }
        }
        line[x] = static_cast<UCHAR>(value);
    }
}
