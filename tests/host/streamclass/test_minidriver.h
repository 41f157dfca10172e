// A small stream-class minidriver for the class's own tests: one capture
// stream with two tiny video formats, one device property set, one device
// event, reads held until the test hands them a frame. It records what the
// class asked of it so that tests can check the class's habits.
#pragma once

#include "platform/Platform.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace korval::test {

constexpr ULONG kTestPoolTag = 0x44747354; // "TstD"
constexpr LONG kFrameWidth = 4;
constexpr LONG kFrameHeight = 2;
constexpr ULONG kRgbFrameBytes = kFrameWidth * kFrameHeight * 3;

// Misbehaviour a verifier test asks for.
enum class Fault {
    None,
    LeaveAdapterSrbPending,    // SRB_GET_DEVICE_PROPERTY returns without completing
    CompleteAdapterSrbTwice,   // SRB_SET_DEVICE_PROPERTY completes twice
    CompleteWithPendingStatus, // SRB_PAGING_OUT_DRIVER completes with STATUS_PENDING
    IgnoreCancel,              // HwCancelPacket does nothing (as the product's driver)
    LeakOnUninitialize,        // the device state is not freed
};

// Everything the test driver knows about one device; lives in pool from
// SRB_INITIALIZE_DEVICE to SRB_UNINITIALIZE_DEVICE.
struct TestDevice {
    std::mutex mutex;
    std::vector<ULONG> commands;        // adapter commands in arrival order
    std::vector<ULONG> streamCommands;  // stream control commands in arrival order
    std::deque<PHW_STREAM_REQUEST_BLOCK> reads;
    KSSTATE state = KSSTATE_STOP;
    HANDLE masterClock = nullptr;
    LONGLONG pictureNumber = 0;
    LONG brightness = 50;
    DEVICE_POWER_STATE power = PowerDeviceD0;
    bool surpriseRemoved = false;
    bool streamOpen = false;
    PHW_STREAM_OBJECT stream = nullptr;
    ULONG frameBytes = kRgbFrameBytes;
    std::vector<PHW_STREAM_REQUEST_BLOCK> cancelled;
    ULONG streamInfoBufferSize = 0;
    std::atomic<int> highestIrql{0};
};

// The device extension the class allocates (zero-filled).
struct TestDeviceExtension {
    TestDevice* Device;
    PDEVICE_OBJECT ClassDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT RealPhysicalDeviceObject;
    BOOLEAN WasZeroAtInitialize;
    LONG EventEnableCount;
    ULONG SecondInitializeCount;
};

struct TestDriverSettings {
    NTSTATUS initializeStatus = STATUS_SUCCESS;
    NTSTATUS streamInfoStatus = STATUS_SUCCESS;
    NTSTATUS initializationCompleteStatus = STATUS_SUCCESS;
    NTSTATUS eventRoutineStatus = STATUS_SUCCESS;
    Fault fault = Fault::None;
    bool pio = true; // the stream object's Pio: the class maps the read buffers
};

TestDriverSettings& testDriverSettings();

// The driver object of the test driver (any address serves as one).
PVOID testDriverObject();
// DriverEntry of the test driver: fills the registration record and registers.
NTSTATUS TestDriverEntry(PVOID driverObject);

TestDeviceExtension* testExtension(PVOID deviceExtension);

// Completes the oldest held read with a frame of `fill` bytes, stamped from
// the master clock when one was given; false when no read is held.
bool TestDriverDeliverFrame(PVOID deviceExtension, UCHAR fill);
// Signals the still-image event (KSEVENTSETID_VIDCAPTOSTI, id 0).
void TestDriverPressButton(PVOID deviceExtension);
std::size_t TestDriverHeldReads(PVOID deviceExtension);
// The adapter commands the last uninitialized device received, in order.
std::vector<ULONG> testDriverFinishedCommands();

// The formats the test stream offers: RGB24 and I420, 4 x 2 pixels.
const KS_DATARANGE_VIDEO& testRgbRange();
const KS_DATARANGE_VIDEO& testI420Range();

} // namespace korval::test
