// The camera side of the compressed line format: turns one sensor line into the
// bytes the driver's frame decoder expands (marker, two raw pixels, bit stream,
// pad to an even length), and sizes coded lines without producing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korval::camera {

enum class LineKind : std::uint8_t { Raw, Step5, Step9, Step17, Dropped };

// The 2-byte marker that opens a line of this kind (sent high byte first).
std::uint16_t lineMarker(LineKind kind);

// Appends the coded line to output and returns the bytes appended. Coded kinds
// give each pixel the code whose decoded value is nearest the sensor value,
// predicting from the decoded pixel two to the left as the decoder does; when
// reconstructed is given, it receives the width pixels the decoder will produce
// (for a dropped line it is left alone).
std::size_t encodeLine(const std::uint8_t* line, std::size_t width, LineKind kind,
                       std::vector<std::uint8_t>& output, std::uint8_t* reconstructed = nullptr);

// The bytes encodeLine would append, without producing them.
std::size_t codedLineSize(const std::uint8_t* line, std::size_t width, LineKind kind);

} // namespace korval::camera
