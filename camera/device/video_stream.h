// The camera's video output: frames of the sensor, each sent as the marker
// FF FF 00 FF 96 64, a 10-byte header and 288 coded lines, produced line by
// line as the sensor reads them out and handed to the isochronous endpoint one
// packet per 1 ms bus frame.
//
// Header: byte 0 bit 7 marks a spoiled frame (the first after a timing change,
// or injected), byte 1 the frame sequence, byte 2 the frame rate of the timing,
// byte 3 the sensor gain, byte 4 the rate value, bytes 5-7 the digital gains of
// registers 0x0B-0x0D, bytes 8-9 the gain indices of registers 0x09 and 0x0A.
#pragma once

#include "camera/codec/line_compressor.h"
#include "camera/device/line_planner.h"
#include "camera/device/register_file.h"
#include "camera/sensor/sensor.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace korval::camera {

constexpr std::array<std::uint8_t, 6> kFrameMarker = {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x64};
constexpr std::size_t kFrameHeaderBytes = 10;
constexpr std::size_t kDefaultFifoBytes = 1024;

struct FrameStats {
    std::uint64_t sequence = 0;
    int framesPerSecond = 0;
    bool spoiled = false;
    std::array<std::size_t, 5> linesOfKind{}; // indexed by LineKind
    std::size_t bytes = 0;                   // marker, header and body
};

class VideoStream {
public:
    VideoStream(Sensor& sensor, const RegisterFile& registers);

    void setPacketSize(std::size_t bytes) { packetSize_ = bytes; }
    void setFifoBytes(std::size_t bytes) { fifoBytes_ = bytes; }

    // Produces everything the sensor reads out up to `nowSeconds`.
    void advance(double nowSeconds);
    // The next packet of the stream (null out: the bytes are lost on the wire).
    std::size_t takePacket(std::uint8_t* out, std::size_t capacity);
    // Video off: the frame in progress and the queued bytes are discarded.
    void stop();
    bool running() const { return running_; }

    void spoilNextFrame() { spoilNext_ = true; }
    void corruptNextMarker() { corruptNext_ = true; }

    // The last frame whose lines were all produced.
    std::optional<FrameStats> lastFrame() const { return lastFrame_; }
    // The Bayer picture of the frame in progress (or the last one).
    const std::vector<std::uint8_t>& bayer() const { return bayer_; }
    std::uint64_t framesStarted() const { return sequence_; }

private:
    struct Timing {
        int clockDivider = 0;
        int lineClocks = 0;
        int frameLines = 0;
        bool operator==(const Timing&) const = default;
    };

    void startFrame(double startSeconds);
    void produceLine(int y);
    void finishFrame();
    void queueBytes(const std::uint8_t* bytes, std::size_t count);
    bool wouldFormMarker(const std::vector<std::uint8_t>& line) const;

    Sensor& sensor_;
    const RegisterFile& registers_;
    std::size_t packetSize_ = 0;
    std::size_t fifoBytes_ = kDefaultFifoBytes;

    bool running_ = false;
    double frameStart_ = 0.0;
    // The scene's clock starts with the camera's first frame, not at plug-in:
    // what a moving scene shows then depends on how long the camera has
    // streamed, not on how long the host took to start it. It runs on across
    // stops.
    std::optional<double> sceneOrigin_;
    double lineTime_ = 0.0;
    int frameLines_ = 0;
    int nextLine_ = 0;
    std::optional<Timing> lastTiming_;
    LinePlanner planner_{0.0, 0.0};
    SensorSettings settings_;
    FrameStats current_;
    std::optional<FrameStats> lastFrame_;
    std::uint64_t sequence_ = 0;
    bool spoilNext_ = false;
    bool corruptNext_ = false;

    std::vector<std::uint8_t> bayer_;
    std::vector<std::uint8_t> lineBytes_;
    std::vector<std::uint8_t> queue_;
    std::size_t queueHead_ = 0;
};

} // namespace korval::camera
