// Raw camera frames as they came over the bus: the 10-byte header, the
// compressed body and the 10-byte trailer (the next frame's header), each with
// the presentation time the driver gave the frame. File layout: the line
// "KORVAL RAW FRAMES 1\n", then per frame a little-endian 32-bit length, a
// 64-bit time in 100 ns units and the frame's bytes.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace korval::tools {

inline constexpr char kRawFramesMagic[] = "KORVAL RAW FRAMES 1\n";
// Set in a frame's first header byte by the camera: the frame is not to be developed.
inline constexpr std::uint8_t kUnusableFrame = 0x80;

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

    // False with `error` when the file fails.
    bool write(const RawFrame& frame, std::string& error);
    bool finish(std::string& error);
    int framesKept() const { return kept_; }

private:
    std::string path_;
    std::string temporary_;
    std::ofstream file_;
    int kept_ = 0;
    bool finished_ = false;
};

// Reads a raw frame file one frame at a time, never more than one frame's
// bytes, each length checked before it is read.
class RawFrameReader {
public:
    // False with `error` when the file cannot be opened or does not start
    // like a raw frame file (only the first bytes are read to tell).
    bool open(const std::string& path, std::string& error);
    // The next frame; nothing at the end of the file or at damage, which
    // problem() then describes.
    std::optional<RawFrame> next();
    const std::string& problem() const { return problem_; }
    int framesRead() const { return read_; }

private:
    std::string path_;
    std::ifstream in_;
    std::string problem_;
    int read_ = 0;
    bool ended_ = false;
};

} // namespace korval::tools
