// Drives the virtual camera directly as the bus would (no driver, no IRPs):
// configures it, writes registers through its vendor requests, runs 1 ms
// frames and collects the isochronous bytes, and cuts them into frames.
#pragma once

#include "camera/device/video_stream.h"
#include "camera/virtual_camera.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace korval::camera::testing {

struct CapturedFrame {
    std::vector<std::uint8_t> header; // 10 bytes
    std::vector<std::uint8_t> body;   // up to the next marker
};

class CameraHarness {
public:
    explicit CameraHarness(CameraOptions options = {}, int alternate = 8) : camera(options)
    {
        camera.configured(true);
        camera.alternateSelected(0, static_cast<std::uint8_t>(alternate));
    }

    bool writeRegister(std::uint8_t address, std::uint8_t value)
    {
        host::SetupPacket setup{0x41, kRequestWriteRegister, value, address, 0};
        return camera.control(setup, nullptr).outcome == host::ControlOutcome::Ack;
    }

    bool readRegister(std::uint8_t address, std::vector<std::uint8_t>& answer, std::uint16_t length = 2)
    {
        answer.assign(length, 0xCC);
        host::SetupPacket setup{0xC1, kRequestReadRegister, 0, address, length};
        const host::ControlResult result = camera.control(setup, answer.data());
        answer.resize(result.bytes);
        return result.outcome == host::ControlOutcome::Ack;
    }

    void commit()
    {
        writeRegister(0x13, 1);
        writeRegister(0x1C, 1);
    }

    // Clock divider, frame lines, exposure start line, fine delay, line clock code.
    void setTiming(int divider, int frameLines, int startLine, int fineDelay = 1, int clockCode = 0)
    {
        writeRegister(0x02, static_cast<std::uint8_t>(divider));
        writeRegister(0x03, static_cast<std::uint8_t>(frameLines >> 4));
        writeRegister(0x04, static_cast<std::uint8_t>(frameLines & 0x0F));
        writeRegister(0x05, static_cast<std::uint8_t>(startLine >> 1));
        writeRegister(0x06, static_cast<std::uint8_t>(fineDelay >> 1));
        writeRegister(0x07, static_cast<std::uint8_t>(((startLine & 1) << 1) | (fineDelay & 1)));
        writeRegister(0x18, static_cast<std::uint8_t>(clockCode));
    }

    void startVideo() { writeRegister(0x40, 1); }

    // That divider and frame length with the exposure from line 1, committed, and the video on.
    void startVideoAt(int divider, int frameLines)
    {
        setTiming(divider, frameLines, 1);
        commit();
        startVideo();
    }

    // Runs `frames` bus frames, keeping every byte of the stream.
    void run(int frames)
    {
        std::vector<std::uint8_t> packet(1023);
        for (int i = 0; i < frames; ++i) {
            camera.startOfFrame(++frame_);
            const std::size_t bytes = camera.isochronousIn(kVideoEndpointAddress, packet.data(), packet.size());
            stream.insert(stream.end(), packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(bytes));
            packetSizes.push_back(bytes);
        }
    }

    // Whole frames of the stream: those followed by another marker.
    std::vector<CapturedFrame> frames() const
    {
        std::vector<std::size_t> starts;
        auto it = stream.begin();
        while ((it = std::search(it, stream.end(), kFrameMarker.begin(), kFrameMarker.end())) != stream.end()) {
            starts.push_back(static_cast<std::size_t>(it - stream.begin()));
            it += kFrameMarker.size();
        }
        std::vector<CapturedFrame> result;
        for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
            const std::size_t headerAt = starts[i] + kFrameMarker.size();
            CapturedFrame frame;
            frame.header.assign(stream.begin() + static_cast<std::ptrdiff_t>(headerAt),
                                stream.begin() + static_cast<std::ptrdiff_t>(headerAt + kFrameHeaderBytes));
            frame.body.assign(stream.begin() + static_cast<std::ptrdiff_t>(headerAt + kFrameHeaderBytes),
                              stream.begin() + static_cast<std::ptrdiff_t>(starts[i + 1]));
            result.push_back(std::move(frame));
        }
        return result;
    }

    VirtualCamera camera;
    std::vector<std::uint8_t> stream;
    std::vector<std::size_t> packetSizes;

private:
    std::uint64_t frame_ = 0;
};

} // namespace korval::camera::testing
