// The emulated full-speed USB bus with one device on it, seen by the driver as
// the lower device object that takes IRP_MJ_INTERNAL_DEVICE_CONTROL with
// IOCTL_INTERNAL_USB_SUBMIT_URB.
//
// Control requests (descriptors, configuration, interface, pipe abort and
// reset, vendor requests) complete at once on the caller's thread, unless a
// control delay is set, in which case they pend and the bus completes them
// later. Transfers pend: every 1 ms frame the bus moves one packet of each
// isochronous pipe and polls each interrupt pipe at its interval, and
// completes finished transfers at DISPATCH_LEVEL. Frames follow the platform
// clock on the bus's own thread, or are run by the test (manual pacing).
#pragma once

#include "host/usb/bus_tap.h"
#include "host/usb/urb_trace.h"
#include "host/usb/usb_device.h"
#include "platform/Kernel.h"
#include "platform/Usb.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace korval::host {

struct BusOptions {
    // Periodic bytes per frame the bus can reserve (isochronous and interrupt
    // endpoints); a select that needs more fails with USBD_STATUS_NO_BANDWIDTH.
    std::uint32_t bandwidthBytesPerFrame = 1200;
    bool ownThread = true;             // false: frames run only through runFrames
    std::uint32_t controlDelayFrames = 0;
};

class UsbBus {
public:
    UsbBus(UsbDevice& device, BusOptions options = {});
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // The device object the driver sends its URBs to (also its PDO).
    PDEVICE_OBJECT deviceObject() { return deviceObject_; }

    // Manual pacing: runs `count` frames on the calling thread.
    void runFrames(std::uint64_t count);
    // Own thread: waits (real time, at most `limit`) until the bus has run
    // `frame` and delivered its completions.
    bool waitForFrame(std::uint64_t frame, std::chrono::milliseconds limit);
    std::uint64_t frameNumber() const;

    // Removes the device: pending requests complete with an error, new ones fail.
    void unplug();
    bool plugged() const;

    void setBandwidth(std::uint32_t bytesPerFrame);
    void setControlDelay(std::uint32_t frames);
    void addFault(const UrbFault& fault);
    void clearFaults();

    static constexpr std::size_t kTraceLimit = 65536;
    std::vector<UrbTraceEntry> trace() const;
    void clearTrace();
    std::size_t pendingRequests() const;
    // Transfers waiting on the open pipe of this endpoint address.
    std::size_t pendingOn(std::uint8_t endpoint) const;
    bool configured() const;
    std::uint8_t currentAlternate() const;

    // Listeners that see every transfer on the wire (until removed).
    void addTap(BusTap* tap);
    void removeTap(BusTap* tap);

private:
    struct Pipe {
        std::uint8_t address = 0;
        std::uint8_t attributes = 0;
        std::uint16_t maxPacket = 0;
        std::uint8_t interval = 0;
        std::uint32_t maxTransfer = 0;
        bool halted = false;
        USBD_PIPE_TYPE type() const { return static_cast<USBD_PIPE_TYPE>(attributes & 0x03); }
        bool in() const { return (address & 0x80) != 0; }
    };
    struct Pending {
        PIRP irp = nullptr;
        PURB urb = nullptr;
        int pipe = -1;                // index into pipes_, -1 for a delayed control request
        std::uint32_t packet = 0;     // isochronous progress
        std::uint64_t dueFrame = 0;   // delayed control request
        bool noAnswer = false;
        // Its cancel routine took it over while the bus was finishing it:
        // the bus leaves it alone until that routine completes it.
        bool cancelling = false;
        std::size_t traceIndex = 0;
        USBD_STATUS status = USBD_STATUS_SUCCESS; // delayed control request's result
        NTSTATUS ntStatus = STATUS_SUCCESS;
        // An isochronous transfer's buffer and packet table as submitted: the
        // driver may not change them while the bus owns the URB.
        PVOID buffer = nullptr;
        ULONG bufferLength = 0;
        std::vector<ULONG> offsets;
    };
    struct Completion {
        PIRP irp;
        PURB urb;
        USBD_STATUS status;
        NTSTATUS ntStatus;
        std::size_t traceIndex;
    };
    struct Outcome {
        bool pended = false;
        USBD_STATUS status = USBD_STATUS_SUCCESS;
        NTSTATUS ntStatus = STATUS_SUCCESS;
    };
    struct AlternateInfo {
        const USB_INTERFACE_DESCRIPTOR* interface = nullptr;
        std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
    };

