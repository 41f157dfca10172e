// A started camera device on the emulated stream class, with the virtual
// camera on a bus of its own thread, for the capture stream's requests as a
// capture application sends them. The platform clock runs in real time, so a
// read waits for real camera frames (or the half-second frame time-out).
#pragma once

#include "base/DeviceContext.h"
#include "driver/Driver.h"
#include "base/PoolAllocator.h"
#include "stream/StreamFormats.h"
#include "stream/CaptureStream.h"
#include "stream/StreamContext.h"
#include "usb/CUsbCamera.h"

#include "camera/camera_on_bus.h"
#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "host/streamclass/stream_class.h"
#include "support/test_directory.h"
#include "support/frame_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace korval::stream_test {

using namespace korval::host;
using namespace std::chrono_literals;

inline const char* const kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
inline const char* const kStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";

// All five frame sizes: 352x288, 320x240, 176x144, 160x120, 640x480.
constexpr std::uint32_t kAllSizes = 0x00432105;

class CaptureStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine_ = korval::testing::freshTestDirectory("korval-capture");
        std::filesystem::create_directories(machine_ / "C");
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_});
        platform_->registry().createKey(kParameters);
        platform_->registry().createKey(kStatusKey);
        preset(64, kAllSizes);
        preset(111, 1); // full bandwidth: start at alternate setting 8
        savedWdmLevel_ = WdmLevel;
        ASSERT_EQ(DriverEntry(&driverObject_, &registryPath_), STATUS_SUCCESS);
        WdmLevel = 4;
    }

    void TearDown() override
    {
        stream_.reset();
        if (device_) {
            device_->remove();
        }
        device_.reset();
        unloadDriver(&driverObject_);
        camera_.reset();
        WdmLevel = savedWdmLevel_;
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    // Plugs the camera in and starts the device (call after presetting the registry).
    void start(DeviceOptions options = {})
    {
        camera_ = std::make_unique<camera::CameraOnBus>();
        device_ = StreamClassDevice::add(&driverObject_, camera_->deviceObject(), nullptr, options);
        ASSERT_EQ(device_->start(), STATUS_SUCCESS);
        context_ = static_cast<DeviceContext*>(device_->deviceExtension());
        formats_ = device_->streamFormats(0);
    }

    void preset(int index, std::uint32_t value)
    {
        platform_->registry().setValue(kParameters, "A_" + std::to_string(index), RegistryValue::dword(value));
    }

    // The concrete format the class would open with for an offered range.
    FormatBytes formatOf(const FormatBytes& range)
    {
        IntersectionResult answer = device_->dataIntersection(0, range);
        EXPECT_EQ(answer.status, STATUS_SUCCESS);
        return answer.format;
    }

    // The offered format of this size and kind.
    FormatBytes format(LONG width, bool i420)
    {
        for (const auto& range : formats_) {
            const auto video = range.as<KS_DATARANGE_VIDEO>();
            if (video.VideoInfoHeader.bmiHeader.biWidth == width &&
                (video.VideoInfoHeader.bmiHeader.biCompression == CAPTURE_COMPRESSION_I420) == i420) {
                return formatOf(range);
            }
        }
        ADD_FAILURE() << "format not offered: " << width << (i420 ? " I420" : " RGB24");
        return {};
    }

    void open(LONG width = 352, bool i420 = false)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        stream_ = device_->openStream(0, format(width, i420), &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_NE(stream_, nullptr);
    }

    StreamContext& stream() { return *context_->Stream; }
    CUsbCamera& usb() { return *context_->Usb; }
    camera::VirtualCamera& camera() { return camera_->camera(); }
    bool videoStarted() { return ReadLockedFlag(&usb().VideoStarted); }
    ULONG frameSize() { return stream().FrameSize; }

    // The first read that carries a frame. A read without one is the
    // driver's answer to a half second without a camera frame, which a busy
    // machine gives at any time (under an emulator beside other work, for
    // tens of seconds on end); only a stream that never delivers runs out of
    // the wait limit.
    std::shared_ptr<StreamRead> readDelivered()
    {
        const auto giveUp = std::chrono::steady_clock::now() + korval::testing::kFrameWaitLimit;
        std::shared_ptr<StreamRead> read;
        do {
            read = stream_->submitRead(frameSize());
        } while (read->status() == STATUS_SUCCESS && read->header().DataUsed == 0 &&
                 std::chrono::steady_clock::now() < giveUp);
        return read;
    }

    // Reads waiting in the driver's data queue behind a running drain.
    std::size_t queuedReads()
    {
        tagSrbQueueFields& queue = context_->DataQueue;
        const KIRQL oldIrql = KfAcquireSpinLock(&queue.Lock);
        std::size_t count = 0;
        for (PLIST_ENTRY entry = queue.List.Flink; entry != &queue.List; entry = entry->Flink) {
            ++count;
        }
        KfReleaseSpinLock(&queue.Lock, oldIrql);
        return count;
    }

    bool waitForQueuedReads(std::size_t count)
    {
        for (int i = 0; i < 2000 && queuedReads() < count; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        return queuedReads() == count;
    }

    std::optional<std::vector<std::uint8_t>> snapshotStatus() const
    {
        auto value = platform_->registry().value(kStatusKey, "usb_snapshot_status");
        if (!value) {
            return std::nullopt;
        }
        return value->data;
    }

    std::filesystem::path machine_;
    std::unique_ptr<Platform> platform_;
    ULONG savedWdmLevel_ = 0;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    std::unique_ptr<camera::CameraOnBus> camera_;
    std::unique_ptr<StreamClassDevice> device_;
    DeviceContext* context_ = nullptr;
    std::vector<FormatBytes> formats_;
    std::unique_ptr<StreamClassStream> stream_;
};

} // namespace korval::stream_test
