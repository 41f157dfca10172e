// A minimal client of the emulated bus for tests (not the product's driver):
// synchronous URBs on a fresh IRP each, and a set of transfers kept running
// by a completion routine that resubmits them, as a streaming driver does.
#pragma once

#include "host/kernel/irql.h"
#include "host/usb/usb_bus.h"
#include "platform/Kernel.h"
#include "platform/Pool.h"
#include "platform/Usb.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korval::host::testing {

// One IRP + URB pair with a completion that signals a waiter.
struct SyncRequest {
    std::mutex mutex;
    std::condition_variable done;
    bool completed = false;
    NTSTATUS status = STATUS_PENDING;
    KIRQL completionIrql = 0;
    std::thread::id completionThread;

    static NTSTATUS NTAPI onComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto* self = static_cast<SyncRequest*>(context);
        std::lock_guard lock(self->mutex);
        self->completed = true;
        self->status = irp->IoStatus.Status;
        self->completionIrql = KeGetCurrentIrql();
        self->completionThread = std::this_thread::get_id();
        self->done.notify_all();
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

class TestUsbDriver {
public:
    explicit TestUsbDriver(UsbBus& bus) : bus_(bus) {}

    PDEVICE_OBJECT lower() { return bus_.deviceObject(); }

    // Sends the URB and waits (real time) for its completion. `irpOut` lets a
    // test cancel the request while it waits elsewhere.
    struct Result {
        NTSTATUS callStatus = STATUS_PENDING; // what IofCallDriver returned
        NTSTATUS status = STATUS_PENDING;     // the IRP's final status
        bool completed = false;
        bool completedOnCaller = false;
        KIRQL completionIrql = 0;
    };

    Result submit(PURB urb, std::chrono::milliseconds limit = std::chrono::milliseconds(2000),
                  std::function<void(PIRP)> whilePending = {})
    {
        SyncRequest request;
        PIRP irp = IoAllocateIrp(lower()->StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = urb;
        IoSetCompletionRoutine(irp, &SyncRequest::onComplete, &request, TRUE, TRUE, TRUE);
        Result result;
        result.callStatus = IofCallDriver(lower(), irp);
        {
            std::unique_lock lock(request.mutex);
            result.completedOnCaller = request.completed;
        }
        if (result.callStatus == STATUS_PENDING && whilePending) {
            whilePending(irp);
        }
        std::unique_lock lock(request.mutex);
        result.completed = request.done.wait_for(lock, limit, [&] { return request.completed; });
        result.status = request.status;
        result.completionIrql = request.completionIrql;
        lock.unlock();
        if (result.completed) {
            IoFreeIrp(irp);
        } else {
            IoCancelIrp(irp);
            std::unique_lock again(request.mutex);
            request.done.wait(again, [&] { return request.completed; });
            again.unlock();
            IoFreeIrp(irp);
        }
        return result;
    }

    bool getDescriptor(UCHAR type, std::vector<std::uint8_t>& bytes, ULONG length)
    {
        bytes.assign(length, 0);
        URB urb{};
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, 0, 0,
                                     bytes.data(), nullptr, length, nullptr);
        const Result result = submit(&urb);
        bytes.resize(urb.UrbControlDescriptorRequest.TransferBufferLength);
        return NT_SUCCESS(result.status) && USBD_SUCCESS(urb.UrbHeader.Status);
    }

    bool configure()
    {
        std::vector<std::uint8_t> head;
        if (!getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, head, 9)) {
            return false;
        }
        const ULONG total = head[2] | (head[3] << 8);
        if (!getDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, configuration_, total)) {
            return false;
        }
        auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
        PUSB_INTERFACE_DESCRIPTOR interface0 =
            USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1);
        USBD_INTERFACE_LIST_ENTRY list[2] = {{interface0, nullptr}, {nullptr, nullptr}};
        PURB urb = USBD_CreateConfigurationRequestEx(config, list);
        if (urb == nullptr) {
            return false;
        }
        const Result result = submit(urb);
        const bool ok = NT_SUCCESS(result.status) && USBD_SUCCESS(urb->UrbHeader.Status);
        if (ok) {
            configurationHandle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
            keepPipes(*list[0].Interface);
        }
        ExFreePool(urb);
        return ok;
    }

    // Selects an alternate setting of interface 0 with six pipes; pipe 4 may
    // carry 16 packets per transfer.
    USBD_STATUS selectAlternate(UCHAR alternate)
    {
        const std::size_t size = GET_SELECT_INTERFACE_REQUEST_SIZE(6);
        std::vector<std::uint64_t> storage((size + 7) / 8, 0);
        auto* urb = reinterpret_cast<PURB>(storage.data());
        UsbBuildSelectInterfaceRequest(urb, size, configurationHandle_, 0, alternate);
        urb->UrbSelectInterface.Interface.Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(6));
        for (int pipe = 0; pipe < 6; ++pipe) {
            urb->UrbSelectInterface.Interface.Pipes[pipe].MaximumTransferSize = pipe == 4 ? 16 * 1023 : 64;
        }
        submit(urb);
        if (USBD_SUCCESS(urb->UrbHeader.Status)) {
            keepPipes(urb->UrbSelectInterface.Interface);
        }
        return urb->UrbHeader.Status;
    }

    USBD_STATUS vendor(UCHAR request, USHORT value, USHORT index, bool in, std::uint8_t* data, ULONG length,
                       ULONG* transferred = nullptr)
    {
        URB urb{};
        UsbBuildVendorRequest(&urb, URB_FUNCTION_VENDOR_INTERFACE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                              in ? (USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK) : 0, 0, request, value,
                              index, data, nullptr, length, nullptr);
        submit(&urb);
        if (transferred != nullptr) {
            *transferred = urb.UrbControlVendorClassRequest.TransferBufferLength;
        }
        return urb.UrbHeader.Status;
    }

    bool writeRegister(UCHAR address, UCHAR value) { return USBD_SUCCESS(vendor(0x00, value, address, false, nullptr, 0)); }

    bool writeBlock(UCHAR first, const std::vector<std::uint8_t>& values)
    {
        std::vector<std::uint8_t> data = values;
        return USBD_SUCCESS(vendor(0x01, 0, first, false, data.data(), static_cast<ULONG>(data.size())));
    }

    bool readRegister(UCHAR address, UCHAR& value)
    {
        std::uint8_t answer[2] = {0xCC, 0xCC};
        ULONG transferred = 0;
        if (!USBD_SUCCESS(vendor(0x03, 0, address, true, answer, 2, &transferred)) || transferred != 2) {
            return false;
        }
        value = answer[0];
        return true;
    }

    USBD_STATUS pipeRequest(USHORT function, int pipe)
    {
        URB urb{};
        urb.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
        urb.UrbHeader.Function = function;
        urb.UrbPipeRequest.PipeHandle = pipes_[static_cast<std::size_t>(pipe)].PipeHandle;
        submit(&urb);
        return urb.UrbHeader.Status;
    }

    const USBD_PIPE_INFORMATION& pipe(int index) const { return pipes_[static_cast<std::size_t>(index)]; }
    const std::vector<std::uint8_t>& configuration() const { return configuration_; }

private:
    void keepPipes(const USBD_INTERFACE_INFORMATION& information)
    {
        pipes_.assign(information.Pipes, information.Pipes + information.NumberOfPipes);
    }

    UsbBus& bus_;
    std::vector<std::uint8_t> configuration_;
    USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
    std::vector<USBD_PIPE_INFORMATION> pipes_;
};

} // namespace korval::host::testing
