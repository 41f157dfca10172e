// Where a capture's frames come from: the virtual camera (capture, snapshot)
// or a recording played back in its place on the bus (process, replay). The
// driver and the capture are the same either way.
#pragma once

#include "host/usb/bus_tap.h"
#include "host/usb/usb_device.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/frame_pacer.h"
#include "tools/korval/raw_recorder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace korval::tools {

class FrameSink;

struct CaptureSource {
    std::string command = "capture"; // in messages: "korval capture: ..."
    std::string input;               // a file read in the camera's place (never written)
    // The device in the camera's place; null: the virtual camera.
    std::function<std::unique_ptr<host::UsbDevice>()> device;
    // Listeners on the bus (a trace file).
    std::vector<host::BusTap*> taps;
    // Lockstep: every frame on the bus is developed (set for --raw and for recordings).
    std::unique_ptr<FramePacer> pacer;
    std::unique_ptr<RawRecorder> raw; // made by the capture for --raw
    // The recording has been played out: the capture ends.
    std::function<bool()> ended;
    // In lockstep: the frame numbered `index` on the bus was taken by a read,
    // which delivered a picture or not.
    std::function<void(std::uint64_t index, bool delivered)> frameTaken;
    // Sees every frame written, as the driver delivered it.
    std::function<void(std::span<const std::uint8_t> frame)> frameKept;
    // Replaces the capture's summary: prints and returns the exit code.
    std::function<int(const FrameSink& sink, bool interrupted)> summary;
};

// Captures with `options` from `source`; returns the exit code.
int captureFrom(const CaptureOptions& options, CaptureSource& source, std::ostream& out, std::ostream& err);

} // namespace korval::tools
