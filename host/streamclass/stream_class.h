// The emulated stream class (stream.sys), seen from the capture application's
// side. The minidriver registers itself with StreamClassRegisterAdapter from its
// DriverEntry; tests and the korval tool then drive one device of it through
// the classes below, as the Plug and Play manager and a capture application
// would through the real class:
//
//   DriverEntry(&driverObject, &registryPath);            // registers the adapter
//   auto device = StreamClassDevice::add(&driverObject, usbPdo);
//   device->start();                                        // initialize, stream info, complete
//   auto formats = device->streamFormats(0);
//   auto format = device->dataIntersection(0, formats[0].bytes);
//   auto stream = device->openStream(0, format.format);
//   stream->setMasterClock(clock);
//   stream->setState(KSSTATE_RUN);
//   auto read = stream->submitRead(frameBytes);              // any number in flight
//   read->wait(); read->header(); read->frameInfo(); read->dataUsed();
//   stream->setState(KSSTATE_STOP); stream->close();
//   device->remove();                                       // surprise removal, close, uninitialize
//
// The class's habits that minidrivers rely on, as on the real platform with
// TurnOffSynchronization: every SRB is handed over at PASSIVE_LEVEL, without
// serialization, on the caller's thread (adapter and control SRBs) or on the
// stream's delivery thread(s) (reads); notifications may come from any thread
// at up to DISPATCH_LEVEL; the class never completes an SRB the minidriver holds
// (no time-outs); a stream is closed only when all its SRBs are complete.
// A read's buffer is mapped at a system address, which the minidriver may
// write from any thread, only for a stream object that declares Pio (or Dma);
// otherwise its stream header's Data carries no address the minidriver can use
// (on the platform: the application's own, meaningless on another thread).
//
// Strict like a verifier: an SRB completed twice, completed through the wrong
// notification or for a closed stream, an adapter SRB still pending when
// HwReceivePacket returns, or an SRB still pending when its stream or device
// goes away, stops the process with a bug check that names the SRB.
//
// Only that unsynchronized class is emulated: a registration without
// TurnOffSynchronization is refused with STATUS_NOT_SUPPORTED.
//
// All calls of this interface come from ordinary threads at PASSIVE_LEVEL.
#pragma once

#include "platform/StreamClass.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace korval::host {

struct StreamClassDeviceState;
struct StreamClassStreamState;
struct SrbRecord;
struct MasterClockState;
struct DeviceEventState;

// ---------------------------------------------------------------------------
// Registration

// The registration record kept by StreamClassRegisterAdapter for a driver
// object, or null when that driver has not registered (or was unloaded).
const HW_INITIALIZATION_DATA* registeredAdapter(PVOID driverObject);

// Makes the next StreamClassRegisterAdapter fail with `status` (one shot).
void failNextAdapterRegistration(NTSTATUS status);

// Driver unload: forgets the registration. Every device of the driver must be
// removed first, and no pool of `leakCheckTag` may remain (0 = every tag;
// std::nullopt skips the check); otherwise a bug check.
void unloadDriver(PVOID driverObject, std::optional<std::uint32_t> leakCheckTag = 0);

// ---------------------------------------------------------------------------
// Master clock

// A kernel-streaming master clock. Its stream time (100-ns units) follows the
// platform clock (host/kernel/clock.h: real time in the tool, stepped by tests)
// from the moment it is created or restarted, or is set by the test directly.
// Minidrivers read it with StreamClassQueryMasterClockSync through the handle
// that SRB_INDICATE_MASTER_CLOCK gave them.
class MasterClock {
public:
    static std::shared_ptr<MasterClock> create();
    ~MasterClock();

    HANDLE handle() const;
    std::int64_t streamTime() const;
    void restart();                        // stream time 0 now, following the platform clock
    void setTime(std::int64_t streamTime); // holds this value until set again or follow()
    void advance(std::int64_t ticks);      // moves the stream time forward (held or followed)
    void follow();                         // from the current value on, follow the platform clock
    std::uint64_t queries() const;         // StreamClassQueryMasterClockSync calls so far

private:
    MasterClock();
    std::shared_ptr<MasterClockState> state_;
};

// ---------------------------------------------------------------------------
// Properties

// A property request as a client builds it: `input` starts with the KSPROPERTY
// (set, id, flags) and may carry more (a whole KSPROPERTY_..._S record); `data`
// is the data buffer, whose size is exactly the output size the minidriver sees
// (for a set it holds the value). Sizes reach the minidriver as given.
struct PropertyRequest {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> data;

