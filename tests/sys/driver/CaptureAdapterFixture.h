// A loaded driver with one device on the emulated stream class, for the
// adapter requests that describe the capture stream. The device is not
// started: these requests need nothing but the registry and the device
// extension.
#pragma once

#include "driver/Driver.h"
#include "driver/StreamInformation.h"

#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

class CaptureAdapterTest : public ::testing::Test {
protected:
    static constexpr const char* kParameters =
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";

    void SetUp() override
    {
        ASSERT_EQ(DriverEntry(&driverObject_, &registryPath_), STATUS_SUCCESS);
        device_ = korval::host::StreamClassDevice::add(&driverObject_, &physicalDevice_);
    }

    void TearDown() override
    {
        device_.reset();
        korval::host::unloadDriver(&driverObject_);
    }

    void setFormatSelection(std::uint32_t value)
    {
        platform_.registry().setValue(kParameters, "A_64", korval::host::RegistryValue::dword(value));
    }

    // SRB_GET_STREAM_INFO into a buffer of `size` bytes (the descriptor size by default).
    korval::host::SrbResult getStreamInfo(ULONG size = CAPTURE_STREAM_DESCRIPTOR_SIZE)
    {
        descriptor_.assign(size / sizeof(std::uint64_t) + 1, 0);
        return device_->sendAdapterSrb(SRB_GET_STREAM_INFO, [&](HW_STREAM_REQUEST_BLOCK& srb) {
            srb.CommandData.StreamBuffer = reinterpret_cast<PHW_STREAM_DESCRIPTOR>(descriptor_.data());
            srb.NumberOfBytesToTransfer = size;
        });
    }

    // Selects the offered formats as a device start would.
    void offer(std::uint32_t selection)
    {
        setFormatSelection(selection);
        ASSERT_EQ(getStreamInfo().status, STATUS_SUCCESS) << std::hex << selection;
    }

    const HW_STREAM_HEADER& answeredHeader() const
    {
        return *reinterpret_cast<const HW_STREAM_HEADER*>(descriptor_.data());
    }

    const HW_STREAM_INFORMATION& answeredInformation() const
    {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(descriptor_.data());
        return *reinterpret_cast<const HW_STREAM_INFORMATION*>(bytes + sizeof(HW_STREAM_HEADER));
    }

    korval::host::Platform platform_;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    DEVICE_OBJECT physicalDevice_{};
    std::unique_ptr<korval::host::StreamClassDevice> device_;
    std::vector<std::uint64_t> descriptor_;
};
