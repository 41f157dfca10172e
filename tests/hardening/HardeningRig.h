// The whole stack for the campaigns: the driver loaded once per test on a
// machine of its own, and any number of devices plugged in and removed over
// the test's life, each a virtual camera on its own bus. The platform clock
// runs accelerated, so frame waits and time-outs pass quickly without the
// tests stepping the clock; every removal runs the verifier's pool check.
// With KORVAL_DRIVER_IMAGE=PATH (the 32-bit build) the campaigns run on that
// korval.sys, loaded as Windows loads it, instead of the built-in driver; the
// tests then see the driver only as the stream class and the bus see it.
#pragma once

#include "hardening/Campaign.h"

#include "control/DevicePropertySets.h"
#include "driver/Driver.h"
#include "base/PoolAllocator.h"
#include "stream/StreamFormats.h"

#include "camera/camera_on_bus.h"
#include "host/loader/driver_image.h"
#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace korval::hardening {

using namespace korval::host;
using namespace std::chrono_literals;

// The longest a working stream may go without a frame here. Under
// ThreadSanitizer beside other work a recovery took 29 real seconds; only a
// stream that has stopped for good waits four times as long.
inline constexpr std::chrono::seconds kRecoveryFloor{120};

inline const char* const kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
inline const char* const kStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";

// One plugged-in camera and its device; the stream when open.
// A set request of one of the camera's own properties.
inline PropertyRequest privateSet(ULONG id, ULONG value)
{
    tagKorvalProperty record{};
    record.ulValue = value;
    return PropertyRequest::make(PROPSETID_KORVAL_CAMERA, id, KSPROPERTY_TYPE_SET, record);
}

struct Plugged {
    std::unique_ptr<camera::CameraOnBus> camera;
    std::unique_ptr<StreamClassDevice> device;
    std::unique_ptr<StreamClassStream> stream;
    std::shared_ptr<MasterClock> clock;
    std::vector<std::shared_ptr<StreamRead>> reads;
    ULONG frameBytes = 0; // of the format the stream was opened with

    UsbBus& bus() const { return camera->bus(); }
    ULONG frameSize() const { return frameBytes; }
};

class HardeningTest : public ::testing::Test {
protected:
    // Sanitizer builds run slower: a faster clock would let the driver's
    // frame waits expire before the camera has produced a frame.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
    static constexpr double kClockScale = 2.0;
#else
    static constexpr double kClockScale = 8.0;
#endif
#else
    static constexpr double kClockScale = 8.0;
#endif

    // KORVAL_CLOCK_SCALE overrides the scale: an emulated processor (qemu) has
    // the camera's frames arrive later in real time than the scale allows for.
    static double clockScale()
    {
        const char* scale = std::getenv("KORVAL_CLOCK_SCALE");
        const double value = scale != nullptr ? std::strtod(scale, nullptr) : 0.0;
        return value > 0.0 ? value : kClockScale;
    }

