// Test pictures for the demosaic, rearrangement and tone stages: padded Bayer
// planes filled with random samples or with a natural scene (smooth gradients
// with sharp-edged shapes) sampled through a Bayer phase.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace korval::tests {

constexpr int kCifWidth = 352;
constexpr int kCifHeight = 288;

struct PaddedFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bayer;  // (width + 4) x (height + 4)
    std::vector<std::uint8_t> green;
    std::vector<std::uint8_t> packed;  // 3 x width x height

    PaddedFrame(int w, int h)
        : width(w), height(h), bayer(static_cast<size_t>(w + 4) * (h + 4)),
          green(bayer.size(), 0xCD), packed(static_cast<size_t>(3) * w * h, 0xCD) {}
    int stride() const { return width + 4; }
    std::uint8_t& at(int row, int column) { return bayer[static_cast<size_t>(row + 2) * stride() + column + 2]; }
    std::uint8_t greenAt(int row, int column) const { return green[static_cast<size_t>(row + 2) * stride() + column + 2]; }
};

inline PaddedFrame randomFrame(int w, int h, std::uint32_t seed)
{
    PaddedFrame frame(w, h);
    std::mt19937 generator(seed);
    for (auto& sample : frame.bayer) {
        sample = static_cast<std::uint8_t>(generator() & 0xFF);
    }
    return frame;
}

// Scene colour at a pixel: gradients, a dark disc, a bright bar and a hard
// vertical and horizontal edge, so both smooth areas and edges occur.
inline void sceneRgb(int x, int y, int w, int h, int rgb[3])
{
    rgb[0] = 30 + 200 * x / w;
    rgb[1] = 40 + 180 * y / h;
    rgb[2] = 220 - 150 * (x + y) / (w + h);
    int dx = x - w / 3, dy = y - h / 2;
    if (dx * dx + dy * dy < (h / 5) * (h / 5)) {
        rgb[0] = 250; rgb[1] = 20; rgb[2] = 10;
    }
    if (x > 2 * w / 3 && x < 2 * w / 3 + 12) {
        rgb[0] = rgb[1] = rgb[2] = 255;
    }
    if (y > 3 * h / 4) {
        rgb[0] /= 4; rgb[1] /= 3; rgb[2] /= 2;
    }
}

// Colour channel (0 B, 1 G, 2 R) sampled at (row, column) for a phase.
inline int bayerChannel(int phase, int row, int column)
{
    static const int kCell[4][4] = {{0, 1, 1, 2}, {1, 0, 2, 1}, {1, 2, 0, 1}, {2, 1, 1, 0}};
    return kCell[phase][(row & 1) * 2 + (column & 1)];
}

inline PaddedFrame naturalFrame(int w, int h, int phase)
{
    PaddedFrame frame(w, h);
    for (int row = -2; row < h + 2; ++row) {
        for (int column = -2; column < w + 2; ++column) {
            int rgb[3];
            sceneRgb(column < 0 ? 0 : (column >= w ? w - 1 : column), row < 0 ? 0 : (row >= h ? h - 1 : row), w, h, rgb);
            int channel = bayerChannel(phase, row & 3, column & 3);
            frame.bayer[static_cast<size_t>(row + 2) * frame.stride() + column + 2] =
                static_cast<std::uint8_t>(channel == 0 ? rgb[2] : (channel == 1 ? rgb[1] : rgb[0]));
        }
    }
    return frame;
}

// Pixel k of row r from a 4B4G4R buffer: B, G, R.
inline void packedPixel(const std::vector<std::uint8_t>& packed, int w, int r, int k, int bgr[3])
{
    const std::uint8_t* group = packed.data() + static_cast<size_t>(r) * 3 * w + (k / 8) * 24;
    int i = k % 8;
    for (int ch = 0; ch < 3; ++ch) {
        bgr[ch] = group[(i & 1) * 12 + ch * 4 + (i >> 1)];
    }
}

} // namespace korval::tests
