// The whole path below the driver: a test driver configures the virtual camera
// through the bus, programs its registers, keeps the status and video pipes
// running, cuts the isochronous bytes into frames by the marker, decodes them
// with the driver's FrameDecoder and gets the sensor's Bayer picture back.
#include "camera/sensor/sensor.h"
#include "../../camera/decoded_frame.h"
#include "camera_bus_fixture.h"
#include "support/png_file.h"
#include "transfer_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace korval::host::testing {
namespace {

constexpr int kWidth = camera::kSensorWidth;
constexpr int kHeight = camera::kSensorHeight;

struct RawFrame {
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> body;
};

std::vector<RawFrame> cutFrames(const std::vector<std::uint8_t>& stream)
{
    const auto& marker = camera::kFrameMarker;
    std::vector<std::size_t> starts;
    for (auto it = stream.begin();
         (it = std::search(it, stream.end(), marker.begin(), marker.end())) != stream.end(); it += marker.size()) {
        starts.push_back(static_cast<std::size_t>(it - stream.begin()));
    }
    std::vector<RawFrame> frames;
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        const auto header = stream.begin() + static_cast<std::ptrdiff_t>(starts[i] + marker.size());
        frames.push_back({{header, header + 10},
                          {header + 10, stream.begin() + static_cast<std::ptrdiff_t>(starts[i + 1])}});
    }
    return frames;
}

// A plain demosaic for looking at: each 2 × 2 cell (B G / G R) gives the
// colour of its four pixels, with a display gamma.
std::vector<std::uint8_t> simpleDemosaic(const std::uint8_t* bayer)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    auto display = [](double linear) {
        return static_cast<std::uint8_t>(std::lround(255.0 * std::pow(std::clamp(linear / 255.0, 0.0, 1.0), 1 / 2.2)));
    };
    for (int y = 0; y < kHeight; y += 2) {
        for (int x = 0; x < kWidth; x += 2) {
            const std::uint8_t* top = bayer + static_cast<std::size_t>(y) * kWidth + x;
            const std::uint8_t* bottom = top + kWidth;
            const std::uint8_t cell[3] = {display(bottom[1]), display((top[1] + bottom[0]) / 2.0), display(top[0])};
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    std::uint8_t* out = &rgb[(static_cast<std::size_t>(y + dy) * kWidth + x + dx) * 3];
                    std::copy(cell, cell + 3, out);
                }
            }
        }
    }
    return rgb;
}

class CameraCaptureTest : public CameraBusFixture {
protected:
    // Programs a timing the way the driver does: blocks, then the batch commit.
    void program(int divider, int gain)
    {
        ASSERT_TRUE(driver_->configure());
        ASSERT_EQ(driver_->selectAlternate(8), USBD_STATUS_SUCCESS);
        // 0x02..0x08: divider, frame lines 301, start line 1, fine delay 1, short exposure.
        ASSERT_TRUE(driver_->writeBlock(0x02, {static_cast<std::uint8_t>(divider), 0x12, 0x0D, 0x00, 0x00, 0x03, 46}));
        ASSERT_TRUE(driver_->writeRegister(0x0E, static_cast<std::uint8_t>(gain)));
        ASSERT_TRUE(driver_->writeBlock(0x09, {0x00, 0x00, 128, 128, 128}));
        ASSERT_TRUE(driver_->writeRegister(0x13, 1));
        ASSERT_TRUE(driver_->writeRegister(0x1C, 1));
        ASSERT_TRUE(driver_->writeRegister(0x40, 1));
    }

    void runKeepingUp(TransferLoop& loop, int frames)
    {
        for (int i = 0; i < frames; ++i) {
            ASSERT_TRUE(loop.settle());
            bus_->runFrames(1);
        }
    }
};

TEST_F(CameraCaptureTest, DecodedFramesGiveBackTheSensorPicture)
{
    program(5, 10);
    TransferLoop video(*driver_, 4, 3, true);
    video.start();
    runKeepingUp(video, 260);
    ASSERT_TRUE(video.stop());
    EXPECT_EQ(video.packetErrors(), 0);

    const auto frames = cutFrames(video.bytes());
    ASSERT_GE(frames.size(), 3U);
    camera::Sensor reference;
    reference.setScene(camera::makeColourChart());
    std::vector<std::uint8_t> expected;
    reference.render(camera_.activeSettings(), 0.0, expected);

    std::vector<std::uint8_t> bayer;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const RawFrame& frame = frames[f];
        EXPECT_EQ(frame.header[2], 17) << "12 MHz / (5 × 444 × 301) = 17.96";
        EXPECT_EQ(frame.header[6], 128);
        const camera::testing::DecodedFrame decoded = camera::testing::decodeBody(frame.body);
        ASSERT_TRUE(decoded.accepted) << "frame " << f;
        bayer = decoded.bayer;
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t kind = decoded.lines[static_cast<std::size_t>(y)].ucKind;
            if (kind == 0xB4) {
                continue;
            }
            const int step = camera::testing::lineTolerance(kind);
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t at = static_cast<std::size_t>(y) * kWidth + x;
                ASSERT_LE(std::abs(bayer[at] - expected[at]), step) << "frame " << f << " line " << y;
            }
        }
    }
    const std::string path = korval::testing::writeRgbPng("camera_capture_colour_chart", kWidth, kHeight,
                                                          simpleDemosaic(bayer.data()));
    EXPECT_FALSE(path.empty());
}

TEST_F(CameraCaptureTest, SnapshotButtonArrivesOnTheStatusPipeWhileVideoRuns)
{
    program(3, 10);
    TransferLoop video(*driver_, 4, 3, true);
    TransferLoop status(*driver_, 2, 1, false);
    video.start();
    status.start();
    runKeepingUp(video, 50);
    EXPECT_EQ(status.completions(), 0);
    camera_.pressSnapshotButton();
    runKeepingUp(video, 20);
    ASSERT_TRUE(status.settle());
    EXPECT_EQ(status.completions(), 1);
    EXPECT_TRUE(video.stop());
    EXPECT_TRUE(status.stop());
}

TEST_F(CameraCaptureTest, UnplugWhileStreamingCompletesEveryTransferAndLeaksNothing)
{
    program(3, 10);
    {
        TransferLoop video(*driver_, 4, 3, true);
        TransferLoop status(*driver_, 2, 1, false);
        video.start();
        status.start();
        runKeepingUp(video, 30);
        ASSERT_TRUE(video.settle());
        bus_->unplug();
        ASSERT_TRUE(video.waitIdle(std::chrono::milliseconds(2000)));
        ASSERT_TRUE(status.waitIdle(std::chrono::milliseconds(2000)));
        EXPECT_EQ(video.statuses().back(), STATUS_DEVICE_NOT_CONNECTED);
        EXPECT_EQ(status.statuses().back(), STATUS_DEVICE_NOT_CONNECTED);
        bus_->runFrames(5); // frames after the unplug complete nothing and touch nothing
    }
    EXPECT_EQ(bus_->pendingRequests(), 0U);
}

} // namespace
} // namespace korval::host::testing