    // Input and data both a copy of `record` with its KSPROPERTY filled in;
    // the data buffer cut or zero-extended to `dataSize` bytes.
    template <class Record>
    static PropertyRequest make(const GUID& set, ULONG id, ULONG flags, Record record,
                                std::size_t dataSize = sizeof(Record))
    {
        static_assert(std::is_trivially_copyable_v<Record> && sizeof(Record) >= sizeof(KSPROPERTY));
        KSPROPERTY header{};
        header.Set = set;
        header.Id = id;
        header.Flags = flags;
        std::memcpy(&record, &header, sizeof(header));
        PropertyRequest request;
        request.input.resize(sizeof(Record));
        std::memcpy(request.input.data(), &record, sizeof(Record));
        request.data.assign(dataSize, 0);
        if (dataSize > 0) {
            std::memcpy(request.data.data(), &record, std::min(dataSize, sizeof(Record)));
        }
        return request;
    }
};

struct PropertyResult {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG bytesReturned = 0;          // the SRB's ActualBytesTransferred
    std::vector<std::uint8_t> data;   // the data buffer after the request

    // The data buffer as a record (zero-extended when shorter).
    template <class Record>
    Record as() const
    {
        Record record{};
        if (!data.empty()) {
            std::memcpy(&record, data.data(), std::min(data.size(), sizeof(Record)));
        }
        return record;
    }
};

// What a property set publishes about one item (read from the minidriver's tables).
struct PropertyDescription {
    bool get = false;
    bool set = false;
    ULONG minProperty = 0;
    ULONG minData = 0;
    ULONG serializedSize = 0;
    std::vector<KSPROPERTY_STEPPING_LONG> steppedRanges;
    std::vector<LONG> defaults;   // the members of the list flagged as default
};

// ---------------------------------------------------------------------------
// Formats

// One format range or format, as its bytes (FormatSize of them).
struct FormatBytes {
    std::vector<std::uint8_t> bytes;

    const KSDATAFORMAT& header() const { return *reinterpret_cast<const KSDATAFORMAT*>(bytes.data()); }
    template <class Record>
    Record as() const
    {
        Record record{};
        if (!bytes.empty()) {
            std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(Record)));
        }
        return record;
    }
    template <class Record>
    static FormatBytes of(const Record& record)
    {
        FormatBytes format;
        format.bytes.resize(sizeof(Record));
        std::memcpy(format.bytes.data(), &record, sizeof(Record));
        return format;
    }
};

struct IntersectionResult {
    NTSTATUS sizeQueryStatus = STATUS_UNSUCCESSFUL; // answer to the zero-size question
    ULONG sizeNeeded = 0;                            // its ActualBytesTransferred
    NTSTATUS status = STATUS_UNSUCCESSFUL;           // the final answer
    FormatBytes format;                              // ActualBytesTransferred bytes of the answer
    FormatBytes proposedRange;                       // the range after the minidriver saw it
};

// Outcome of a raw SRB sent by a test.
struct SrbResult {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    ULONG actualBytesTransferred = 0;
};

// ---------------------------------------------------------------------------
// Events

// An enabled device event; it counts the signals the minidriver raised for it.
class DeviceEvent {
public:
    ~DeviceEvent(); // disables it if still enabled

    std::uint64_t signals() const;
    // Waits (real time) until at least `count` signals arrived.
    bool waitForSignals(std::uint64_t count, std::chrono::milliseconds timeout) const;
    NTSTATUS disable();
    PKSEVENT_ENTRY entry() const;

private:
    friend class StreamClassDevice;
    explicit DeviceEvent(std::shared_ptr<DeviceEventState> state);
    std::shared_ptr<DeviceEventState> state_;
};

// ---------------------------------------------------------------------------
// Streams

class StreamRead;

// How read SRBs reach the minidriver. Sequential: one application thread hands
// them over one after another in submission order (each after the previous
// ReceiveDataPacket call returned). Concurrent: each read is handed over at
// once on its own thread, like many application threads.
enum class ReadDelivery { Sequential, Concurrent };

class StreamClassStream {
public:
    ~StreamClassStream(); // close() if still open

    PHW_STREAM_OBJECT object() const;
    ULONG streamNumber() const;

