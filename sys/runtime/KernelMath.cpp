#include "runtime/KernelMath.h"

#include "runtime/DoubleDouble.h"

#include <cstdint>

namespace {

constexpr int kExponentBias = 1023;
constexpr int kFractionBits = 52;
constexpr std::uint64_t kSignBit = 0x8000000000000000ULL;

// ln 2 and pi / 2 split into doubles (the parts sum to about 107 and 160 bits).
constexpr tagDoubleDouble kLn2 = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};
constexpr double kHalfPi[3] = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54, -0x1.f1976b7ed8fbcp-110};
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;

// Enough terms that the first one left out is below 2^-107 of the sum.
constexpr int kLogTerms = 23;   // 1/(2k+1), |f| <= 0.172
constexpr int kFactorials = 31; // 1/n!, for exp (|r| <= 2^-9) and sin/cos (|r| <= pi/4)
constexpr int kExpTerms = 11;
constexpr int kSinCosTerms = 15;
constexpr int kExpSquarings = 8;

struct tagSeries {
    tagDoubleDouble asInverseOdd[kLogTerms];
    tagDoubleDouble asInverseFactorial[kFactorials];
};

constexpr tagSeries MakeSeries()
{
    tagSeries s = {};
    for (int k = 0; k < kLogTerms; ++k) {
        s.asInverseOdd[k] = DdDivide({1.0, 0.0}, {2.0 * k + 1.0, 0.0});
    }
    tagDoubleDouble factorial = {1.0, 0.0};
    for (int n = 0; n < kFactorials; ++n) {
        if (n > 1) {
            factorial = DdMultiply(factorial, static_cast<double>(n));
        }
        s.asInverseFactorial[n] = DdDivide({1.0, 0.0}, factorial);
    }
    return s;
}

constexpr tagSeries kSeries = MakeSeries();

std::uint64_t Bits(double x)
{
    return __builtin_bit_cast(std::uint64_t, x);
}

double FromBits(std::uint64_t bits)
{
    return __builtin_bit_cast(double, bits);
}

int BiasedExponent(double x)
{
    return static_cast<int>((Bits(x) >> kFractionBits) & 0x7FF);
}

bool IsNan(double x)
{
    return x != x;
}

double Infinity()
{
    return FromBits(0x7FF0000000000000ULL);
}

double QuietNan()
{
    return FromBits(0x7FF8000000000000ULL);
}

// Nearest integer of |x| < 2^30, ties away from zero.
int RoundToInt(double x)
{
    return static_cast<int>(x < 0.0 ? x - 0.5 : x + 0.5);
}

// log of a positive finite x: x = 2^e m with m in [sqrt(1/2), sqrt(2)), and
// log m = 2 atanh(f) = 2 (f + f^3/3 + f^5/5 + ...) with f = (m - 1) / (m + 1).
tagDoubleDouble LogDd(double x)
{
    int exponent = 0;
    if (BiasedExponent(x) == 0) { // subnormal: make it normal first
        x *= 0x1p54;
        exponent -= 54;
    }
    exponent += BiasedExponent(x) - kExponentBias;
    double m = FromBits((Bits(x) & ~(0x7FFULL << kFractionBits)) | (static_cast<std::uint64_t>(kExponentBias) << kFractionBits));
    if (m > kSqrt2) {
        m *= 0.5;
        ++exponent;
    }
    const tagDoubleDouble f = DdDivide({m - 1.0, 0.0}, DdTwoSum(m, 1.0));
    const tagDoubleDouble f2 = DdMultiply(f, f);
    tagDoubleDouble sum = kSeries.asInverseOdd[kLogTerms - 1];
    for (int k = kLogTerms - 2; k >= 0; --k) {
        sum = DdAdd(DdMultiply(sum, f2), kSeries.asInverseOdd[k]);
    }
    const tagDoubleDouble logM = DdMultiply(DdMultiply(f, sum), 2.0);
    return DdAdd(DdMultiply(kLn2, static_cast<double>(exponent)), logM);
}

