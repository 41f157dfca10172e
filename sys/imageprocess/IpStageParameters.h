// Settings records of the white-balance, colour and tone stages. They sit
// packed inside tagIpParameters, which is copied whole, so their byte layouts
// are fixed.
#pragma once

#include "platform/NtTypes.h"

#pragma pack(push, 1)

// White balance: which raw samples count as grey, and how far the gains move.
typedef struct tagIpAwbParameters {
    UCHAR ucSpeed;       // percent of the measured correction applied per run
    UCHAR ucUpperLuma;   // a sample counts only if Y <= this
    UCHAR ucLowerLuma;   // a sample counts only if Y >= this
    UCHAR ucULimit;      // ... and |U| <= this
    UCHAR ucVLimit;      // ... and |V| <= this
    UCHAR ucUVLimit;     // ... and |U + V| <= this
    USHORT usMaxGain;    // upper limit of the R and B gains, 128 = 1.0
    USHORT usMinGain;    // lower limit of the R and B gains, 128 = 1.0
} IpAwbParameters, *PIpAwbParameters;
static_assert(sizeof(tagIpAwbParameters) == 10);

// Colour: digital gains, hue/saturation and the user colour matrix.
enum { IP_GAIN_R = 0, IP_GAIN_G = 1, IP_GAIN_B = 2 };
typedef struct tagIpColorParameters {
    USHORT usGain[3];     // R, G, B; 128 = 1.0, below 512
    USHORT usHue;         // degrees
    USHORT usSaturation;  // percent
    USHORT usMatrix[9];   // row-major; each word means (word - 2000) / 1000
} IpColorParameters, *PIpColorParameters;
static_assert(sizeof(tagIpColorParameters) == 28);

typedef struct tagIpCurvePoint {
    UCHAR ucX;
    UCHAR ucY;
} IpCurvePoint;
static_assert(sizeof(tagIpCurvePoint) == 2);

// Tone: gamma, contrast stretch from a black point, brightness offset, tone curve.
typedef struct tagIpGammaParameters {
    USHORT usGamma;           // exponent x 100 (100 = linear)
    USHORT usBlackPoint;      // input level mapped to 0 by the contrast stretch
    USHORT usBrightness;      // output offset + 255 (255 = none; 0..510)
    tagIpCurvePoint asCurve[5];  // tone-curve points, x increasing
} IpGammaParameters, *PIpGammaParameters;
static_assert(sizeof(tagIpGammaParameters) == 16);

#pragma pack(pop)