    void SetUp() override
    {
        const char* image = std::getenv("KORVAL_DRIVER_IMAGE");
        if (image != nullptr && *image != '\0') {
            imagePath_ = image;
            if (!std::filesystem::is_regular_file(imagePath_)) {
                std::printf("no korval.sys at %s (scripts/build-win32.sh builds it)\n", image);
                GTEST_SKIP();
            }
        }
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        machine_ = std::filesystem::temp_directory_path() /
                   ("korval-hardening-" + std::to_string(::getpid()) + "-" + test->name());
        std::filesystem::remove_all(machine_);
        std::filesystem::create_directories(machine_ / "C" / "frames");
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_, ClockMode::Scaled, clockScale()});
        platform_->registry().createKey(kParameters);
        platform_->registry().createKey(kStatusKey);
        preset(64, 0x00432105); // all five sizes
        preset(111, 1);         // full bandwidth
        savedWdmLevel_ = WdmLevel;
        ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
        WdmLevel = 4;
    }

    // The driver's entry point: the built-in DriverEntry, or the image mapped
    // afresh (as each load of a driver file is) and its entry point called.
    NTSTATUS loadDriver()
    {
        if (imagePath_.empty()) {
            return DriverEntry(&driverObject_, &registryPath_);
        }
        image_.reset();
        image_ = std::make_unique<DriverImage>(imagePath_, platformImportResolver());
        return image_->callEntry(&driverObject_, &registryPath_);
    }

    void TearDown() override
    {
        if (IsSkipped()) {
            return;
        }
        if (unit_.device) {
            removeDevice(unit_);
        }
        unloadDriver(&driverObject_);
        WdmLevel = savedWdmLevel_;
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    void preset(int index, std::uint32_t value)
    {
        platform_->registry().setValue(kParameters, "A_" + std::to_string(index), RegistryValue::dword(value));
    }

    // Plugs a camera in and adds its device (not started).
    void plugIn(Plugged& unit, camera::CameraOptions options = {})
    {
        unit.camera = std::make_unique<camera::CameraOnBus>(options);
        DeviceOptions deviceOptions;
        deviceOptions.patience = 20s;
        unit.device = StreamClassDevice::add(&driverObject_, unit.camera->deviceObject(), nullptr, deviceOptions);
    }

    // Removal as Plug and Play does it: pending reads must all have been
    // completed by then (the class's verifier names any still pending) and no
    // pool may remain.
    void removeDevice(Plugged& unit)
    {
        unit.device->remove();
        for (const auto& read : unit.reads) {
            EXPECT_TRUE(read->completed());
        }
        unit.reads.clear();
        unit.stream.reset();
        unit.device.reset();
        unit.camera.reset();
        EXPECT_EQ(poolCounters().outstandingBlocks, 0u);
    }

    FormatBytes format(Plugged& unit, LONG width, bool i420)
    {
        for (const auto& range : unit.device->streamFormats(0)) {
            const auto video = range.as<KS_DATARANGE_VIDEO>();
            if (video.VideoInfoHeader.bmiHeader.biWidth == width &&
                (video.VideoInfoHeader.bmiHeader.biCompression == CAPTURE_COMPRESSION_I420) == i420) {
                return unit.device->dataIntersection(0, range).format;
            }
        }
        ADD_FAILURE() << "format not offered: " << width;
        return {};
    }

    NTSTATUS open(Plugged& unit, LONG width = 176, bool i420 = true)
    {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        openFormat(unit, format(unit, width, i420), &status);
        if (unit.stream) {
            unit.clock = MasterClock::create();
            unit.stream->setMasterClock(unit.clock);
        }
        return status;
    }

    // Opens the stream in `chosen`; its frames are as large as the format says.
    static void openFormat(Plugged& unit, const FormatBytes& chosen, NTSTATUS* status)
    {
        unit.stream = unit.device->openStream(0, chosen, status);
        unit.frameBytes = chosen.as<KS_DATAFORMAT_VIDEOINFOHEADER>().VideoInfoHeader.bmiHeader.biSizeImage;
    }

    // Started, opened and running, with `reads` reads in flight.
    void startStreaming(Plugged& unit, int reads, LONG width = 176, bool i420 = true)
    {
        plugIn(unit);
        ASSERT_EQ(unit.device->start(), STATUS_SUCCESS);
        ASSERT_EQ(open(unit, width, i420), STATUS_SUCCESS);
        ASSERT_EQ(unit.stream->setState(KSSTATE_RUN), STATUS_SUCCESS);
        submitReads(unit, reads);
    }

    void submitReads(Plugged& unit, int count)
    {
        for (int i = 0; i < count; ++i) {
            unit.reads.push_back(unit.stream->submitRead(unit.frameSize()));
        }
    }

    // The stream delivers: a frame within ten reads (the camera may still
    // be starting, or a frame may be lost), and by default within at least
    // kRecoveryFloor. On the scaled clock ten reads last well under a real
    // second, and on a loaded machine (or under a sanitizer) the emulated
    // camera and the transfers' resubmission fall so far behind that no whole
    // frame arrives for many seconds. Slow recoveries are printed, for the
    // loaded-machine figures; a miss says what the camera was doing.
    static bool delivers(Plugged& unit, int attempts = 10,
                         std::chrono::steady_clock::duration atLeast = kRecoveryFloor)
    {
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t framesBefore = unit.camera->camera().framesStarted();
        for (int i = 0; i < attempts || std::chrono::steady_clock::now() < start + atLeast; ++i) {
            auto read = unit.stream->submitRead(unit.frameSize());
            if (read->waitFor(10s) && read->status() == STATUS_SUCCESS && !read->dataUsed().empty()) {
                if (i >= 10) {
                    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                    std::printf("slow recovery: a frame after %d reads, %.1f s\n", i + 1, took.count());
                }
                return true;
            }
        }
        const auto& camera = unit.camera->camera();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("no frame in %.1f s: camera video %s, alternate %u, %llu frames started meanwhile\n",
                    took.count(), camera.videoEnabled() ? "on" : "off", camera.currentAlternate(),
                    static_cast<unsigned long long>(camera.framesStarted() - framesBefore));
        return false;
    }

    std::filesystem::path machine_;
    std::filesystem::path imagePath_; // empty: the built-in driver
    std::unique_ptr<DriverImage> image_;
    std::unique_ptr<Platform> platform_;
    ULONG savedWdmLevel_ = 0;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    Plugged unit_;
};

} // namespace korval::hardening
