// The bus's life, the IRP entry point, cancellation, completion and the trace.
#include "host/usb/usb_bus.h"
#include "host/usb/usb_status.h"

#include "host/kernel/clock.h"
#include "host/kernel/irql.h"

#include <algorithm>
#include <cstring>

namespace korval::host {

UsbBus::UsbBus(UsbDevice& device, BusOptions options) : device_(device), options_(options)
{
    driverObject_ = new DRIVER_OBJECT{};
    driverObject_->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &UsbBus::dispatchInternalControl;
    deviceObject_ = new DEVICE_OBJECT{};
    deviceObject_->Type = 3;
    deviceObject_->Size = sizeof(DEVICE_OBJECT);
    deviceObject_->DriverObject = driverObject_;
    deviceObject_->DeviceExtension = this;
    deviceObject_->DeviceType = FILE_DEVICE_UNKNOWN;
    deviceObject_->StackSize = 1;
    readDeviceConfiguration();
    if (options_.ownThread) {
        thread_ = std::jthread([this](std::stop_token stop) { busThread(stop); });
    }
}

UsbBus::~UsbBus()
{
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    unplug();
    delete deviceObject_;
    delete driverObject_;
}

void UsbBus::busThread(std::stop_token stop)
{
    for (;;) {
        std::uint64_t next = 0;
        {
            std::lock_guard lock(mutex_);
            next = frame_ + 1;
        }
        if (!systemClock().sleepUntil(static_cast<std::int64_t>(next) * Clock::kTicksPerMillisecond,
                                      stop)) {
            return;
        }
        processFrame();
    }
}

void UsbBus::runFrames(std::uint64_t count)
{
    for (std::uint64_t i = 0; i < count; ++i) {
        processFrame();
    }
}

bool UsbBus::waitForFrame(std::uint64_t frame, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return frameRan_.wait_for(lock, limit, [&] { return finishedFrame_ >= frame; });
}

std::uint64_t UsbBus::frameNumber() const
{
    std::lock_guard lock(mutex_);
    return frame_;
}

bool UsbBus::plugged() const
{
    std::lock_guard lock(mutex_);
    return plugged_;
}

std::size_t UsbBus::pendingOn(std::uint8_t endpoint) const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(pending_.begin(), pending_.end(), [&](const Pending& pending) {
        return pending.pipe >= 0 && pipes_[static_cast<std::size_t>(pending.pipe)].address == endpoint;
    }));
}

bool UsbBus::configured() const
{
    std::lock_guard lock(mutex_);
    return configured_;
}

std::uint8_t UsbBus::currentAlternate() const
{
    std::lock_guard lock(mutex_);
    return alternate_;
}

std::size_t UsbBus::pendingRequests() const
{
    std::lock_guard lock(mutex_);
    return pending_.size();
}

void UsbBus::setBandwidth(std::uint32_t bytesPerFrame)
{
    std::lock_guard lock(mutex_);
    options_.bandwidthBytesPerFrame = bytesPerFrame;
}

void UsbBus::setControlDelay(std::uint32_t frames)
{
    std::lock_guard lock(mutex_);
    options_.controlDelayFrames = frames;
}