    NTSTATUS setState(KSSTATE state);
    NTSTATUS getState(KSSTATE* state);
    // SRB_INDICATE_MASTER_CLOCK with the clock's handle (null: no clock).
    NTSTATUS setMasterClock(std::shared_ptr<MasterClock> clock);
    NTSTATUS proposeDataFormat(const FormatBytes& format);

    PropertyResult getProperty(PropertyRequest request);
    PropertyResult setProperty(PropertyRequest request);

    void setReadDelivery(ReadDelivery delivery);
    // A read of a buffer of `bufferSize` bytes; its stream header carries the
    // stream's StreamHeaderMediaSpecific bytes behind it. `command` may name
    // another data command (SRB_WRITE_DATA) to see how the minidriver answers it.
    std::shared_ptr<StreamRead> submitRead(ULONG bufferSize, SRB_COMMAND command = SRB_READ_DATA);
    std::size_t readsInFlight() const;

    // Any stream SRB, built by `prepare`, sent to ReceiveControlPacket; waits for it.
    template <class Prepare>
    SrbResult sendControl(SRB_COMMAND command, Prepare prepare);

    // Hands every pending SRB to HwCancelPacket, waits until the minidriver has
    // completed them all (real time; a bug check names the SRBs still pending
    // after `patience`), then SRB_CLOSE_STREAM. Returns that SRB's status.
    // Reads not yet handed over are completed by the class (STATUS_CANCELLED).
    // With a stepped platform clock, a minidriver that completes reads only
    // after a timed wait needs the clock advanced from another thread (or a
    // stop first) while close() waits.
    NTSTATUS close(std::chrono::milliseconds patience = std::chrono::seconds(30));
    bool isOpen() const;

private:
    friend class StreamClassDevice;
    explicit StreamClassStream(std::shared_ptr<StreamClassStreamState> state);
    SrbResult sendControlRaw(SRB_COMMAND command, void (*prepare)(HW_STREAM_REQUEST_BLOCK&, void*), void* context);
    std::shared_ptr<StreamClassStreamState> state_;
};

// One read request in flight or completed.
class StreamRead {
public:
    ~StreamRead();

    void wait() const;
    bool waitFor(std::chrono::milliseconds timeout) const;
    bool completed() const;
    std::uint64_t completionOrder() const; // 1 for the first SRB completed in the process, ...

    NTSTATUS status() const;
    const KSSTREAM_HEADER& header() const;
    std::span<const std::uint8_t> mediaSpecific() const;
    // The KS_FRAME_INFO behind the header, when the stream declared room for one.
    const KS_FRAME_INFO* frameInfo() const;
    std::span<const std::uint8_t> buffer() const;   // all FrameExtent bytes
    std::span<const std::uint8_t> dataUsed() const; // the first DataUsed bytes
    PHW_STREAM_REQUEST_BLOCK srb() const;

private:
    friend class StreamClassStream;
    explicit StreamRead(std::shared_ptr<SrbRecord> record);
    std::shared_ptr<SrbRecord> record_;
};

// ---------------------------------------------------------------------------
// Devices

struct DeviceOptions {
    // Pool checked for leaks when the last device of the driver is removed
    // (0 = every tag; std::nullopt = no check).
    std::optional<std::uint32_t> leakCheckTag = 0;
    // How long remove() and close() wait for pending SRBs before the bug check.
    std::chrono::milliseconds patience = std::chrono::seconds(30);
    // Refuse an open beyond the stream's NumberOfPossibleInstances in the class
    // (STATUS_INVALID_DEVICE_REQUEST); false lets the minidriver see it.
    bool enforceInstanceLimit = true;
};

// One Plug and Play device of a registered minidriver: the class's device
// object over the physical device object of the bus.
class StreamClassDevice {
public:
    // Add-device: creates the class device object and the zero-filled device
    // extension of the registered size. `realPhysicalDeviceObject` defaults to
    // the physical one.
    static std::unique_ptr<StreamClassDevice> add(PVOID driverObject, PDEVICE_OBJECT physicalDeviceObject,
                                                  PDEVICE_OBJECT realPhysicalDeviceObject = nullptr,
                                                  DeviceOptions options = {});
    ~StreamClassDevice(); // remove() if not yet removed

