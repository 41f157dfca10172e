#include "runtime/FloatingPointState.h"
#include "tools/korval/png_output.h"

#include "control/I420ToBgr.h"

#if defined(KORVAL_NO_LIBPNG)
#include "tools/korval/stored_png.h"
#else
#include <png.h>
#endif

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

std::vector<std::uint8_t> rgbFromI420(std::span<const std::uint8_t> i420, int width, int height)
{
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (i420.size() < pixels * 3 / 2) {
        return {};
    }
    std::vector<std::uint8_t> bgr(pixels * 3);
    CFloatingPointState floatingPoint; // the driver's conversion runs inside a saved state
    I420ToBgrBottomUp(i420.data(), bgr.data(), static_cast<ULONG>(width), static_cast<ULONG>(height));
    return rgbFromBottomUpBgr(bgr, width, height);
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
