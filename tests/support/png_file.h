// Writes pictures that tests produce for a person to look at, as PNG files
// under "pictures/" beside the test program (the build folder), wherever the
// program is started from, so that none lands in the source tree.
#pragma once

#if defined(KORVAL_NO_LIBPNG)
#include "tools/korval/stored_png.h"
#else
#include <png.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace korval::testing {

inline std::filesystem::path pictureFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("pictures") : program.parent_path() / "pictures";
}

// rgb: height rows of width × 3 bytes, R G B, top row first.
inline std::string writeRgbPng(const std::string& name, int width, int height,
                               const std::vector<std::uint8_t>& rgb)
{
    std::filesystem::create_directories(pictureFolder());
    const std::string path = (pictureFolder() / (name + ".png")).string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return {};
    }
#if defined(KORVAL_NO_LIBPNG)
    const std::vector<std::uint8_t> png = korval::tools::encodeStoredPng(width, height, rgb.data());
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    std::fclose(file);
    return written ? path : std::string();
#else
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return {};
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, rgb.data() + static_cast<std::size_t>(y) * width * 3);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return path;
#endif
}

// A bottom-up BGR24 frame (the driver's RGB24 layout) as a PNG.
inline std::string writeBgrBottomUpPng(const std::string& name, int width, int height,
                                       const std::uint8_t* bgr)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = bgr + static_cast<std::size_t>(height - 1 - y) * width * 3;
        std::uint8_t* target = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            target[3 * x] = source[3 * x + 2];
            target[3 * x + 1] = source[3 * x + 1];
            target[3 * x + 2] = source[3 * x];
        }
    }
    return writeRgbPng(name, width, height, rgb);
}

} // namespace korval::testing
