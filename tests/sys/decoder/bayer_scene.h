// A natural-looking 8-bit Bayer frame (B G / G R) for tests and benchmarks:
// a lit gradient sky, a sun, textured blocks, a fine pattern and sensor noise,
// all from a fixed seed so every run sees the same picture.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace korval::testing {

inline std::vector<std::uint8_t> naturalBayerScene(int width, int height, std::uint32_t seed = 1)
{
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height);
    std::uint32_t state = seed;
    auto noise = [&state]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 24) & 7) - 3;
    };
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const double u = static_cast<double>(x) / width;
            const double v = static_cast<double>(y) / height;
            double r = 60 + 120 * v;
            double g = 90 + 100 * v;
            double b = 200 - 90 * v;
            const double sunDistance = std::hypot(u - 0.75, v - 0.2);
            if (sunDistance < 0.08) {
                r = g = b = 250;
            } else if (sunDistance < 0.16) {
                const double glow = (0.16 - sunDistance) / 0.08;
                r += 120 * glow;
                g += 100 * glow;
                b += 40 * glow;
            }
            if (v > 0.55 && u > 0.1 && u < 0.45) { // a brick wall
                const bool mortar = (y % 12) < 2 || ((x + (y / 12 % 2) * 12) % 24) < 2;
                r = mortar ? 170 : 140 + 30 * std::sin(x * 0.7);
                g = mortar ? 165 : 60;
                b = mortar ? 150 : 40;
            }
            if (v > 0.6 && u > 0.55 && u < 0.9) { // a striped awning
                const bool stripe = static_cast<int>(x / 6 + y / 6) % 2 == 0;
                r = stripe ? 230 : 20;
                g = stripe ? 230 : 90;
                b = stripe ? 220 : 30;
            }
            const bool redSite = (y & 1) && (x & 1);
            const bool blueSite = !(y & 1) && !(x & 1);
            const double value = redSite ? r : (blueSite ? b : g);
            const int pixel = static_cast<int>(value) + noise();
            frame[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint8_t>(pixel < 0 ? 0 : (pixel > 255 ? 255 : pixel));
        }
    }
    return frame;
}

} // namespace korval::testing
