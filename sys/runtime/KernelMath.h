// The floating-point functions the driver's table builders need. A kernel
// exports none of them, so the driver carries its own, and the host build runs
// the same code, so its tests check exactly what Windows runs.
//
// trunc, floor, fabs and ldexp are exact. log, pow, sin and cos evaluate in
// double-double arithmetic (about 106 bits) and round once at the end, so their
// results are the correctly rounded ones for all but astronomically rare
// inputs; the tests sweep every input the driver's settings can produce and
// compare with the C library bit for bit.
//
// On 32-bit x86 they rely on the x87 unit rounding to double precision, which
// the floating-point bracket sets (runtime/FloatingPointState.h).
#pragma once

double KorvalTrunc(double x);
double KorvalFloor(double x);
double KorvalFabs(double x);
double KorvalLdexp(double x, int exponent);
double KorvalLog(double x);
double KorvalPow(double x, double y);
// Accurate for |x| < 2^20; the driver's angles stay below 2^11.
double KorvalSin(double x);
double KorvalCos(double x);
