// The picture processing parameters the driver uses where no setting is
// stored: every stage on, the picture flipped, a 75 % metering window, an
// identity colour matrix and a gamma curve through (32, 32) and (192, 192).
#pragma once

#include "imageprocess/CImageProcess.h"

namespace korval::testing {

inline tagIpParameters defaultIpParameters()
{
    tagIpParameters p{};
    p.bEnable = 1;
    p.bDefect = 1;
    p.bAwb = 1;
    p.bColorProcess = 1;
    p.bSharpness = 1;
    p.bGamma = 1;
    p.bMirror = 0;
    p.bFlip = 1;
    p.ucMeterWidth = 75;
    p.ucMeterHeight = 75;
    p.sDefect = {20, 20};
    p.sAwb = {20, 235, 90, 35, 35, 20, 256, 128};
    p.sColor.usGain[0] = p.sColor.usGain[1] = p.sColor.usGain[2] = 100;
    p.sColor.usHue = 0;
    p.sColor.usSaturation = 160;
    const USHORT identity[9] = {3000, 2000, 2000, 2000, 3000, 2000, 2000, 2000, 3000};
    for (int i = 0; i < 9; ++i) {
        p.sColor.usMatrix[i] = identity[i];
    }
    p.usSharpness = 6 << 8 | 20;
    p.sGamma.usGamma = 70;
    p.sGamma.usBlackPoint = 5;
    p.sGamma.usBrightness = 255;
    const UCHAR curve[5][2] = {{0, 0}, {0, 0}, {0, 0}, {32, 32}, {192, 192}};
    for (int i = 0; i < 5; ++i) {
        p.sGamma.asCurve[i] = {curve[i][0], curve[i][1]};
    }
    return p;
}

} // namespace korval::testing
