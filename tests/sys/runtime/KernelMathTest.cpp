// The driver's own maths against the C library, bit for bit, over every input
// the driver's settings can produce, plus the special values.
#include "runtime/FloatingPointState.h"
#include "runtime/KernelMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace {

std::uint64_t bitsOf(double x)
{
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

// NaNs compare equal whatever their payload.
bool sameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || bitsOf(a) == bitsOf(b);
}

// The driver evaluates inside a floating-point bracket, which on 32-bit x86
// sets the x87 to double precision; the long double references stay outside.
template <typename Expression>
double inBracket(Expression expression)
{
    CFloatingPointState state;
    return expression();
}
#define DRIVER(expression) inBracket([&] { return expression; })

#define EXPECT_SAME_BITS(ours, library, input)                                                                   \
    EXPECT_TRUE(sameBits(ours, library)) << "input " << std::hexfloat << (input) << ": " << (ours) << " vs "    \
                                         << (library)

// The correctly rounded double of a long double result accurate to a few of
// its own ulps; false where it lies too near a rounding midpoint to tell.
bool correctlyRounded(long double accurate, double* rounded)
{
    const double nearest = static_cast<double>(accurate);
    const double other = std::nextafter(nearest, accurate > nearest ? HUGE_VAL : -HUGE_VAL);
    const long double midpoint = (static_cast<long double>(nearest) + other) / 2;
    const long double margin = 16 * (std::nextafter(std::fabs(accurate), HUGE_VALL) - std::fabs(accurate));
    *rounded = nearest;
    return std::fabs(accurate - midpoint) > margin;
}

// Counts inputs where ours is not the correctly rounded result, and where the
// C library's double function is not (it errs by up to about 0.502 ulp).
struct RoundingCount {
    int ours = 0;
    int library = 0;

    void check(double ours_, double library_, long double accurate)
    {
        double rounded;
        if (correctlyRounded(accurate, &rounded)) {
            ours += !sameBits(ours_, rounded);
            library += !sameBits(library_, rounded);
        }
    }
};

std::vector<double> toneTableBases()
{
    std::set<double> bases;
    for (int blackPoint = 0; blackPoint < 255; ++blackPoint) {
        const double stretch = 255.0 / (255 - blackPoint);
        for (int level = 0; level < 256; ++level) {
            bases.insert(level * (1.0 / 255));
            if (level > blackPoint) {
                bases.insert((level - blackPoint) * stretch * (1.0 / 255));
            }
        }
    }
    return {bases.begin(), bases.end()};
}

// Every hue the colour stage can be given, in the stage's own degree unit.
TEST(KernelMath, SineAndCosineOfEveryHueAreCorrectlyRounded)
{
    const double degreeToRadian = 3.1416 / 180.0;
    RoundingCount count;
    for (unsigned hue = 0; hue <= 0xFFFF; ++hue) {
        const double angle = DRIVER(hue * degreeToRadian); // rounded to double, as in the driver
        count.check(DRIVER(KorvalSin(angle)), std::sin(angle), std::sin(static_cast<long double>(angle)));
        count.check(DRIVER(KorvalCos(angle)), std::cos(angle), std::cos(static_cast<long double>(angle)));
    }
    EXPECT_EQ(count.ours, 0);
    RecordProperty("library_misrounded", count.library);
}

// The tone tables raise level / 255 and the stretched levels of every black
// point to every gamma of the published range. Where the result differs from
// the C library's in the last bit, the table entry trunc(x^g * 255) does not.
TEST(KernelMath, PowerOfEveryToneTableInputIsCorrectlyRoundedAndKeepsTheEntries)
{
    const std::vector<double> bases = toneTableBases();
    RoundingCount count;
    int differentEntries = 0;
    for (int setting = 0; setting <= 150; ++setting) {
        const double gamma = setting * 0.01;
        for (double base : bases) {
            const double ours = DRIVER(KorvalPow(base, gamma));
            const double library = std::pow(base, gamma);
            if (ours != library) {
                count.check(ours, library, std::pow(static_cast<long double>(base), static_cast<long double>(gamma)));
                differentEntries += std::trunc(ours * 255.0) != std::trunc(library * 255.0);
            }
        }
    }
    EXPECT_EQ(count.ours, 0);
    EXPECT_EQ(differentEntries, 0);
    RecordProperty("library_misrounded", count.library);
}

