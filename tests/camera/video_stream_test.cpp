// The video stream as the driver sees it: frames behind the marker with the
// header fields that close the driver's loops, line kinds chosen by the FIFO
// model, a frame period that follows the timing registers, and bodies that the
// driver's decoder expands back into the sensor's picture.
#include "camera_harness.h"

#include "camera/sensor/sensor.h"
#include "decoded_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace korval::camera::testing {
namespace {

using Decoded = DecodedFrame;
Decoded decode(const CapturedFrame& captured) { return decodeBody(captured.body); }

TEST(VideoStream, HeaderEchoesGainsIndicesAndFrameRate)
{
    CameraHarness harness;
    harness.setTiming(3, 301, 1);
    harness.writeRegister(0x09, 0x21);
    harness.writeRegister(0x0A, 0x43);
    harness.writeRegister(0x0B, 140);
    harness.writeRegister(0x0C, 128);
    harness.writeRegister(0x0D, 111);
    harness.commit();
    harness.startVideo();
    harness.run(200);
    const auto frames = harness.frames();
    ASSERT_GE(frames.size(), 3U);
    const auto& header = frames[1].header;
    EXPECT_EQ(header[0] & 0x80, 0);
    EXPECT_EQ(header[2], 29); // 12 MHz / (3 × 444 × 301)
    EXPECT_EQ(header[5], 140);
    EXPECT_EQ(header[6], 128);
    EXPECT_EQ(header[7], 111);
    EXPECT_EQ(header[8], 0x21);
    EXPECT_EQ(header[9], 0x43);
}

TEST(VideoStream, FramePeriodFollowsTheTimingRegisters)
{
    for (const int divider : {3, 7, 15}) {
        CameraHarness harness;
        harness.startVideoAt(divider, 293);
        const double periodMs = divider * 444.0 * 293.0 / 12000.0;
        harness.run(static_cast<int>(periodMs * 6));
        const auto frames = harness.camera.framesStarted();
        EXPECT_NEAR(static_cast<double>(frames), 6.0, 1.0) << "divider " << divider;
        const auto captured = harness.frames();
        ASSERT_FALSE(captured.empty());
        EXPECT_EQ(captured.front().header[2], static_cast<int>(1000.0 / periodMs));
    }
}

TEST(VideoStream, PacketsNeverExceedTheAlternateSettingsSize)
{
    CameraHarness harness({}, 3);
    harness.startVideoAt(3, 293);
    harness.run(100);
    std::size_t largest = 0;
    for (std::size_t bytes : harness.packetSizes) {
        largest = std::max(largest, bytes);
    }
    EXPECT_EQ(largest, videoPacketSize(3));
    CameraHarness idle({}, 0);
    idle.startVideo();
    idle.run(50);
    EXPECT_TRUE(idle.stream.empty());
}

TEST(VideoStream, FifoModelPicksFinerLinesForSlowerTimings)
{
    auto statsFor = [](int divider) {
        CameraHarness harness({}, 4);
        harness.startVideoAt(divider, 293);
        harness.run(static_cast<int>(divider * 444.0 * 293.0 / 12000.0 * 3) + 5);
        return harness.camera.lastFrame().value();
    };
    const FrameStats fast = statsFor(3);
    const FrameStats slow = statsFor(20);
    auto fine = [](const FrameStats& s) {
        return s.linesOfKind[static_cast<int>(LineKind::Raw)] + s.linesOfKind[static_cast<int>(LineKind::Step5)];
    };
    auto coarse = [](const FrameStats& s) {
        return s.linesOfKind[static_cast<int>(LineKind::Step17)] + s.linesOfKind[static_cast<int>(LineKind::Dropped)];
    };
    EXPECT_GT(fine(slow), fine(fast));
    EXPECT_GT(coarse(fast), coarse(slow));
    EXPECT_EQ(slow.linesOfKind[static_cast<int>(LineKind::Raw)], 288U); // 512 bytes per line budget
    EXPECT_GT(fast.linesOfKind[static_cast<int>(LineKind::Dropped)] +
                  fast.linesOfKind[static_cast<int>(LineKind::Step17)] +
                  fast.linesOfKind[static_cast<int>(LineKind::Step9)],
              0U);
}

TEST(VideoStream, DecodedFramesMatchTheSensorWithinEachLinesStep)
{
    CameraHarness harness({}, 8);
    harness.startVideoAt(5, 301);
    harness.run(300);
    const auto frames = harness.frames();
    ASSERT_GE(frames.size(), 3U);

    Sensor reference;
    reference.setScene(makeColourChart());
    std::vector<std::uint8_t> expected;
    reference.render(harness.camera.activeSettings(), 0.0, expected);

    const Decoded decoded = decode(frames[1]);
    ASSERT_TRUE(decoded.accepted);
    EXPECT_EQ(decoded.records.ulRawLines + decoded.records.ulStep5Lines + decoded.records.ulStep9Lines +
                  decoded.records.ulStep17Lines + decoded.records.ulDroppedLines,
              static_cast<ULONG>(kSensorHeight));
    EXPECT_GT(decoded.records.ulRawLines, 0U);
    for (int y = 0; y < kSensorHeight; ++y) {
        const std::uint8_t kind = decoded.lines[static_cast<std::size_t>(y)].ucKind;
        if (kind == 0xB4) {
            continue;
        }
        const int step = lineTolerance(kind);
        for (int x = 0; x < kSensorWidth; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * kSensorWidth + x;
            ASSERT_LE(std::abs(decoded.bayer[at] - expected[at]), step) << "line " << y << " x " << x;
        }
    }
}

TEST(VideoStream, TimingChangeSpoilsTheNextFrameAndFaultsCanBeInjected)
{
    CameraHarness harness;
    harness.startVideoAt(3, 293);
    harness.run(100);
    harness.setTiming(4, 293, 1);
    harness.commit();
    harness.run(120);
    auto frames = harness.frames();
    int spoiled = 0;
    for (const auto& frame : frames) {
        spoiled += (frame.header[0] & 0x80) != 0;
    }
    EXPECT_EQ(spoiled, 1);

    harness.camera.spoilNextFrame();
    harness.run(120);
    frames = harness.frames();
    spoiled = 0;
    for (const auto& frame : frames) {
        spoiled += (frame.header[0] & 0x80) != 0;
    }
    EXPECT_EQ(spoiled, 2);

    const std::size_t before = harness.frames().size();
    harness.camera.corruptNextMarker();
    harness.run(200);
    const std::uint64_t started = harness.camera.framesStarted();
    const std::size_t found = harness.frames().size();
    EXPECT_GT(found, before);
    EXPECT_LT(found + 1, static_cast<std::size_t>(started)); // one marker went missing
}

// A scene whose line 10 holds the marker bytes in its pixels.
class MarkerScene final : public Scene {
public:
    void render(double, LinearImage& out) const override
    {
        std::fill(out.rgb.begin(), out.rgb.end(), 40.0F);
        const float marker[6] = {255, 255, 0, 255, 150, 100};
        for (int i = 0; i < 6; ++i) {
            float* p = out.pixel(100 + i, 10);
            p[0] = p[1] = p[2] = marker[i];
        }
    }
};

TEST(VideoStream, ALineThatWouldShowTheMarkerIsDropped)
{
    CameraHarness harness({}, 8);
    harness.setTiming(20, 293, 1);
    harness.writeRegister(0x0E, 0);
    harness.commit();
    SensorOptions unity;
    unity.sensitivity = 1.0 / SensorTiming::exposureSeconds(harness.camera.activeSettings());
    harness.camera.setSensorOptions(unity);
    harness.camera.setScene(std::make_unique<MarkerScene>());
    harness.startVideo();
    harness.run(900);
    const auto frames = harness.frames();
    ASSERT_GE(frames.size(), 2U);
    EXPECT_EQ(frames.size() + 1, static_cast<std::size_t>(harness.camera.framesStarted()));
    const Decoded decoded = decode(frames[0]);
    ASSERT_TRUE(decoded.accepted);
    EXPECT_EQ(decoded.lines[10].ucKind, 0xB4);
    EXPECT_EQ(decoded.lines[11].ucKind, 0xF0);
    EXPECT_EQ(decoded.bayer[11 * kSensorWidth + 100], 40);
}

} // namespace
} // namespace korval::camera::testing
