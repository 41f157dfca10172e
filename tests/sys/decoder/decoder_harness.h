// Runs FrameDecoder on a body held in a buffer of exactly its own size, so
// that any read outside it is caught by the address sanitizer, and keeps the
// caller-owned records and output the way the capture pipeline does.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "decoder/FrameDecoder.h"

namespace korval::testing {

class DecoderHarness {
public:
    DecoderHarness(ULONG width, ULONG height)
        : width_(width), height_(height), output_(static_cast<std::size_t>(width) * height, 0),
          records_(height)
    {
        opened_ = decoder_.Open(width, height, 8);
    }

    bool process(const std::vector<std::uint8_t>& body, bool reference = false)
    {
        // An exact-size heap copy: one byte past it is outside the allocation.
        std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[body.size() + (body.empty() ? 1 : 0)]);
        if (!body.empty()) {
            std::memcpy(source.get(), body.data(), body.size());
        }
        frame_ = {};
        frame_.psLines = records_.data();
        frame_.ulLineCapacity = height_;
        frame_.pucOutput = output_.data();
        const auto length = static_cast<ULONG>(body.size());
        return reference ? decoder_.ProcessReference(source.get(), length, static_cast<ULONG>(output_.size()), &frame_)
                         : decoder_.Process(source.get(), length, static_cast<ULONG>(output_.size()), &frame_);
    }

    bool opened() const { return opened_; }
    FrameDecoder& decoder() { return decoder_; }
    std::vector<std::uint8_t>& output() { return output_; }
    const std::vector<tagSDecompressionInformation>& records() const { return records_; }
    const tagSDecompressionFrame& frame() const { return frame_; }
    const std::uint8_t* line(ULONG y) const { return output_.data() + static_cast<std::size_t>(y) * width_; }
    std::vector<std::uint8_t> lineCopy(ULONG y) const { return {line(y), line(y) + width_}; }

private:
    FrameDecoder decoder_;
    ULONG width_;
    ULONG height_;
    bool opened_ = false;
    std::vector<std::uint8_t> output_;
    std::vector<tagSDecompressionInformation> records_;
    tagSDecompressionFrame frame_{};
};

} // namespace korval::testing
