#include "tools/korval/sample_overlays.h"

#include "tools/korval/registry_defaults.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace korval::tools {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kBorder = 14;

void putLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A Windows bitmap: file header, BITMAPINFOHEADER, a grey palette for 8 bits,
// then the rows (bottom row first; both pictures here are symmetric).
std::vector<std::uint8_t> bitmap(int bitsPerPixel, const std::vector<std::uint8_t>& pixels)
{
    const std::uint32_t paletteBytes = bitsPerPixel == 8 ? 1024 : 0;
    const std::uint32_t offset = 14 + 40 + paletteBytes;
    std::vector<std::uint8_t> file(offset, 0);
    file[0] = 'B';
    file[1] = 'M';
    putLittleEndian(file, 2, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    putLittleEndian(file, 10, offset, 4);
    putLittleEndian(file, 14, 40, 4);
    putLittleEndian(file, 18, kWidth, 4);
    putLittleEndian(file, 22, kHeight, 4);
    putLittleEndian(file, 26, 1, 2);
    putLittleEndian(file, 28, static_cast<std::uint32_t>(bitsPerPixel), 2);
    putLittleEndian(file, 34, static_cast<std::uint32_t>(pixels.size()), 4);
    for (std::uint32_t i = 0; i < paletteBytes / 4; ++i) {
        file[54 + i * 4] = file[55 + i * 4] = file[56 + i * 4] = static_cast<std::uint8_t>(i);
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

struct Overlay {
    const char* stem;
    std::function<void(int x, int y, std::uint8_t* bgr, std::uint8_t& weight)> paint;
};

void paintBorder(int x, int y, std::uint8_t* bgr, std::uint8_t& weight)
{
    const int edge = std::min({x, y, kWidth - 1 - x, kHeight - 1 - y});
    const bool inBorder = edge < kBorder;
    bgr[0] = static_cast<std::uint8_t>(edge < 3 ? 40 : 200); // blue frame with a dark rim
    bgr[1] = static_cast<std::uint8_t>(edge < 3 ? 30 : 120 + edge * 4);
    bgr[2] = static_cast<std::uint8_t>(edge < 3 ? 20 : 40);
    weight = inBorder ? 255 : 0;
}

void paintVignette(int x, int y, std::uint8_t* bgr, std::uint8_t& weight)
{
    const double dx = (x - kWidth / 2.0) / (kWidth / 2.0);
    const double dy = (y - kHeight / 2.0) / (kHeight / 2.0);
    const double reach = std::sqrt(dx * dx + dy * dy);
    bgr[0] = bgr[1] = bgr[2] = 0;
    weight = static_cast<std::uint8_t>(std::clamp((reach - 0.6) / 0.6, 0.0, 1.0) * 255);
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool writeOverlay(const std::filesystem::path& folder, const Overlay& overlay)
{
    std::vector<std::uint8_t> picture(kWidth * kHeight * 3);
    std::vector<std::uint8_t> mask(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * kWidth + x;
            overlay.paint(x, y, &picture[at * 3], mask[at]);
        }
    }
    const std::string stem = overlay.stem;
    return writeFile(folder / (stem + "p3.bmp"), bitmap(24, picture)) &&
           writeFile(folder / (stem + "m3.bmp"), bitmap(8, mask));
}

} // namespace

bool installSampleOverlays(host::Registry& registry, const std::filesystem::path& machineDirectory)
{
    const std::string key = std::string(kParametersKey) + "\\Frame";
    if (registry.value(key, "PATH")) {
        return true;
    }
    const Overlay overlays[] = {{"border", paintBorder}, {"vignette", paintVignette}};
    const std::filesystem::path folder = machineDirectory / "C" / "Frames";
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    for (const auto& overlay : overlays) {
        if (failure || !writeOverlay(folder, overlay)) {
            return false;
        }
    }
    registry.setValue(key, "PATH", host::RegistryValue::string("C:\\Frames"));
    registry.setValue(key, "FN0001", host::RegistryValue::string("border"));
    registry.setValue(key, "FN0002", host::RegistryValue::string("vignette"));
    return true;
}

} // namespace korval::tools
