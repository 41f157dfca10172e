// A CCameraRegisters object beside the USB transport of UsbCameraHarness.h,
// and the register traffic the bus saw, as (request, register, value, length)
// tuples that a test compares with the sequence it expects.
#pragma once

#include "usb/CCameraRegisters.h"

#include "UsbCameraHarness.h"

#include <tuple>
#include <vector>

namespace korval::testing {

using RegisterRequest = std::tuple<int, int, int, int>; // request, register, value, data bytes
using RegisterTraffic = std::vector<RegisterRequest>;

inline RegisterRequest writeOf(int reg, int value) { return {camera::kRequestWriteRegister, reg, value, 0}; }
inline RegisterRequest blockOf(int first, int count) { return {camera::kRequestWriteBlock, first, 0, count}; }
inline RegisterRequest readOf(int reg) { return {camera::kRequestReadRegister, reg, 0, 2}; }
inline RegisterTraffic commitTraffic() { return {writeOf(0x13, 1), writeOf(0x1C, 1)}; }

inline RegisterTraffic operator+(RegisterTraffic first, const RegisterTraffic& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class CameraRegistersTest : public UsbCameraTest {
protected:
    void SetUp() override
    {
        UsbCameraTest::SetUp();
        registers_ = new CCameraRegisters;
        ASSERT_NE(registers_, nullptr);
        device_->Camera = registers_;
    }

    void TearDown() override
    {
        delete registers_;
        registers_ = nullptr;
        UsbCameraTest::TearDown();
    }

    // Plugs in a camera with this bus power and binds the registers to it.
    void plugInWithPower(std::uint8_t maxPower)
    {
        camera::CameraOptions options;
        options.descriptors.maxPower = maxPower;
        registers_->Unbind();
        plugIn(options);
        device_->Camera = registers_;
    }

    // Opens the transport, binds the registers and forgets the traffic so far.
    void openAndBind()
    {
        ASSERT_TRUE(openCif());
        ASSERT_TRUE(registers_->Bind(device_.get()));
        bus().clearTrace();
    }

    RegisterTraffic traffic() const
    {
        RegisterTraffic seen;
        for (const auto& entry : traceOf(URB_FUNCTION_VENDOR_INTERFACE)) {
            seen.emplace_back(entry.request, entry.index, entry.value, static_cast<int>(entry.requestedLength));
        }
        return seen;
    }

    void failVendorRequest(int skip = 0)
    {
        host::UrbFault fault;
        fault.function = URB_FUNCTION_VENDOR_INTERFACE;
        fault.effect = host::UrbFault::Effect::Complete;
        fault.status = USBD_STATUS_DEV_NOT_RESPONDING;
        fault.skip = skip;
        bus().addFault(fault);
    }

    CCameraRegisters* registers_ = nullptr;
};

} // namespace korval::testing
