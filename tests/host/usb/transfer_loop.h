// Transfers kept in flight on one pipe the way a streaming driver keeps them:
// each completion records what arrived and queues a DPC that submits the
// transfer again, until the loop is stopped (abort pipe) and drained.
#pragma once

#include "test_usb_driver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace korval::host::testing {

class TransferLoop {
public:
    static constexpr ULONG kPackets = 16;

    TransferLoop(TestUsbDriver& driver, int pipeIndex, int transfers, bool isochronous)
        : driver_(driver), pipe_(driver.pipe(pipeIndex)), isochronous_(isochronous)
    {
        for (int i = 0; i < transfers; ++i) {
            auto slot = std::make_unique<Slot>();
            slot->owner = this;
            slot->irp = IoAllocateIrp(driver.lower()->StackSize, FALSE);
            slot->urbStorage.assign((GET_ISO_URB_SIZE(kPackets) + 7) / 8, 0);
            slot->data.assign(isochronous ? kPackets * pipe_.MaximumPacketSize : pipe_.MaximumPacketSize, 0);
            KeInitializeDpc(&slot->dpc, &TransferLoop::resubmitDpc, slot.get());
            slots_.push_back(std::move(slot));
        }
    }

    ~TransferLoop()
    {
        stop();
        settle();
        for (auto& slot : slots_) {
            IoFreeIrp(slot->irp);
        }
    }

    void start()
    {
        running_ = true;
        for (auto& slot : slots_) {
            ++inFlight_;
            send(*slot);
        }
    }

    // Aborts the pipe and waits until every transfer has come back.
    bool stop(std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        if (!running_.exchange(false) && inFlight_ == 0) {
            return true;
        }
        driver_.pipeRequest(URB_FUNCTION_ABORT_PIPE, pipeIndexOf());
        return waitIdle(limit);
    }

    bool waitIdle(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return idle_.wait_for(lock, limit, [&] { return inFlight_ == 0; });
    }

    void freeze() { running_ = false; }

    std::vector<std::uint8_t> bytes() const
    {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::vector<NTSTATUS> statuses() const
    {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::vector<USBD_STATUS> urbStatuses() const
    {
        std::lock_guard lock(mutex_);
        return urbStatuses_;
    }
    int completions() const
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(statuses_.size());
    }
    int packetErrors() const { return packetErrors_; }
    // Waits (real time) until no completed transfer is waiting for its DPC.
    bool settle(std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (awaitingResubmit_ != 0) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }
    int inFlight() const { return inFlight_; }
    bool sawWrongIrql() const { return wrongIrql_; }

private:
    struct Slot {
        TransferLoop* owner = nullptr;
        PIRP irp = nullptr;
        std::vector<std::uint64_t> urbStorage;
        std::vector<std::uint8_t> data;
        KDPC dpc{};
        PURB urb() { return reinterpret_cast<PURB>(urbStorage.data()); }
    };

    int pipeIndexOf() const
    {
        for (int i = 0; i < 6; ++i) {
            if (driver_.pipe(i).PipeHandle == pipe_.PipeHandle) {
                return i;
            }
        }
        return 0;
    }

    void prepare(Slot& slot)
    {
        std::fill(slot.urbStorage.begin(), slot.urbStorage.end(), 0);
        PURB urb = slot.urb();
        const ULONG length = static_cast<ULONG>(slot.data.size());
        if (isochronous_) {
            auto& iso = urb->UrbIsochronousTransfer;
            urb->UrbHeader.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(kPackets));
            urb->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
            iso.PipeHandle = pipe_.PipeHandle;
            iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK | USBD_START_ISO_TRANSFER_ASAP;
            iso.TransferBuffer = slot.data.data();
            iso.TransferBufferLength = length;
            iso.NumberOfPackets = kPackets;
            for (ULONG i = 0; i < kPackets; ++i) {
                iso.IsoPacket[i].Offset = i * pipe_.MaximumPacketSize;
            }
        } else {
            UsbBuildInterruptOrBulkTransferRequest(urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), pipe_.PipeHandle,
                                                   slot.data.data(), nullptr, length,
                                                   USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, nullptr);
        }
        IoReuseIrp(slot.irp, STATUS_SUCCESS);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(slot.irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = urb;
        IoSetCompletionRoutine(slot.irp, &TransferLoop::onComplete, &slot, TRUE, TRUE, TRUE);
    }

    void send(Slot& slot)
    {
        prepare(slot);
        IofCallDriver(driver_.lower(), slot.irp);
    }

    void record(Slot& slot, NTSTATUS status)
    {
        PURB urb = slot.urb();
        std::lock_guard lock(mutex_);
        statuses_.push_back(status);
        urbStatuses_.push_back(urb->UrbHeader.Status);
        if (!NT_SUCCESS(status)) {
            return;
        }
        if (isochronous_) {
            auto& iso = urb->UrbIsochronousTransfer;
            for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
                if (!USBD_SUCCESS(iso.IsoPacket[i].Status)) {
                    ++packetErrors_;
                    continue;
                }
                const std::uint8_t* from = slot.data.data() + iso.IsoPacket[i].Offset;
                bytes_.insert(bytes_.end(), from, from + iso.IsoPacket[i].Length);
            }
        } else {
            const auto& transfer = urb->UrbBulkOrInterruptTransfer;
            bytes_.insert(bytes_.end(), slot.data.begin(), slot.data.begin() + transfer.TransferBufferLength);
        }
    }

    static NTSTATUS NTAPI onComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto& slot = *static_cast<Slot*>(context);
        TransferLoop& loop = *slot.owner;
        if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
            loop.wrongIrql_ = true;
        }
        loop.record(slot, irp->IoStatus.Status);
        if (loop.running_ && NT_SUCCESS(irp->IoStatus.Status)) {
            ++loop.awaitingResubmit_;
            KeInsertQueueDpc(&slot.dpc, nullptr, nullptr);
        } else {
            loop.release();
        }
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    static VOID NTAPI resubmitDpc(PKDPC, PVOID context, PVOID, PVOID)
    {
        auto& slot = *static_cast<Slot*>(context);
        TransferLoop& loop = *slot.owner;
        if (!loop.running_) {
            --loop.awaitingResubmit_;
            loop.release();
        } else {
            loop.send(slot);
            --loop.awaitingResubmit_;
        }
    }

    void release()
    {
        std::lock_guard lock(mutex_);
        --inFlight_;
        idle_.notify_all();
    }

    TestUsbDriver& driver_;
    USBD_PIPE_INFORMATION pipe_;
    bool isochronous_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<bool> running_{false};
    std::atomic<int> inFlight_{0};
    std::atomic<int> packetErrors_{0};
    std::atomic<int> awaitingResubmit_{0};
    std::atomic<bool> wrongIrql_{false};
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<std::uint8_t> bytes_;
    std::vector<NTSTATUS> statuses_;
    std::vector<USBD_STATUS> urbStatuses_;
};

} // namespace korval::host::testing