// Auto exposure takes log(total / gain) of a continuous quantity: a dense
// sample of its range, and the neighbours of the powers of two it floors at.
TEST(KernelMath, LogarithmOverTheExposureRangeIsCorrectlyRounded)
{
    std::vector<double> inputs = {2.0, 1.0, 0.5, 3.0, 1e-300, 5e-324, 1e300};
    for (int k = -16; k <= 16; ++k) {
        double x = std::ldexp(1.0, k);
        for (int step = 0; step < 4; ++step) {
            inputs.push_back(x);
            inputs.push_back(std::nextafter(x, 0.0));
            x = std::nextafter(x, 10.0 * x);
        }
    }
    std::mt19937_64 random(16);
    std::uniform_real_distribution<double> exponent(-16.0, 16.0);
    for (int i = 0; i < 200000; ++i) {
        inputs.push_back(std::exp2(exponent(random)));
    }
    RoundingCount count;
    for (double x : inputs) {
        count.check(DRIVER(KorvalLog(x)), std::log(x), std::log(static_cast<long double>(x)));
    }
    EXPECT_EQ(count.ours, 0);
    // Floor(log(2^k) / log(2)) is k exactly, as auto exposure needs.
    for (int k = -16; k <= 16; ++k) {
        EXPECT_EQ(DRIVER(std::floor(KorvalLog(std::ldexp(1.0, k)) / KorvalLog(2.0))), k);
    }
}

// Where sine and cosine differ from the C library's in the last bit, the hue
// terms of the colour composite in Q13, trunc(saturation * cos or sin * 8192),
// do not.
TEST(KernelMath, HueTermsEqualThoseOfTheLibrary)
{
    int differentEntries = 0;
    const double degreeToRadian = 3.1416 / 180.0;
    for (int hue = 0; hue <= 360; ++hue) {
        const double angle = DRIVER(hue * degreeToRadian); // rounded to double, as in the driver
        for (int percent = 0; percent <= 200; ++percent) {
            const double saturation = percent * 0.01;
            differentEntries += DRIVER(std::trunc(saturation * KorvalCos(angle) * 8192.0)) !=
                                DRIVER(std::trunc(saturation * std::cos(angle) * 8192.0));
            differentEntries += DRIVER(std::trunc(saturation * KorvalSin(angle) * 8192.0)) !=
                                DRIVER(std::trunc(saturation * std::sin(angle) * 8192.0));
        }
    }
    EXPECT_EQ(differentEntries, 0);
}

TEST(KernelMath, SpecialValuesFollowTheLibrary)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0, -2.0, 3.0, -3.0, 1.5, inf, -inf, nan,
                             5e-324, -5e-324, 1e308, 0x1p52 + 0.5, -0x1p52 - 1.0, 0x1p53};
    for (double x : values) {
        EXPECT_SAME_BITS(DRIVER(KorvalTrunc(x)), std::trunc(x), x);
        EXPECT_SAME_BITS(DRIVER(KorvalFloor(x)), std::floor(x), x);
        EXPECT_SAME_BITS(DRIVER(KorvalFabs(x)), std::fabs(x), x);
        EXPECT_SAME_BITS(DRIVER(KorvalLog(x)), std::log(x), x);
        if (std::fabs(x) < 0x1p20 || !std::isfinite(x)) {
            EXPECT_SAME_BITS(DRIVER(KorvalSin(x)), std::sin(x), x);
            EXPECT_SAME_BITS(DRIVER(KorvalCos(x)), std::cos(x), x);
        }
        for (double y : values) {
            EXPECT_SAME_BITS(DRIVER(KorvalPow(x, y)), std::pow(x, y), x) << " ^ " << y;
        }
        for (int exponent : {-2000, -1074, -1070, -1022, -60, -1, 0, 1, 60, 1023, 1024, 2000}) {
            EXPECT_SAME_BITS(DRIVER(KorvalLdexp(x, exponent)), std::ldexp(x, exponent), x) << " * 2^" << exponent;
        }
    }
    for (double x : {0.49999999999999994, -2.5, 2.5, 0x1.fffffffffffffp51}) {
        EXPECT_SAME_BITS(DRIVER(KorvalTrunc(x)), std::trunc(x), x);
        EXPECT_SAME_BITS(DRIVER(KorvalFloor(x)), std::floor(x), x);
    }
    // Subnormal results of pow round once.
    for (double y : {1074.5, 1060.25, 1050.0}) {
        EXPECT_SAME_BITS(DRIVER(KorvalPow(0.5, y)), std::pow(0.5, y), y);
    }
}

TEST(KernelMath, RoundingFunctionsMatchTheLibraryOnRandomBits)
{
    std::mt19937_64 random(7);
    for (int i = 0; i < 100000; ++i) {
        double x;
        const std::uint64_t bits = random();
        std::memcpy(&x, &bits, sizeof(x));
        EXPECT_SAME_BITS(DRIVER(KorvalTrunc(x)), std::trunc(x), x);
        EXPECT_SAME_BITS(DRIVER(KorvalFloor(x)), std::floor(x), x);
        const int exponent = static_cast<int>(random() % 4200) - 2100;
        EXPECT_SAME_BITS(DRIVER(KorvalLdexp(x, exponent)), std::ldexp(x, exponent), x);
    }
}

} // namespace
