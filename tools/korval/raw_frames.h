// Raw camera frames kept as received: the 10-byte header, the compressed
// body and the 10-byte trailer (the next frame's header), exactly as the
// driver's USB transport hands them to its pipeline, each with its
// presentation time. File layout: the line "KORVAL RAW FRAMES 1\n", then per
// frame a little-endian 32-bit length, a 64-bit time in 100 ns units and the
// frame's bytes.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

struct DeviceContext;

namespace korval::tools {

inline constexpr char kRawFramesMagic[] = "KORVAL RAW FRAMES 1\n";

struct RawFrame {
    std::int64_t time = 0;
    std::vector<std::uint8_t> bytes;
};

// Writes raw frames to a temporary file beside the target, renamed on finish.
class RawFrameWriter {
public:
    // False with `error` naming the file when it cannot be created.
    bool open(const std::string& path, std::string& error);
    ~RawFrameWriter();

    // Keeps the raw frame the driver's pipeline last processed: the frame of
    // the transport's buffers that its pipeline copied. Call it only while no
    // read request is being filled. False with `error` when the file fails.
    bool keepProcessed(DeviceContext& device, std::int64_t time, std::string& error);
    bool finish(std::string& error);
    int framesKept() const { return kept_; }

private:
    bool write(const RawFrame& frame, std::string& error);

    std::string path_;
    std::string temporary_;
    std::ofstream file_;
    int kept_ = 0;
    bool finished_ = false;
};

// Reads a raw frame file; nothing with `error` naming the file and the frame at fault.
std::optional<std::vector<RawFrame>> readRawFrames(const std::string& path, std::string& error);

} // namespace korval::tools