void UsbBus::addFault(const UrbFault& fault)
{
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void UsbBus::clearFaults()
{
    std::lock_guard lock(mutex_);
    faults_.clear();
    packetErrors_ = 0;
}

std::vector<UrbTraceEntry> UsbBus::trace() const
{
    std::lock_guard lock(mutex_);
    return {trace_.begin(), trace_.end()};
}

void UsbBus::clearTrace()
{
    std::lock_guard lock(mutex_);
    trace_.clear();
}

void UsbBus::unplug()
{
    {
        std::lock_guard lock(mutex_);
        plugged_ = false;
        configured_ = false;
        pipes_.clear();
        for (auto it = pending_.begin(); it != pending_.end();) {
            auto current = it++;
            if (detachPending(current)) {
                collected_.push_back({current->irp, current->urb, USBD_STATUS_DEVICE_GONE,
                                      kDeviceGoneStatus, current->traceIndex});
                pending_.erase(current);
            }
        }
    }
    completeCollected();
}

// ---------------------------------------------------------------------------
// IRP entry

NTSTATUS NTAPI UsbBus::dispatchInternalControl(PDEVICE_OBJECT device, PIRP irp)
{
    return static_cast<UsbBus*>(device->DeviceExtension)->submit(irp);
}

NTSTATUS UsbBus::submit(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto* urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
    if (stack->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL ||
        stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB ||
        urb == nullptr || urb->UrbHeader.Length < sizeof(struct _URB_HEADER)) {
        const NTSTATUS status = urb == nullptr ? STATUS_INVALID_PARAMETER : STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    Outcome outcome;
    std::size_t traceIndex = 0;
    {
        std::lock_guard lock(mutex_);
        traceIndex = record(urb);
        tapSubmitted(traceIndex, urb);
        if (!plugged_) {
            outcome = {false, USBD_STATUS_DEVICE_GONE, kDeviceGoneStatus};
        } else {
            outcome = handleUrb(irp, urb, traceIndex);
        }
        if (!outcome.pended) {
            urb->UrbHeader.Status = outcome.status;
            recordResult(traceIndex, urb, outcome.status, outcome.ntStatus, true);
            tapCompleted(traceIndex, urb, outcome.status);
        }
    }
    completeCollected();
    if (outcome.pended) {
        return STATUS_PENDING;
    }
    irp->IoStatus.Status = outcome.ntStatus;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return outcome.ntStatus;
}

// Queues a request that the bus completes later. Called with the lock held.
UsbBus::Outcome UsbBus::queueTransfer(PIRP irp, PURB urb, int pipe, std::size_t traceIndex,
                                      bool noAnswer)
{
    IoMarkIrpPending(irp);
    urb->UrbHeader.Status = USBD_STATUS_PENDING;
    Pending pending;
    pending.irp = irp;
    pending.urb = urb;
    pending.pipe = pipe;
    pending.noAnswer = noAnswer;
    pending.traceIndex = traceIndex;
    pending.dueFrame = frame_ + options_.controlDelayFrames;
    pending_.push_back(pending);
    IoSetCancelRoutine(irp, &UsbBus::cancelRoutine);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        // Cancelled before the routine was in place: complete it here.
        collected_.push_back({irp, urb, USBD_STATUS_CANCELED, STATUS_CANCELLED, traceIndex});
        pending_.pop_back();
    }
    return {true, USBD_STATUS_PENDING, STATUS_PENDING};
}

VOID NTAPI UsbBus::cancelRoutine(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* bus = static_cast<UsbBus*>(device->DeviceExtension);
    {
        std::lock_guard lock(bus->mutex_);
        auto it = std::find_if(bus->pending_.begin(), bus->pending_.end(),
                               [irp](const Pending& pending) { return pending.irp == irp; });
        if (it == bus->pending_.end()) {
            return;
        }
        bus->collected_.push_back({irp, it->urb, USBD_STATUS_CANCELED, STATUS_CANCELLED,
                                   it->traceIndex});
        bus->pending_.erase(it);
    }
    bus->completeCollected();
}

// Takes the request out of cancellation's reach; false when its cancel
// routine is already running: that routine completes it, and until then the
// bus neither moves data into it nor hands it back, as a host controller
// drops a request from its schedule once cancellation owns it.
bool UsbBus::detachPending(std::list<Pending>::iterator it)
{
    if (IoSetCancelRoutine(it->irp, nullptr) != nullptr) {
        return true;
    }
    it->cancelling = true;
    return false;
}

// Aborts every pending request of a pipe (-1: of every pipe). Lock held.
void UsbBus::takeAllPending(int pipe, USBD_STATUS status, NTSTATUS ntStatus)
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        auto current = it++;
        if ((pipe < 0 || current->pipe == pipe) && detachPending(current)) {
            collected_.push_back({current->irp, current->urb, status, ntStatus, current->traceIndex});
            pending_.erase(current);
        }
    }
}

void UsbBus::finish(std::list<Pending>::iterator it, USBD_STATUS status, NTSTATUS ntStatus)
{
    if (!detachPending(it)) {
        return;
    }
    collected_.push_back({it->irp, it->urb, status, ntStatus, it->traceIndex});
    pending_.erase(it);
}

