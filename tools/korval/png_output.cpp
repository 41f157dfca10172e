#include "tools/korval/png_output.h"

#if defined(KORVAL_NO_LIBPNG)
#include "tools/korval/stored_png.h"
#else
#include <png.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>
#include <sys/stat.h>

namespace korval::tools {

std::vector<std::uint8_t> rgbFromBottomUpBgr(std::span<const std::uint8_t> bgr, int width, int height)
{
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> rgb(row * height);
    if (bgr.size() < rgb.size()) {
        return {};
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = bgr.data() + (static_cast<std::size_t>(height - 1 - y)) * row;
        std::uint8_t* target = rgb.data() + static_cast<std::size_t>(y) * row;
        for (std::size_t x = 0; x < row; x += 3) {
            target[x] = source[x + 2];
            target[x + 1] = source[x + 1];
            target[x + 2] = source[x];
        }
    }
    return rgb;
}

namespace {

std::uint8_t clampedByte(int value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// The sample serving luma index `index` of a chroma line or column of `count`.
std::size_t chromaIndex(int index, int count)
{
    return static_cast<std::size_t>(std::min(index / 2, count - 1));
}

} // namespace

// The integer terms the driver's still file uses (b' = u*1772/1000,
// g' = (u*-3441)/10000 - (v*7141)/10000, r' = v*1402/1000, truncated), so a
// PNG of an I420 frame shows what the same frame's still shows. A pixel past
// the last chroma column or row takes the nearest sample; a frame one pixel
// wide or high has no chroma and comes out grey.
std::vector<std::uint8_t> rgbFromI420(std::span<const std::uint8_t> i420, int width, int height)
{
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    const std::size_t chroma = static_cast<std::size_t>(chromaWidth) * chromaHeight;
    if (width <= 0 || height <= 0 || i420.size() < pixels + 2 * chroma) {
        return {};
    }
    std::vector<std::uint8_t> rgb(pixels * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = chroma == 0 ? 0 : chromaIndex(y, chromaHeight) * chromaWidth + chromaIndex(x, chromaWidth);
            const int u = chroma == 0 ? 0 : i420[pixels + at] - 128;
            const int v = chroma == 0 ? 0 : i420[pixels + chroma + at] - 128;
            const int luma = i420[static_cast<std::size_t>(y) * width + x];
            std::uint8_t* out = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            out[0] = clampedByte(luma + v * 1402 / 1000);
            out[1] = clampedByte(luma + (u * -3441) / 10000 - (v * 7141) / 10000);
            out[2] = clampedByte(luma + u * 1772 / 1000);
        }
    }
    return rgb;
}

namespace {

#if defined(KORVAL_NO_LIBPNG)
bool encodePng(std::FILE* file, int width, int height, const std::vector<std::uint8_t>& rgb)
{
    const std::vector<std::uint8_t> png = encodeStoredPng(width, height, rgb.data());
    return std::fwrite(png.data(), 1, png.size(), file) == png.size();
}
#else
bool encodePng(std::FILE* file, int width, int height, const std::vector<std::uint8_t>& rgb)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, rgb.data() + static_cast<std::size_t>(y) * width * 3);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
#endif

} // namespace

bool writeRgbPngFile(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
                     std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool encoded = encodePng(file, width, height, rgb);
    const bool flushed = encoded && std::fflush(file) == 0 && !std::ferror(file);
    const int reason = errno;
    const bool closed = std::fclose(file) == 0;
    if (encoded && flushed && closed) {
        return true;
    }
    // A partial picture (a full disk) is not left behind to be taken for a
    // frame; anything but a plain file (a device) is left as it was.
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode)) {
        std::remove(path.c_str());
    }
    error = "cannot write '" + path + "'" + (reason != 0 ? std::string(": ") + std::strerror(reason) : "") +
            " (the partial file was removed)";
    return false;
}

std::string framePath(const std::string& pattern, int index)
{
    // The pattern is the user's text: never handed to printf itself.
    static const std::regex conversion("%(0?)([0-9]*)d");
    std::smatch match;
    if (std::regex_search(pattern, match, conversion)) {
        const std::size_t width = match[2].length() > 0 ? std::stoul(match[2].str()) : 0;
        std::string number = std::to_string(index);
        if (number.size() < width && width <= 16) {
            number.insert(0, width - number.size(), match[1].length() > 0 ? '0' : ' ');
        }
        return match.prefix().str() + number + match.suffix().str();
    }
    char suffix[16];
    std::snprintf(suffix, sizeof(suffix), "_%04d", index);
    const std::size_t dot = pattern.rfind('.');
    const std::size_t slash = pattern.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return pattern + suffix;
    }
    return pattern.substr(0, dot) + suffix + pattern.substr(dot);
}

} // namespace korval::tools
