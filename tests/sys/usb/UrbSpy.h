// A filter device between the driver and the emulated bus: it records each
// URB as the driver sent it (the fields the bus's trace does not keep) and
// lets a test change the answer on its way back up, as a misbehaving lower
// driver or device would.
#pragma once

#include "platform/Kernel.h"
#include "platform/Usb.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace korval::testing {

struct SeenUrb {
    USHORT length = 0;
    USHORT function = 0;
    ULONG transferLength = 0;           // descriptor and vendor requests
    USHORT interfaceLength = 0;         // select interface
    UCHAR alternate = 0;
    std::vector<ULONG> maxTransfer;     // select interface: per pipe
    bool nullConfiguration = false;     // select configuration with no descriptor
};

class UrbSpy {
public:
    explicit UrbSpy(PDEVICE_OBJECT lower) : lower_(lower)
    {
        driver_.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &UrbSpy::dispatch;
        device_.Type = 3;
        device_.Size = sizeof(DEVICE_OBJECT);
        device_.DriverObject = &driver_;
        device_.DeviceExtension = this;
        device_.StackSize = static_cast<CCHAR>(lower->StackSize + 1);
    }
    UrbSpy(const UrbSpy&) = delete;
    UrbSpy& operator=(const UrbSpy&) = delete;

    PDEVICE_OBJECT deviceObject() { return &device_; }

    std::vector<SeenUrb> seen() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        seen_.clear();
    }

    // Runs on every completed URB before the driver sees it.
    void onAnswer(std::function<void(PURB)> change)
    {
        std::lock_guard lock(mutex_);
        change_ = std::move(change);
    }

private:
    static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto* self = static_cast<UrbSpy*>(device->DeviceExtension);
        auto* urb = static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
        self->record(urb);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, &UrbSpy::completed, self, TRUE, TRUE, TRUE);
        return IofCallDriver(self->lower_, irp);
    }

    static NTSTATUS NTAPI completed(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto* self = static_cast<UrbSpy*>(context);
        if (irp->PendingReturned) {
            IoMarkIrpPending(irp);
        }
        std::function<void(PURB)> change;
        {
            std::lock_guard lock(self->mutex_);
            change = self->change_;
        }
        // In its completion routine the filter's own stack location is current again.
        auto* urb = static_cast<PURB>(IoGetCurrentIrpStackLocation(irp)->Parameters.Others.Argument1);
        if (change && urb != nullptr) {
            change(urb);
        }
        return STATUS_SUCCESS;
    }

    void record(PURB urb)
    {
        SeenUrb entry;
        entry.length = urb->UrbHeader.Length;
        entry.function = urb->UrbHeader.Function;
        switch (entry.function) {
        case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
            entry.transferLength = urb->UrbControlDescriptorRequest.TransferBufferLength;
            break;
        case URB_FUNCTION_SELECT_CONFIGURATION:
            entry.nullConfiguration = urb->UrbSelectConfiguration.ConfigurationDescriptor == nullptr;
            break;
        case URB_FUNCTION_SELECT_INTERFACE: {
            const auto& information = urb->UrbSelectInterface.Interface;
            entry.interfaceLength = information.Length;
            entry.alternate = information.AlternateSetting;
            const std::size_t pipes =
                (information.Length - offsetof(USBD_INTERFACE_INFORMATION, Pipes)) / sizeof(USBD_PIPE_INFORMATION);
            for (std::size_t i = 0; i < pipes; ++i) {
                entry.maxTransfer.push_back(information.Pipes[i].MaximumTransferSize);
            }
            break;
        }
        default:
            if (entry.function >= URB_FUNCTION_VENDOR_DEVICE && entry.function <= URB_FUNCTION_CLASS_ENDPOINT) {
                entry.transferLength = urb->UrbControlVendorClassRequest.TransferBufferLength;
            }
            break;
        }
        std::lock_guard lock(mutex_);
        seen_.push_back(entry);
    }

    PDEVICE_OBJECT lower_;
    DRIVER_OBJECT driver_{};
    DEVICE_OBJECT device_{};
    mutable std::mutex mutex_;
    std::vector<SeenUrb> seen_;
    std::function<void(PURB)> change_;
};

} // namespace korval::testing