    // Start: SRB_INITIALIZE_DEVICE, SRB_GET_STREAM_INFO into a buffer of the
    // StreamDescriptorSize the minidriver set, SRB_INITIALIZATION_COMPLETE.
    // Returns the first failure. A failed stream-information request is
    // followed by SRB_UNINITIALIZE_DEVICE and the device does not start; a
    // failed initialization complete leaves the device started.
    NTSTATUS start();
    NTSTATUS setPowerState(DEVICE_POWER_STATE state);
    // SRB_SURPRISE_REMOVAL (once, started or not); streams stay open until remove().
    void surpriseRemove();
    // Plug and Play stop: closes the streams and sends SRB_UNINITIALIZE_DEVICE;
    // start() may follow.
    NTSTATUS stop();
    // Removal: surprise removal first (if not yet, and only for an initialized
    // device: one that never initialized hears nothing), then each open stream's
    // close, disabling of the enabled events, SRB_UNINITIALIZE_DEVICE, and the
    // verifier's checks (no SRB pending, no pool left when it was the driver's
    // last device).
    void remove();

    bool started() const;
    PVOID deviceExtension() const;
    PDEVICE_OBJECT classDeviceObject() const;
    PDEVICE_OBJECT physicalDeviceObject() const;
    NTSTATUS initializationCompleteStatus() const;

    // What the last SRB_GET_STREAM_INFO answered (references stay valid until
    // the next refreshStreamInfo).
    NTSTATUS refreshStreamInfo();
    const HW_STREAM_HEADER& streamHeader() const;
    const HW_STREAM_INFORMATION& streamInformation(ULONG stream) const;
    std::vector<FormatBytes> streamFormats(ULONG stream) const;

    // Data intersection as the class asks it: first with a zero-size buffer to
    // learn the size, then with a buffer of that size.
    IntersectionResult dataIntersection(ULONG stream, const FormatBytes& range);
    // One SRB_GET_DATA_INTERSECTION with a buffer of `bufferSize` bytes.
    IntersectionResult dataIntersectionWithBuffer(ULONG stream, const FormatBytes& range, ULONG bufferSize);

    // SRB_OPEN_STREAM with the format; null (and *status) on failure.
    std::unique_ptr<StreamClassStream> openStream(ULONG stream, const FormatBytes& format,
                                                  NTSTATUS* status = nullptr);

    // Device properties: a set or id the minidriver did not publish, or a
    // direction it does not support, is refused by the class (STATUS_NOT_FOUND)
    // without reaching it; an input shorter than a KSPROPERTY gets
    // STATUS_INVALID_PARAMETER.
    PropertyResult getProperty(PropertyRequest request);
    PropertyResult setProperty(PropertyRequest request);
    std::optional<PropertyDescription> describeProperty(const GUID& set, ULONG id) const;

    // Enables a published device event (the minidriver's DeviceEventRoutine
    // sees Enable TRUE); null and *status on failure.
    std::unique_ptr<DeviceEvent> enableEvent(const GUID& set, ULONG id, NTSTATUS* status = nullptr);
    // SignalMultipleDeviceEvents that matched no enabled event.
    std::uint64_t unmatchedEventSignals() const;

    // Any adapter SRB, built by `prepare`, sent to HwReceivePacket.
    template <class Prepare>
    SrbResult sendAdapterSrb(SRB_COMMAND command, Prepare prepare);

private:
    explicit StreamClassDevice(std::shared_ptr<StreamClassDeviceState> state);
    void closeStreamsAndEvents();
    SrbResult sendAdapterRaw(SRB_COMMAND command, void (*prepare)(HW_STREAM_REQUEST_BLOCK&, void*), void* context);
    std::shared_ptr<StreamClassDeviceState> state_;
};

template <class Prepare>
SrbResult StreamClassDevice::sendAdapterSrb(SRB_COMMAND command, Prepare prepare)
{
    return sendAdapterRaw(
        command, [](HW_STREAM_REQUEST_BLOCK& srb, void* context) { (*static_cast<Prepare*>(context))(srb); },
        &prepare);
}

template <class Prepare>
SrbResult StreamClassStream::sendControl(SRB_COMMAND command, Prepare prepare)
{
    return sendControlRaw(
        command, [](HW_STREAM_REQUEST_BLOCK& srb, void* context) { (*static_cast<Prepare*>(context))(srb); },
        &prepare);
}

// The name of an SRB command ("SRB_READ_DATA"), for messages.
std::string srbCommandName(ULONG command);
// A GUID in registry form: "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}".
std::string guidText(const GUID& guid);

} // namespace korval::host
