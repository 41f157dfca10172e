// Pictures for the browser: delivered frames as JPEG, stills as PNG, both in
// memory, and the still file the driver writes read back into a picture.
#pragma once

#include "tools/korval/serve/frame_hub.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools::serve {

// JPEG of a delivered frame (I420, or bottom-up BGR24); empty on failure.
std::string jpegFromFrame(const DeliveredFrame& frame, int quality = 85);

// An 8-bit RGB PNG of top-down rows; empty on failure.
std::string pngFromRgb(int width, int height, const std::vector<std::uint8_t>& rgb);

struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // top-down R G B rows
};

// The still file: a 32-byte header (32, width, height, 24, width, height, 24,
// 100) and bottom-up B G R rows. Nothing, with `error`, when it is missing,
// short or inconsistent.
std::optional<RgbPicture> readStillFile(const std::filesystem::path& path, std::string& error);

} // namespace korval::tools::serve