// Completes what the lock-holding code collected, at DISPATCH_LEVEL and
// without the lock, so completion routines may submit again.
void UsbBus::completeCollected()
{
    std::vector<Completion> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(collected_);
        for (const Completion& completion : batch) {
            completion.urb->UrbHeader.Status = completion.status;
            recordResult(completion.traceIndex, completion.urb, completion.status,
                         completion.ntStatus, false);
            tapCompleted(completion.traceIndex, completion.urb, completion.status);
        }
    }
    for (const Completion& completion : batch) {
        completeNow(completion);
    }
}

void UsbBus::completeNow(const Completion& completion)
{
    ScopedIrql atDispatch(DISPATCH_LEVEL);
    completion.irp->IoStatus.Status = completion.ntStatus;
    completion.irp->IoStatus.Information = 0;
    IoCompleteRequest(completion.irp, IO_NO_INCREMENT);
}

// ---------------------------------------------------------------------------
// Trace and faults (lock held)

std::size_t UsbBus::record(PURB urb)
{
    UrbTraceEntry entry;
    entry.sequence = ++traceSequence_;
    entry.frame = frame_;
    entry.function = urb->UrbHeader.Function;
    switch (entry.function) {
    case URB_FUNCTION_VENDOR_DEVICE:
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_CLASS_DEVICE:
    case URB_FUNCTION_CLASS_INTERFACE:
    case URB_FUNCTION_CLASS_ENDPOINT:
        if (urb->UrbHeader.Length >= sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST)) {
            const auto& vendor = urb->UrbControlVendorClassRequest;
            entry.request = vendor.Request;
            entry.value = vendor.Value;
            entry.index = vendor.Index;
            entry.requestedLength = vendor.TransferBufferLength;
        }
        break;
    case URB_FUNCTION_SELECT_INTERFACE:
        if (urb->UrbHeader.Length >= sizeof(struct _URB_SELECT_INTERFACE)) {
            entry.alternate = urb->UrbSelectInterface.Interface.AlternateSetting;
        }
        break;
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
    case URB_FUNCTION_ISOCH_TRANSFER:
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_RESET_PIPE: {
        const int pipe = pipeFromHandle(urb->UrbPipeRequest.PipeHandle);
        entry.endpoint = pipe >= 0 ? pipes_[static_cast<std::size_t>(pipe)].address : 0;
        if (entry.function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER ||
            entry.function == URB_FUNCTION_ISOCH_TRANSFER) {
            entry.requestedLength = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
        }
        break;
    }
    default:
        break;
    }
    trace_.push_back(entry);
    if (trace_.size() > kTraceLimit) {
        trace_.pop_front();
    }
    return static_cast<std::size_t>(entry.sequence);
}

void UsbBus::recordResult(std::size_t traceIndex, PURB urb, USBD_STATUS status, NTSTATUS ntStatus,
                          bool atOnce)
{
    // traceIndex is the entry's sequence number; old entries may have been dropped.
    if (trace_.empty() || traceIndex < trace_.front().sequence ||
        traceIndex - trace_.front().sequence >= trace_.size()) {
        return;
    }
    UrbTraceEntry& entry = trace_[traceIndex - trace_.front().sequence];
    entry.completed = true;
    entry.completedAtOnce = atOnce;
    entry.status = status;
    entry.ntStatus = ntStatus;
    if (entry.function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER ||
        entry.function == URB_FUNCTION_ISOCH_TRANSFER) {
        entry.transferredLength = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    } else if (entry.requestedLength != 0) {
        entry.transferredLength = urb->UrbControlVendorClassRequest.TransferBufferLength;
    }
}

const UrbFault* UsbBus::matchFault(PURB urb)
{
    const UrbTraceEntry& entry = trace_.back();
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        UrbFault& fault = *it;
        const bool matches = fault.function == entry.function &&
                             (!fault.request || *fault.request == entry.request) &&
                             (!fault.index || *fault.index == entry.index) &&
                             (!fault.endpoint || *fault.endpoint == entry.endpoint);
        if (!matches || fault.times == 0) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.effect == UrbFault::Effect::PacketError) {
            packetErrors_ = fault.times < 0 ? UINT32_MAX : static_cast<std::uint32_t>(fault.times);
            packetErrorStatus_ = fault.status;
            fault.times = 0;
            return nullptr;
        }
        if (fault.times > 0) {
            --fault.times;
        }
        static_cast<void>(urb);
        return &fault;
    }
    return nullptr;
}

} // namespace korval::host
