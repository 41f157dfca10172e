// PNG files of delivered frames: the driver's RGB24 frames are bottom-up BGR,
// its I420 frames planar YUV; both become ordinary top-down RGB pictures.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korval::tools {

// Top-down R G B rows from a bottom-up B G R frame of width × height.
std::vector<std::uint8_t> rgbFromBottomUpBgr(std::span<const std::uint8_t> bgr, int width, int height);
// Top-down R G B rows from an I420 frame, in the colours of the driver's still.
std::vector<std::uint8_t> rgbFromI420(std::span<const std::uint8_t> i420, int width, int height);

// Writes an 8-bit RGB PNG; on failure returns false and sets `error`.
bool writeRgbPngFile(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
                     std::string& error);

// "shot_%03d.png" with index 7 → "shot_007.png"; a pattern without a printf
// integer conversion gets "_NNNN" before its extension.
std::string framePath(const std::string& pattern, int index);

} // namespace korval::tools
