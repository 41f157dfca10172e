#include "tools/korval/serve/image_encoding.h"

#include "tools/korval/png_output.h"

#include <png.h>
#include <turbojpeg.h>

#include <array>
#include <fstream>
#include <memory>

namespace korval::tools::serve {
namespace {

constexpr int kLargestStillSide = 4096;

struct CompressorDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

std::uint32_t littleEndian(const std::uint8_t* bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

} // namespace

std::string jpegFromFrame(const DeliveredFrame& frame, int quality)
{
    std::unique_ptr<void, CompressorDeleter> handle(tjInitCompress());
    const std::size_t pixels = static_cast<std::size_t>(frame.width) * frame.height;
    const std::size_t needed = frame.i420 ? pixels * 3 / 2 : pixels * 3;
    if (!handle || frame.width <= 0 || frame.height <= 0 || frame.bytes.size() < needed) {
        return {};
    }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    int failed = 0;
    if (frame.i420) {
        failed = tjCompressFromYUV(handle.get(), frame.bytes.data(), frame.width, 1, frame.height, TJSAMP_420, &jpeg,
                                   &size, quality, 0);
    } else {
        failed = tjCompress2(handle.get(), frame.bytes.data(), frame.width, frame.width * 3, frame.height, TJPF_BGR,
                             &jpeg, &size, TJSAMP_420, quality, TJFLAG_BOTTOMUP);
    }
    std::string encoded;
    if (failed == 0 && jpeg != nullptr) {
        encoded.assign(reinterpret_cast<const char*>(jpeg), size);
    }
    tjFree(jpeg);
    return encoded;
}

std::string pngFromRgb(int width, int height, const std::vector<std::uint8_t>& rgb)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (width <= 0 || height <= 0 || rgb.size() < PNG_IMAGE_SIZE(image)) {
        return {};
    }
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    std::string encoded(size, '\0');
    if (png_image_write_to_memory(&image, encoded.data(), &size, 0, rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    encoded.resize(size);
    return encoded;
}

std::optional<RgbPicture> readStillFile(const std::filesystem::path& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    std::array<std::uint8_t, 32> header{};
    if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) {
        error = "no still file yet";
        return std::nullopt;
    }
    RgbPicture picture;
    picture.width = static_cast<int>(littleEndian(&header[4]));
    picture.height = static_cast<int>(littleEndian(&header[8]));
    const bool sane = littleEndian(&header[0]) == 32 && littleEndian(&header[12]) == 24 && picture.width > 0 &&
                      picture.height > 0 && picture.width <= kLargestStillSide &&
                      picture.height <= kLargestStillSide;
    if (!sane) {
        error = "the still file has an unexpected header";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(picture.width) * picture.height * 3);
    if (!file.read(reinterpret_cast<char*>(bgr.data()), static_cast<std::streamsize>(bgr.size()))) {
        error = "the still file is shorter than its header says";
        return std::nullopt;
    }
    picture.rgb = rgbFromBottomUpBgr(bgr, picture.width, picture.height);
    return picture;
}

} // namespace korval::tools::serve
