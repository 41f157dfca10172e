#include "tools/korval/chart_check_colour.h"

#include <cmath>
#include <numbers>

namespace korval::tools {
namespace {

constexpr double kWhiteX = 0.95047;
constexpr double kWhiteZ = 1.08883;

double linear(double value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double labCurve(double t)
{
    constexpr double kEpsilon = 216.0 / 24389.0;
    constexpr double kKappa = 24389.0 / 27.0;
    return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
}

double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }
double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Hue angle in degrees, 0..360; 0 for a colour without chroma.
double hueAngle(double b, double a)
{
    if (a == 0.0 && b == 0.0) {
        return 0.0;
    }
    const double h = degrees(std::atan2(b, a));
    return h < 0.0 ? h + 360.0 : h;
}

double pow7ratio(double c) // sqrt(c^7 / (c^7 + 25^7))
{
    const double c7 = std::pow(c, 7.0);
    return std::sqrt(c7 / (c7 + std::pow(25.0, 7.0)));
}

} // namespace

Lab labFromSrgb(double red, double green, double blue)
{
    const double r = linear(red);
    const double g = linear(green);
    const double b = linear(blue);
    const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
    const double fx = labCurve(x / kWhiteX);
    const double fy = labCurve(y);
    const double fz = labCurve(z / kWhiteZ);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double ciede2000(const Lab& first, const Lab& second)
{
    const double meanChroma = (std::hypot(first.a, first.b) + std::hypot(second.a, second.b)) / 2.0;
    const double g = 0.5 * (1.0 - pow7ratio(meanChroma));
    const double a1 = (1.0 + g) * first.a;
    const double a2 = (1.0 + g) * second.a;
    const double c1 = std::hypot(a1, first.b);
    const double c2 = std::hypot(a2, second.b);
    const double h1 = hueAngle(first.b, a1);
    const double h2 = hueAngle(second.b, a2);

    const double dL = second.L - first.L;
    const double dC = c2 - c1;
    double dh = 0.0;
    if (c1 * c2 != 0.0) {
        dh = h2 - h1;
        dh += dh > 180.0 ? -360.0 : (dh < -180.0 ? 360.0 : 0.0);
    }
    const double dH = 2.0 * std::sqrt(c1 * c2) * std::sin(radians(dh / 2.0));

    const double meanL = (first.L + second.L) / 2.0;
    const double meanC = (c1 + c2) / 2.0;
    double meanH = h1 + h2;
    if (c1 * c2 != 0.0 && std::abs(h1 - h2) > 180.0) {
        meanH += meanH < 360.0 ? 360.0 : -360.0;
    }
    meanH = c1 * c2 == 0.0 ? meanH : meanH / 2.0;

    const double t = 1.0 - 0.17 * std::cos(radians(meanH - 30.0)) + 0.24 * std::cos(radians(2.0 * meanH)) +
                     0.32 * std::cos(radians(3.0 * meanH + 6.0)) - 0.20 * std::cos(radians(4.0 * meanH - 63.0));
    const double rotation = 30.0 * std::exp(-std::pow((meanH - 275.0) / 25.0, 2.0));
    const double rc = 2.0 * pow7ratio(meanC);
    const double lOffset = (meanL - 50.0) * (meanL - 50.0);
    const double sl = 1.0 + 0.015 * lOffset / std::sqrt(20.0 + lOffset);
    const double sc = 1.0 + 0.045 * meanC;
    const double sh = 1.0 + 0.015 * meanC * t;
    const double rt = -std::sin(radians(2.0 * rotation)) * rc;
    const double l = dL / sl;
    const double c = dC / sc;
    const double h = dH / sh;
    return std::sqrt(l * l + c * c + h * h + rt * c * h);
}

} // namespace korval::tools