// Rounds value * 2^exponent once, also where the result is subnormal.
double ScaleAndRound(tagDoubleDouble value, int exponent)
{
    const int resultExponent = BiasedExponent(value.dHigh) - kExponentBias + exponent;
    if (resultExponent >= -1022) {
        return KorvalLdexp(value.dHigh, exponent);
    }
    // In units of the smallest subnormal: round to an integer, ties to even.
    const double high = KorvalLdexp(value.dHigh, exponent + 1074);
    const double low = KorvalLdexp(value.dLow, exponent + 1074);
    double whole = KorvalFloor(high);
    const double fraction = (high - whole) + low;
    if (fraction > 0.5 || (fraction == 0.5 && KorvalFloor(whole * 0.5) * 2.0 != whole)) {
        whole += 1.0;
    } else if (fraction < 0.0) {
        whole -= 1.0;
    }
    return KorvalLdexp(whole, -1074);
}

// exp(a) = 2^k exp(r), r = a - k ln 2; exp(r) = (1 + expm1(r / 256))^256,
// squared as expm1(2s) = 2 expm1(s) + expm1(s)^2 to keep the small part exact.
double ExpDd(tagDoubleDouble a)
{
    if (a.dHigh > 710.0) {
        return Infinity();
    }
    if (a.dHigh < -746.0) {
        return 0.0;
    }
    const int k = RoundToInt(a.dHigh * (1.0 / kLn2.dHigh));
    const tagDoubleDouble r = DdAdd(a, DdNegate(DdMultiply(kLn2, static_cast<double>(k))));
    const tagDoubleDouble s = {r.dHigh * 0x1p-8, r.dLow * 0x1p-8};
    tagDoubleDouble p = kSeries.asInverseFactorial[kExpTerms];
    for (int n = kExpTerms - 1; n >= 1; --n) {
        p = DdAdd(DdMultiply(p, s), kSeries.asInverseFactorial[n]);
    }
    p = DdMultiply(p, s);
    for (int i = 0; i < kExpSquarings; ++i) {
        p = DdAdd(DdMultiply(p, 2.0), DdMultiply(p, p));
    }
    return ScaleAndRound(DdAdd({1.0, 0.0}, p), k);
}

bool IsInteger(double y)
{
    return KorvalTrunc(y) == y;
}

bool IsOddInteger(double y)
{
    return IsInteger(y) && KorvalFabs(y) < 0x1p53 && KorvalTrunc(y * 0.5) != y * 0.5;
}

// pow where x or y is 0, infinite or NaN, or x is 1; false for the rest.
bool PowSpecial(double x, double y, double* result)
{
    if (y == 0.0 || x == 1.0) {
        *result = 1.0;
    } else if (IsNan(x) || IsNan(y)) {
        *result = QuietNan();
    } else if (KorvalFabs(y) == Infinity()) {
        const double magnitude = KorvalFabs(x);
        *result = magnitude == 1.0 ? 1.0 : ((magnitude > 1.0) == (y > 0.0) ? Infinity() : 0.0);
    } else if (x == 0.0 || KorvalFabs(x) == Infinity()) {
        const bool large = (x != 0.0) == (y > 0.0);
        const bool negative = (Bits(x) & kSignBit) != 0 && IsOddInteger(y);
        const double magnitude = large ? Infinity() : 0.0;
        *result = negative ? -magnitude : magnitude;
    } else {
        return false;
    }
    return true;
}

// sin (bCosine false) or cos of r, |r| <= pi/4, by their Taylor series.
tagDoubleDouble SinCosSeries(tagDoubleDouble r, bool bCosine)
{
    const tagDoubleDouble r2 = DdMultiply(r, r);
    const int first = bCosine ? 0 : 1;
    int n = first + 2 * (kSinCosTerms - 1);
    tagDoubleDouble sum = kSeries.asInverseFactorial[n];
    for (n -= 2; n >= first; n -= 2) {
        sum = DdAdd(DdNegate(DdMultiply(sum, r2)), kSeries.asInverseFactorial[n]);
    }
    return bCosine ? sum : DdMultiply(sum, r);
}

