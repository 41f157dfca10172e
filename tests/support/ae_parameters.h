// The auto-exposure parameters the driver uses where no setting is stored,
// for a video packet size and a first timing row of the caller's choice.
#pragma once

#include "base/AeRecords.h"

namespace korval::testing {

inline tagAeParameters defaultParameters(USHORT packetSize = 1023, USHORT minRow = 0)
{
    tagAeParameters p{};
    p.ucEnable = 1;
    p.ucLongExposure = 1;
    p.ucTargetLuma = 100;
    p.ucTolerance = 10;
    p.ucUnused = 60;
    p.ucMainsFrequency = 60;
    p.usFifoBytes = 1024;
    p.usPacketSize = packetSize;
    p.usMaxExposure = 13;
    p.usMaxExposureLong = 39;
    p.usMinExposureDivisor = 32;
    p.usKneeExposure = 12;
    p.usKneeExposureLong = 12;
    p.usMaxGain = 18;
    p.usMaxGainLong = 4;
    p.usMidGain = 18;
    p.usBaseGain = 4;
    p.usMinRow = minRow;
    p.usUpMaxDropped = 0;
    p.usUpMaxStep17 = 0;
    p.usUpMaxStep9 = 30;
    p.usUpMinStep5 = 250;
    p.ucUpFrames = 2;
    p.usDownMaxDropped = 0;
    p.usDownMaxStep17 = 2;
    p.usDownMaxStep9 = 288;
    p.usDownMinStep5 = 0;
    p.ucDownFrames = 1;
    p.ucRatioMargin = 0;
    return p;
}

} // namespace korval::testing