    static NTSTATUS NTAPI dispatchInternalControl(PDEVICE_OBJECT device, PIRP irp);
    static VOID NTAPI cancelRoutine(PDEVICE_OBJECT device, PIRP irp);

    NTSTATUS submit(PIRP irp);
    Outcome handleUrb(PIRP irp, PURB urb, std::size_t traceIndex);
    Outcome handleDescriptor(PURB urb);
    Outcome handleSelectConfiguration(PURB urb);
    Outcome handleSelectInterface(PURB urb);
    Outcome handlePipeRequest(PURB urb);
    Outcome handleVendorOrClass(PURB urb, const UrbFault* fault);
    Outcome handleTransfer(PIRP irp, PURB urb, std::size_t traceIndex, const UrbFault* fault);
    Outcome queueTransfer(PIRP irp, PURB urb, int pipe, std::size_t traceIndex, bool noAnswer);

    bool readDeviceConfiguration();
    const AlternateInfo* findAlternate(int interfaceNumber, int alternate) const;
    std::uint32_t periodicBytes(const AlternateInfo& alternate) const;
    void openPipes(const AlternateInfo& alternate, USBD_INTERFACE_INFORMATION& information);
    int pipeFromHandle(USBD_PIPE_HANDLE handle) const;
    void takeAllPending(int pipe, USBD_STATUS status, NTSTATUS ntStatus);
    bool detachPending(std::list<Pending>::iterator it);
    std::list<Pending>::iterator oldestServiced(int pipe);

    static void keepLayout(Pending& pending);
    static void checkLayout(const Pending& pending);

    void processFrame();
    void serviceIsochronous(int pipe);
    void serviceInterrupt(int pipe);
    void serviceDelayedControl();
    void finish(std::list<Pending>::iterator it, USBD_STATUS status, NTSTATUS ntStatus);
    void completeCollected();
    void completeNow(const Completion& completion);

    const UrbFault* matchFault(PURB urb);
    std::size_t record(PURB urb);
    void recordResult(std::size_t traceIndex, PURB urb, USBD_STATUS status, NTSTATUS ntStatus,
                      bool atOnce);

    struct TappedUrb {
        TransferType type = TransferType::Control;
        std::uint8_t endpoint = 0;
    };
    void tapSubmitted(std::size_t traceIndex, PURB urb);
    void tapCompleted(std::size_t traceIndex, PURB urb, USBD_STATUS status);
    void publish(const TransferEvent& event);

    void busThread(std::stop_token stop);

    UsbDevice& device_;
    BusOptions options_;
    DRIVER_OBJECT* driverObject_ = nullptr;
    DEVICE_OBJECT* deviceObject_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable frameRan_;
    std::uint64_t frame_ = 0;
    std::uint64_t finishedFrame_ = 0; // frames whose completions have all been delivered
    bool plugged_ = true;
    bool configured_ = false;
    std::uint8_t alternate_ = 0;
    USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
    std::uint32_t generation_ = 0;
    std::vector<std::uint8_t> configurationDescriptor_;
    std::vector<AlternateInfo> alternates_;
    std::vector<Pipe> pipes_;
    std::list<Pending> pending_;
    std::vector<Completion> collected_;
    std::vector<UrbFault> faults_;
    std::uint32_t packetErrors_ = 0;
    USBD_STATUS packetErrorStatus_ = USBD_STATUS_CRC;
    std::deque<UrbTraceEntry> trace_; // the newest kTraceLimit URBs
    std::uint64_t traceSequence_ = 0;
    std::vector<BusTap*> taps_;
    std::unordered_map<std::size_t, TappedUrb> tapped_; // submitted to a tap, not yet completed

    std::jthread thread_;
};

} // namespace korval::host
