#include "camera/codec/line_compressor.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace korval::camera {
namespace {

struct CodeParameters {
    int stepUnit;
    int escapeBits;
};

CodeParameters codeParameters(LineKind kind)
{
    switch (kind) {
    case LineKind::Step5: return {5, 6};
    case LineKind::Step9: return {9, 5};
    default: return {17, 4};
    }
}

struct Code {
    std::uint32_t bits;
    int length;
};

// Steps -4..+4 of the prefix code, in multiples of the step unit.
constexpr std::array<Code, 9> kStepCodes = {{
    {0b111100, 6}, {0b11100, 5}, {0b1100, 4}, {0b01, 2}, {0b00, 2},
    {0b10, 2}, {0b1101, 4}, {0b11101, 5}, {0b111101, 6},
}};
constexpr std::uint32_t kEscapePrefix = 0b11111;
constexpr int kEscapePrefixBits = 5;

int clampPixel(int value)
{
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

struct Choice {
    Code code;
    int value;
};

// The step whose clamped result is nearest the target, the shorter code on a
// tie; the escape only when it is strictly nearer than every step.
Choice chooseCode(int previous, int target, CodeParameters parameters)
{
    Choice best{kStepCodes[4], clampPixel(previous)};
    int bestError = std::abs(best.value - target);
    for (int multiple = -4; multiple <= 4; multiple++) {
        const Code code = kStepCodes[static_cast<std::size_t>(multiple + 4)];
        const int value = clampPixel(previous + multiple * parameters.stepUnit);
        const int error = std::abs(value - target);
        if (error < bestError || (error == bestError && code.length < best.code.length)) {
            best = {code, value};
            bestError = error;
        }
    }
    const int lowBits = 8 - parameters.escapeBits;
    const int largest = (1 << parameters.escapeBits) - 1;
    const int escaped = std::min((target + (1 << lowBits >> 1)) >> lowBits, largest);
    if (std::abs((escaped << lowBits) - target) < bestError) {
        const auto bits = (kEscapePrefix << parameters.escapeBits) | static_cast<std::uint32_t>(escaped);
        best = {{bits, kEscapePrefixBits + parameters.escapeBits}, escaped << lowBits};
    }
    return best;
}

// Collects codes most significant bit first; the last byte is filled with zeros.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>* output) : output_(output) {}

    void put(Code code)
    {
        totalBits_ += static_cast<std::size_t>(code.length);
        if (output_ == nullptr) {
            return;
        }
        pending_ = (pending_ << code.length) | code.bits;
        pendingBits_ += code.length;
        while (pendingBits_ >= 8) {
            pendingBits_ -= 8;
            output_->push_back(static_cast<std::uint8_t>(pending_ >> pendingBits_));
        }
    }
    void flush()
    {
        if (output_ != nullptr && pendingBits_ > 0) {
            output_->push_back(static_cast<std::uint8_t>(pending_ << (8 - pendingBits_)));
            pendingBits_ = 0;
        }
    }
    std::size_t totalBytes() const { return (totalBits_ + 7) / 8; }

private:
    std::vector<std::uint8_t>* output_;
    std::uint64_t pending_ = 0;
    int pendingBits_ = 0;
    std::size_t totalBits_ = 0;
};

void putMarker(LineKind kind, std::vector<std::uint8_t>& output)
{
    const std::uint16_t marker = lineMarker(kind);
    output.push_back(static_cast<std::uint8_t>(marker >> 8));
    output.push_back(static_cast<std::uint8_t>(marker & 0xFF));
}

// Codes pixels 2..width-1 into writer; returns the line's total size in bytes.
// output may be null (sizing only); reconstructed may be null.
std::size_t codeLine(const std::uint8_t* line, std::size_t width, LineKind kind,
                     std::vector<std::uint8_t>* output, std::uint8_t* reconstructed)
{
    const std::array<std::uint8_t, 2> rawPixels = {width > 0 ? line[0] : std::uint8_t{0},
                                                   width > 1 ? line[1] : std::uint8_t{0}};
    if (output != nullptr) {
        putMarker(kind, *output);
        output->insert(output->end(), rawPixels.begin(), rawPixels.end());
    }
    const CodeParameters parameters = codeParameters(kind);
    BitWriter writer(output);
    int previous = rawPixels[0];
    int current = rawPixels[1];
    for (std::size_t x = 2; x < width; x++) {
        const Choice choice = chooseCode(previous, line[x], parameters);
        writer.put(choice.code);
        previous = current;
        current = choice.value;
        if (reconstructed != nullptr) {
            reconstructed[x] = static_cast<std::uint8_t>(choice.value);
        }
    }
    writer.flush();
    if (reconstructed != nullptr) {
        for (std::size_t x = 0; x < width && x < 2; x++) {
            reconstructed[x] = rawPixels[x];
        }
    }
    const std::size_t unpadded = 4 + writer.totalBytes();
    const std::size_t size = unpadded + (unpadded & 1);
    if (output != nullptr && size != unpadded) {
        output->push_back(0);
    }
    return size;
}

} // namespace

std::uint16_t lineMarker(LineKind kind)
{
    switch (kind) {
    case LineKind::Raw: return 0x0FF0;
    case LineKind::Step5: return 0x1EE1;
    case LineKind::Step9: return 0x2DD2;
    case LineKind::Step17: return 0x3CC3;
    case LineKind::Dropped: return 0x4BB4;
    }
    return 0x4BB4;
}

std::size_t encodeLine(const std::uint8_t* line, std::size_t width, LineKind kind,
                       std::vector<std::uint8_t>& output, std::uint8_t* reconstructed)
{
    switch (kind) {
    case LineKind::Dropped:
        putMarker(kind, output);
        return 2;
    case LineKind::Raw:
        putMarker(kind, output);
        output.insert(output.end(), line, line + width);
        if (reconstructed != nullptr) {
            std::copy(line, line + width, reconstructed);
        }
        return width + 2;
    default:
        return codeLine(line, width, kind, &output, reconstructed);
    }
}

std::size_t codedLineSize(const std::uint8_t* line, std::size_t width, LineKind kind)
{
    switch (kind) {
    case LineKind::Dropped: return 2;
    case LineKind::Raw: return width + 2;
    default: return codeLine(line, width, kind, nullptr, nullptr);
    }
}

} // namespace korval::camera
