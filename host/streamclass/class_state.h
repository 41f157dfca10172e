// Inside the emulated stream class: the records behind devices, streams, SRBs,
// events and clocks, and the process-wide book of what is alive, which the
// notification calls consult to catch a minidriver's mistakes.
#pragma once

#include "host/streamclass/stream_class.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korval::host {

enum class SrbKind { Adapter, StreamControl, StreamData };

// Zero-filled memory of a given size, aligned for any record.
class AlignedBlock {
public:
    AlignedBlock() = default;
    explicit AlignedBlock(std::size_t bytes) : bytes_(bytes), words_(new std::uint64_t[(bytes + 7) / 8 + 1]())
    {
    }
    void* data() const { return bytes_ == 0 ? nullptr : words_.get(); }
    std::size_t size() const { return bytes_; }

private:
    std::size_t bytes_ = 0;
    std::unique_ptr<std::uint64_t[]> words_;
};

struct SrbRecord {
    HW_STREAM_REQUEST_BLOCK srb{};
    SrbKind kind = SrbKind::Adapter;
    std::shared_ptr<StreamClassDeviceState> device;
    std::shared_ptr<StreamClassStreamState> stream; // null for adapter SRBs
    AlignedBlock extension;                          // the per-request extension
    AlignedBlock headerBlock;                        // reads: KSSTREAM_HEADER + media-specific + workspace
    std::vector<std::uint8_t> buffer;                // reads: the data buffer

    mutable std::mutex mutex;
    mutable std::condition_variable done;
    bool delivered = false;  // handed to the minidriver
    bool completed = false;
    std::uint64_t completionOrder = 0;

    ~SrbRecord();
    std::string describe() const;
    bool waitCompleted(std::chrono::milliseconds timeout) const;
};

struct DeviceEventState {
    KSEVENT_ENTRY entry{};
    KSEVENTDATA data{};
    std::weak_ptr<StreamClassDeviceState> device;
    GUID set{};
    ULONG id = 0;
    ULONG setIndex = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable signalled;
    std::uint64_t signals = 0;
    bool enabled = false;
};

struct MasterClockState {
    mutable std::mutex mutex;
    bool following = true;
    std::int64_t origin = 0; // platform time at which the stream time was `base`
    std::int64_t base = 0;
    std::uint64_t queries = 0;

    std::int64_t streamTime() const;
};

struct StreamClassStreamState {
    std::shared_ptr<StreamClassDeviceState> device;
    HW_STREAM_OBJECT object{};
    AlignedBlock extension;
    std::shared_ptr<MasterClock> clock;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<SrbRecord>> outstanding; // issued, not yet completed
    std::deque<std::shared_ptr<SrbRecord>> toDeliver;    // reads waiting for the sequential thread
    ReadDelivery delivery = ReadDelivery::Sequential;
    std::thread sequentialThread;
    std::vector<std::thread> concurrentThreads;
    bool stopDelivery = false;
    bool closing = false; // reads not yet handed over are cancelled by the class
    bool open = true;
};

struct StreamClassDeviceState {
    PVOID driverObject = nullptr;
    HW_INITIALIZATION_DATA init{};
    DEVICE_OBJECT classDeviceObject{};
    PDEVICE_OBJECT physicalDeviceObject = nullptr;
    PDEVICE_OBJECT realPhysicalDeviceObject = nullptr;
    AlignedBlock extension;
    DeviceOptions options;

    // Serializes HwCancelPacket with completions, as the class's own lock does.
    std::recursive_mutex cancelLock;

    mutable std::mutex mutex;
    bool initialized = false; // SRB_INITIALIZE_DEVICE succeeded, no uninitialize since
    bool started = false;
    bool surpriseRemoved = false;
    bool removed = false;
    NTSTATUS initializationCompleteStatus = STATUS_SUCCESS;
    AlignedBlock descriptor; // the last stream information answer
    std::vector<std::weak_ptr<StreamClassStreamState>> streams;
    std::vector<std::shared_ptr<DeviceEventState>> events;
    std::uint64_t unmatchedSignals = 0;

    const HW_STREAM_HEADER* header() const;
    const HW_STREAM_INFORMATION* information(ULONG stream) const;
};

// The process-wide book.
struct ClassBook {
    std::mutex mutex;
    std::map<PVOID, HW_INITIALIZATION_DATA> registrations;
    bool failNextRegistration = false;
    NTSTATUS nextRegistrationStatus = STATUS_SUCCESS;
    std::map<PVOID, std::weak_ptr<StreamClassDeviceState>> devicesByExtension;
    std::map<PHW_STREAM_OBJECT, std::weak_ptr<StreamClassStreamState>> openStreams;
    std::map<PHW_STREAM_REQUEST_BLOCK, std::weak_ptr<SrbRecord>> srbs;
    std::map<HANDLE, std::weak_ptr<MasterClockState>> clocks;
    std::uint64_t completions = 0;
};
ClassBook& classBook();

// SRBs: creation (registered in the book), hand-over checks and completion.
std::shared_ptr<SrbRecord> newSrb(const std::shared_ptr<StreamClassDeviceState>& device,
                                  const std::shared_ptr<StreamClassStreamState>& stream, SrbKind kind,
                                  SRB_COMMAND command);
// Calls HwReceivePacket at PASSIVE_LEVEL and insists on completion before it returns.
SrbResult dispatchAdapterSrb(const std::shared_ptr<SrbRecord>& record);
// Completion of an SRB by the class itself (a read that never reached the minidriver).
void completeByClass(const std::shared_ptr<SrbRecord>& record, NTSTATUS status);
// Completion notified by the minidriver (DeviceRequestComplete: `streamObject`
// null; StreamRequestComplete: `deviceExtension` null).
void completeFromMinidriver(PHW_STREAM_REQUEST_BLOCK srb, PVOID deviceExtension, PHW_STREAM_OBJECT streamObject);
void requirePassiveLevel(const char* what);

// Property tables published by a minidriver.
const KSPROPERTY_SET* findPropertySet(const KSPROPERTY_SET* sets, ULONG count, const GUID& set, ULONG* index);
const KSPROPERTY_ITEM* findPropertyItem(const KSPROPERTY_SET& set, ULONG id);
PropertyDescription describeItem(const KSPROPERTY_ITEM& item);
// Refusals the class makes before a property reaches the minidriver; nullopt to pass it on.
std::optional<PropertyResult> refuseProperty(const KSPROPERTY_SET* sets, ULONG count, const PropertyRequest& request,
                                             bool isSet, ULONG* setIndex);

// The buffers of one property request while the minidriver works on it.
struct PropertyBuffers {
    AlignedBlock input;
    AlignedBlock data;
    STREAM_PROPERTY_DESCRIPTOR descriptor{};
};
void preparePropertySrb(HW_STREAM_REQUEST_BLOCK& srb, ULONG setIndex, const PropertyRequest& request,
                        PropertyBuffers& buffers);
PropertyResult finishPropertySrb(const SrbRecord& record, const PropertyBuffers& buffers, SrbResult result);

std::string pointerText(const void* pointer);

} // namespace korval::host
