// Double-double arithmetic: a value is the unevaluated sum dHigh + dLow with
// |dLow| <= half an ulp of dHigh, about 106 significant bits. Every step is a
// plain IEEE double operation (no fused multiply-add), so the same steps give
// the same bits on every processor and in constant evaluation.
#pragma once

struct tagDoubleDouble {
    double dHigh;
    double dLow;
};

// a + b exactly, for any a and b.
constexpr tagDoubleDouble DdTwoSum(double a, double b)
{
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a + b exactly, when |a| >= |b|.
constexpr tagDoubleDouble DdQuickTwoSum(double a, double b)
{
    const double s = a + b;
    return {s, b - (s - a)};
}

// a * b exactly, by Dekker's splitting into 26-bit halves.
constexpr tagDoubleDouble DdTwoProduct(double a, double b)
{
    constexpr double kSplitter = 134217729.0; // 2^27 + 1
    const double p = a * b;
    const double ta = kSplitter * a;
    const double aHigh = ta - (ta - a);
    const double aLow = a - aHigh;
    const double tb = kSplitter * b;
    const double bHigh = tb - (tb - b);
    const double bLow = b - bHigh;
    return {p, ((aHigh * bHigh - p) + aHigh * bLow + aLow * bHigh) + aLow * bLow};
}

constexpr tagDoubleDouble DdAdd(tagDoubleDouble x, tagDoubleDouble y)
{
    tagDoubleDouble s = DdTwoSum(x.dHigh, y.dHigh);
    const tagDoubleDouble t = DdTwoSum(x.dLow, y.dLow);
    s = DdQuickTwoSum(s.dHigh, s.dLow + t.dHigh);
    return DdQuickTwoSum(s.dHigh, s.dLow + t.dLow);
}

constexpr tagDoubleDouble DdNegate(tagDoubleDouble x)
{
    return {-x.dHigh, -x.dLow};
}

constexpr tagDoubleDouble DdMultiply(tagDoubleDouble x, tagDoubleDouble y)
{
    const tagDoubleDouble p = DdTwoProduct(x.dHigh, y.dHigh);
    return DdQuickTwoSum(p.dHigh, p.dLow + (x.dHigh * y.dLow + x.dLow * y.dHigh));
}

constexpr tagDoubleDouble DdMultiply(tagDoubleDouble x, double y)
{
    const tagDoubleDouble p = DdTwoProduct(x.dHigh, y);
    return DdQuickTwoSum(p.dHigh, p.dLow + x.dLow * y);
}

// Long division with three quotient digits.
constexpr tagDoubleDouble DdDivide(tagDoubleDouble x, tagDoubleDouble y)
{
    const double q1 = x.dHigh / y.dHigh;
    tagDoubleDouble r = DdAdd(x, DdNegate(DdMultiply(y, q1)));
    const double q2 = r.dHigh / y.dHigh;
    r = DdAdd(r, DdNegate(DdMultiply(y, q2)));
    const double q3 = r.dHigh / y.dHigh;
    return DdAdd(DdQuickTwoSum(q1, q2), tagDoubleDouble{q3, 0.0});
}
