// One 1 ms bus frame: the device's start of frame, one packet for each
// isochronous pipe, a poll of each interrupt pipe whose interval has come,
// and the hand-back of delayed control requests.
#include "host/usb/usb_bus.h"
#include "host/usb/usb_status.h"

#include "host/kernel/bug_check.h"

#include <algorithm>

namespace korval::host {

void UsbBus::processFrame()
{
    {
        std::lock_guard lock(mutex_);
        ++frame_;
        if (plugged_) {
            device_.startOfFrame(frame_);
            for (std::size_t pipe = 0; pipe < pipes_.size(); ++pipe) {
                const USBD_PIPE_TYPE type = pipes_[pipe].type();
                if (type == UsbdPipeTypeIsochronous && pipes_[pipe].in()) {
                    serviceIsochronous(static_cast<int>(pipe));
                } else if (type == UsbdPipeTypeInterrupt && pipes_[pipe].in()) {
                    serviceInterrupt(static_cast<int>(pipe));
                }
            }
            serviceDelayedControl();
        }
    }
    completeCollected();
    {
        std::lock_guard lock(mutex_);
        finishedFrame_ = frame_;
    }
    frameRan_.notify_all();
}

void UsbBus::keepLayout(Pending& pending)
{
    const auto& iso = pending.urb->UrbIsochronousTransfer;
    pending.buffer = iso.TransferBuffer;
    pending.bufferLength = iso.TransferBufferLength;
    pending.offsets.resize(iso.NumberOfPackets);
    for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
        pending.offsets[i] = iso.IsoPacket[i].Offset;
    }
}

// The host controller works from the URB the driver gave it: a driver that
// refills or re-aims it before it comes back corrupts memory on the real
// platform, so the verifier stops it here.
void UsbBus::checkLayout(const Pending& pending)
{
    const auto& iso = pending.urb->UrbIsochronousTransfer;
    bool same = iso.TransferBuffer == pending.buffer && iso.TransferBufferLength == pending.bufferLength &&
                iso.NumberOfPackets == pending.offsets.size();
    for (std::size_t i = 0; same && i < pending.offsets.size(); ++i) {
        same = iso.IsoPacket[i].Offset == pending.offsets[i];
    }
    if (!same) {
        bugCheck("an isochronous URB's buffer or packet table was changed while the USB stack owns it");
    }
}

// The transfer of the pipe that the bus serves next: the oldest one that is
// answered and not being cancelled. Lock held.
std::list<UsbBus::Pending>::iterator UsbBus::oldestServiced(int pipe)
{
    return std::find_if(pending_.begin(), pending_.end(), [pipe](const Pending& pending) {
        return pending.pipe == pipe && !pending.noAnswer && !pending.cancelling;
    });
}

// The packet of this frame goes into the oldest waiting transfer of the pipe;
// with none waiting, the device's data of the frame is lost.
void UsbBus::serviceIsochronous(int pipe)
{
    const Pipe& target = pipes_[static_cast<std::size_t>(pipe)];
    auto it = oldestServiced(pipe);
    if (it == pending_.end()) {
        device_.isochronousIn(target.address, nullptr, target.maxPacket);
        return;
    }
    checkLayout(*it);
    auto& iso = it->urb->UrbIsochronousTransfer;
    USBD_ISO_PACKET_DESCRIPTOR& packet = iso.IsoPacket[it->packet];
    const ULONG end = it->packet + 1 < iso.NumberOfPackets ? iso.IsoPacket[it->packet + 1].Offset
                                                           : iso.TransferBufferLength;
    const std::size_t capacity = std::min<std::size_t>(target.maxPacket, end - packet.Offset);
    auto* buffer = static_cast<std::uint8_t*>(iso.TransferBuffer) + packet.Offset;
    const std::size_t bytes = device_.isochronousIn(target.address, buffer, capacity);
    if (packetErrors_ > 0) {
        if (packetErrors_ != UINT32_MAX) {
            --packetErrors_;
        }
        packet.Length = 0;
        packet.Status = packetErrorStatus_;
        ++iso.ErrorCount;
    } else {
        packet.Length = static_cast<ULONG>(bytes);
        packet.Status = USBD_STATUS_SUCCESS;
    }
    if (++it->packet < iso.NumberOfPackets) {
        return;
    }
    // A transfer succeeds with per-packet status unless every packet failed.
    const USBD_STATUS status =
        iso.ErrorCount == iso.NumberOfPackets ? USBD_STATUS_ISOCH_REQUEST_FAILED : USBD_STATUS_SUCCESS;
    finish(it, status, ntStatusFor(status));
}

void UsbBus::serviceInterrupt(int pipe)
{
    const Pipe& target = pipes_[static_cast<std::size_t>(pipe)];
    const std::uint64_t interval = std::max<std::uint8_t>(1, target.interval);
    if (frame_ % interval != 0) {
        return;
    }
    auto it = oldestServiced(pipe);
    if (it == pending_.end()) {
        return;
    }
    auto& transfer = it->urb->UrbBulkOrInterruptTransfer;
    const std::size_t capacity = std::min<std::size_t>(target.maxPacket, transfer.TransferBufferLength);
    const std::optional<std::size_t> bytes =
        device_.interruptIn(target.address, static_cast<std::uint8_t*>(transfer.TransferBuffer), capacity);
    if (!bytes) {
        return;
    }
    const bool shortOk = (transfer.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    const USBD_STATUS status =
        *bytes < transfer.TransferBufferLength && !shortOk ? USBD_STATUS_DATA_UNDERRUN : USBD_STATUS_SUCCESS;
    transfer.TransferBufferLength = static_cast<ULONG>(*bytes);
    finish(it, status, ntStatusFor(status));
}

void UsbBus::serviceDelayedControl()
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        auto current = it++;
        if (current->pipe < 0 && !current->noAnswer && !current->cancelling && current->dueFrame <= frame_) {
            finish(current, current->status, current->ntStatus);
        }
    }
}

} // namespace korval::host
