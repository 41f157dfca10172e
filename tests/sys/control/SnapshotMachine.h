// A device as the snapshot thread sees it: the emulated platform over a
// machine directory on the stepped clock, a DeviceContext in its fresh state
// with a CUsbCamera whose status channel counts as running, a StreamContext
// and both still buffers; the snapshot status keys exist as the still-image
// service's installation leaves them.
#pragma once

#include "control/SnapshotThread.h"
#include "control/StillImageFile.h"
#include "driver/Driver.h"
#include "base/PoolAllocator.h"
#include "stream/StreamContext.h"
#include "usb/CUsbCamera.h"

#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "support/random_bytes.h"
#include "support/test_directory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace korval::snapshot_test {

using Bytes = std::vector<std::uint8_t>;
using namespace korval::host;

inline const char* const kStatusKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";
inline const char* const kCopyKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Stillgate\\KORVAL";
inline const char* const kCopyName = "{E5BAEA70-7F2C-49F3-BEC5-BAEDEA26DFB4}";

using korval::testing::randomBytes;

class SnapshotMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine_ = korval::testing::freshTestDirectory("korval-snapshot", true);
        std::filesystem::create_directories(machine_ / "C");
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_, ClockMode::Stepped});
        platform_->registry().createKey(kStatusKey);
        platform_->registry().createKey(kCopyKey);
        savedWdmLevel_ = WdmLevel;
        WdmLevel = 4;
        device_ = std::make_unique<DeviceContext>();
        InitializeDeviceState(device_.get());
        createObjects();
    }

    void TearDown() override
    {
        destroyObjects();
        device_.reset();
        WdmLevel = savedWdmLevel_;
        checkNoPoolLeaks(KORVAL_POOL_TAG);
        platform_->checkNoHandleLeaks();
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    void createObjects()
    {
        device_->Usb = new CUsbCamera;
        device_->Stream = new StreamContext;
        if (device_->Usb != nullptr) {
            device_->Usb->SnapshotRoutine = SnapshotThread;
        }
        device_->StillImageBuffer = static_cast<PUCHAR>(KorvalAllocate(STILL_BUFFER_BYTES));
        device_->StillBgrBuffer = static_cast<PUCHAR>(KorvalAllocate(STILL_BUFFER_BYTES));
        ASSERT_NE(device_->Usb, nullptr);
        ASSERT_NE(device_->Stream, nullptr);
        ASSERT_NE(device_->StillImageBuffer, nullptr);
        ASSERT_NE(device_->StillBgrBuffer, nullptr);
        device_->Stream->InitializeLocks();
        SetUsbConfigured(device_.get(), TRUE);
        WriteLockedFlag(&device_->Usb->StatusRunning, TRUE);
    }

    void destroyObjects()
    {
        delete device_->Usb;
        delete device_->Stream;
        KorvalFree(device_->StillImageBuffer);
        KorvalFree(device_->StillBgrBuffer);
        device_->Usb = nullptr;
        device_->Stream = nullptr;
        device_->StillImageBuffer = nullptr;
        device_->StillBgrBuffer = nullptr;
    }

    // What the capture-stream open leaves for the still writer: the format's
    // size and kind, the flag, and a delivered frame in StillImageBuffer.
    void openStream(ULONG width, ULONG height, bool i420, const Bytes& frame)
    {
        StreamContext* stream = device_->Stream;
        stream->OutWidth = width;
        stream->OutHeight = height;
        stream->IsI420 = i420 ? 1 : 0;
        ASSERT_LE(frame.size(), STILL_BUFFER_BYTES);
        std::copy(frame.begin(), frame.end(), device_->StillImageBuffer);
        SetCaptureOpen(device_.get(), TRUE);
    }

    void presetStatus(std::uint32_t value)
    {
        platform_->registry().setValue(kStatusKey, "StatusReport", RegistryValue::dword(value));
    }

    std::optional<std::uint32_t> status() const { return dwordAt(kStatusKey, "StatusReport"); }
    std::optional<std::uint32_t> statusCopy() const { return dwordAt(kCopyKey, kCopyName); }

    std::optional<std::uint32_t> dwordAt(const char* key, const char* name) const
    {
        const auto value = platform_->registry().value(key, name);
        return value ? value->asDword() : std::nullopt;
    }

    std::filesystem::path stillPath() const { return platform_->hostPath("C:\\StiImg.dat"); }

    std::optional<Bytes> stillFile() const
    {
        std::ifstream file(stillPath(), std::ios::binary);
        if (!file) {
            return std::nullopt;
        }
        return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    static Bytes header(std::uint32_t width, std::uint32_t height)
    {
        Bytes bytes;
        for (std::uint32_t word : {32u, width, height, 24u, width, height, 24u, 100u}) {
            for (int i = 0; i < 4; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
            }
        }
        return bytes;
    }

    static Bytes concat(Bytes first, const Bytes& second)
    {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    }

    std::filesystem::path machine_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<DeviceContext> device_;
    ULONG savedWdmLevel_ = 0;
};

} // namespace korval::snapshot_test
