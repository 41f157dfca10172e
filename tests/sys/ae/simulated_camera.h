// A small camera model for closed-loop tests of auto exposure: brightness
// proportional to exposure time × analogue gain, and a line compressor that
// codes lines more coarsely when the timing leaves fewer bytes per line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/AeRecords.h"

namespace korval::testing {

struct SimulatedFrame {
    UCHAR luma = 0;
    ULONG raw = 0;
    ULONG step5 = 0;
    ULONG step9 = 0;
    ULONG step17 = 0;
    ULONG dropped = 0;
    ULONG ratio = 0;
};

class SimulatedCamera {
public:
    // radiance: luma per flicker period of exposure at analogue gain 1.
    // detail: added to every step-5 line length (busier scenes code longer).
    // rawFirst: send lines raw whenever they fit; otherwise start at step 5.
    SimulatedCamera(double radiance, USHORT packetSize, ULONG width, ULONG height, int detail = 0,
                    bool rawFirst = true)
        : radiance_(radiance), packetSize_(packetSize), width_(width), height_(height), detail_(detail),
          rawFirst_(rawFirst), lines_(height)
    {
    }

    void setRadiance(double radiance) { radiance_ = radiance; }

    SimulatedFrame capture(const tagAeOutput& camera)
    {
        SimulatedFrame frame = codeLines(camera);
        frame.luma = brightness(camera);
        return frame;
    }

    std::vector<tagSDecompressionInformation>& lines() { return lines_; }

private:
    static constexpr double kMasterClock = 12000000.0;
    static constexpr int kMains = 60;
    static constexpr long kFifoCapacity = 2048;

    UCHAR brightness(const tagAeOutput& camera) const
    {
        const int exposureLines = camera.usFrameLines - camera.usExposureStartLine + 1;
        const double seconds = exposureLines * double(camera.usLineClocks) * camera.usClockDivider / kMasterClock;
        const double periods = seconds * 2 * kMains;
        const double luma = radiance_ * periods * (1 + camera.usGain / 10.0);
        return static_cast<UCHAR>(std::clamp(luma, 0.0, 255.0));
    }

    // Raw if it fits the FIFO (when raw comes first), else step 5, 9, 17, else
    // the line is dropped; the FIFO drains one packet per millisecond.
    SimulatedFrame codeLines(const tagAeOutput& camera)
    {
        const double lineMilliseconds = double(camera.usLineClocks) * camera.usClockDivider / 12000.0;
        const long drain = static_cast<long>(packetSize_ * lineMilliseconds);
        SimulatedFrame frame;
        long level = 0;
        ULONG total = 20;
        for (ULONG y = 0; y < height_; ++y) {
            const long step5 = 96 + detail_ + long((y * 37) % 64);
            const long lengths[4] = {long(width_) + 2, step5, step5 * 3 / 4, step5 * 5 / 8};
            const UCHAR kinds[4] = {DECOMPRESSION_KIND_RAW, DECOMPRESSION_KIND_STEP5, DECOMPRESSION_KIND_STEP9,
                                    DECOMPRESSION_KIND_STEP17};
            ULONG* counters[4] = {&frame.raw, &frame.step5, &frame.step9, &frame.step17};
            int chosen = rawFirst_ ? 0 : 1;
            while (chosen < 4 && level + (lengths[chosen] & ~1L) > kFifoCapacity) {
                ++chosen;
            }
            long length = 2;
            if (chosen < 4) {
                length = lengths[chosen] & ~1L;
                ++*counters[chosen];
                lines_[y] = {kinds[chosen], static_cast<USHORT>(length)};
            } else {
                ++frame.dropped;
                lines_[y] = {DECOMPRESSION_KIND_DROPPED, static_cast<USHORT>(width_)};
            }
            level = std::max(0L, level + length - drain);
            total += static_cast<ULONG>(length);
        }
        frame.ratio = width_ * height_ * 128 / total;
        return frame;
    }

    double radiance_;
    USHORT packetSize_;
    ULONG width_;
    ULONG height_;
    int detail_;
    bool rawFirst_;
    std::vector<tagSDecompressionInformation> lines_;
};

} // namespace korval::testing
