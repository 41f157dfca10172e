// Expands a frame body with the driver's FrameDecoder. The decoder is built
// without RTTI, so the undefined-behaviour sanitizer's vptr check (which needs
// its type information) is switched off for the calls made here.
#pragma once

#include "camera/sensor/scene.h"
#include "decoder/FrameDecoder.h"

#include <cstdint>
#include <vector>

namespace korval::camera::testing {

struct DecodedFrame {
    bool accepted = false;
    tagSDecompressionFrame records{};
    std::vector<tagSDecompressionInformation> lines;
    std::vector<std::uint8_t> bayer;
};

__attribute__((no_sanitize("vptr"))) inline DecodedFrame decodeBody(const std::vector<std::uint8_t>& body)
{
    DecodedFrame result;
    result.lines.resize(kSensorHeight);
    result.bayer.assign(static_cast<std::size_t>(kSensorWidth) * kSensorHeight + 32768, 0);
    result.records.psLines = result.lines.data();
    result.records.ulLineCapacity = kSensorHeight;
    result.records.pucOutput = result.bayer.data();
    FrameDecoder decoder;
    if (decoder.Open(kSensorWidth, kSensorHeight, 8)) {
        result.accepted = decoder.Process(body.data(), static_cast<ULONG>(body.size()),
                                          static_cast<ULONG>(result.bayer.size()), &result.records);
    }
    return result;
}

// Largest difference a line of this kind may have from the sensor: the step of its code.
inline int lineTolerance(std::uint8_t kind)
{
    return kind == 0xF0 ? 0 : kind == 0xE1 ? 5 : kind == 0xD2 ? 9 : 17;
}

} // namespace korval::camera::testing
