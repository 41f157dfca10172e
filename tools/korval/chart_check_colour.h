// Colour as a viewer judges it: CIE L*a*b* of sRGB values under the sRGB white
// (D65, 2°), and the CIEDE2000 difference between two such colours.
#pragma once

namespace korval::tools {

struct Lab {
    double L = 0;
    double a = 0;
    double b = 0;
};

// R, G, B in 0..255 (fractions allowed: means over a patch).
Lab labFromSrgb(double red, double green, double blue);

// CIEDE2000 with the parametric factors kL = kC = kH = 1.
double ciede2000(const Lab& first, const Lab& second);

} // namespace korval::tools