// sin(x + quarterTurns * pi/2) for |x| < 2^20.
double SinQuarter(double x, int quarterTurns)
{
    if (IsNan(x) || KorvalFabs(x) == Infinity()) {
        return QuietNan();
    }
    const int k = RoundToInt(x * kTwoOverPi);
    const double dk = static_cast<double>(k);
    tagDoubleDouble r = DdAdd({x, 0.0}, DdNegate(DdTwoProduct(dk, kHalfPi[0])));
    r = DdAdd(r, DdNegate(DdTwoProduct(dk, kHalfPi[1])));
    r = DdAdd(r, {-dk * kHalfPi[2], 0.0});
    const int quadrant = (k + quarterTurns) & 3;
    const tagDoubleDouble value = SinCosSeries(r, (quadrant & 1) != 0);
    return quadrant >= 2 ? -value.dHigh : value.dHigh;
}

} // namespace

double KorvalTrunc(double x)
{
    const int exponent = BiasedExponent(x) - kExponentBias;
    if (exponent >= kFractionBits) {
        return x; // already whole, infinite or NaN
    }
    if (exponent < 0) {
        return FromBits(Bits(x) & kSignBit);
    }
    const std::uint64_t fraction = (1ULL << (kFractionBits - exponent)) - 1;
    return FromBits(Bits(x) & ~fraction);
}

double KorvalFloor(double x)
{
    const double whole = KorvalTrunc(x);
    return whole > x ? whole - 1.0 : whole;
}

double KorvalFabs(double x)
{
    return FromBits(Bits(x) & ~kSignBit);
}

// Scales in steps that cannot round, so only the last multiplication rounds.
double KorvalLdexp(double x, int exponent)
{
    if (exponent > 1023) {
        x *= 0x1p1023;
        exponent -= 1023;
        if (exponent > 1023) {
            x *= 0x1p1023;
            exponent -= 1023;
            exponent = exponent > 1023 ? 1023 : exponent;
        }
    } else if (exponent < -1022) {
        x *= 0x1p-969; // 2^-1022 * 2^53: stays normal for normal x
        exponent += 969;
        if (exponent < -1022) {
            x *= 0x1p-969;
            exponent += 969;
            exponent = exponent < -1022 ? -1022 : exponent;
        }
    }
    return x * FromBits(static_cast<std::uint64_t>(exponent + kExponentBias) << kFractionBits);
}

double KorvalLog(double x)
{
    if (IsNan(x) || x < 0.0) {
        return QuietNan();
    }
    if (x == 0.0) {
        return -Infinity();
    }
    if (x == Infinity()) {
        return x;
    }
    if (x == 1.0) {
        return 0.0;
    }
    return LogDd(x).dHigh;
}

double KorvalPow(double x, double y)
{
    double special = 0.0;
    if (PowSpecial(x, y, &special)) {
        return special;
    }
    if (x < 0.0 && !IsInteger(y)) {
        return QuietNan();
    }
    const tagDoubleDouble logX = LogDd(KorvalFabs(x));
    double magnitude = 0.0;
    if (logX.dHigh == 0.0) { // |x| == 1
        magnitude = 1.0;
    } else if (KorvalFabs(y) > 0x1p900) { // far past overflow or underflow; keeps the split finite
        magnitude = (logX.dHigh > 0.0) == (y > 0.0) ? Infinity() : 0.0;
    } else {
        magnitude = ExpDd(DdMultiply(logX, y));
    }
    return x < 0.0 && IsOddInteger(y) ? -magnitude : magnitude;
}

double KorvalSin(double x)
{
    return x == 0.0 ? x : SinQuarter(x, 0);
}

double KorvalCos(double x)
{
    return SinQuarter(x, 1);
}
