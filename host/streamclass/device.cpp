// A device's life as the Plug and Play manager and the class drive it: add,
// start, power changes, surprise removal, stop and removal.
#include "host/kernel/bug_check.h"
#include "host/kernel/pool.h"
#include "host/streamclass/class_state.h"

namespace korval::host {

namespace {

constexpr CSHORT kIoTypeDevice = 3;

std::vector<std::shared_ptr<StreamClassStreamState>> openStreamsOf(StreamClassDeviceState& device)
{
    std::vector<std::shared_ptr<StreamClassStreamState>> open;
    std::lock_guard lock(device.mutex);
    for (const auto& weak : device.streams) {
        if (auto stream = weak.lock()) {
            open.push_back(stream);
        }
    }
    return open;
}

bool otherDeviceOfDriver(const StreamClassDeviceState& device)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    for (const auto& [extension, weak] : book.devicesByExtension) {
        auto other = weak.lock();
        if (other && other.get() != &device && other->driverObject == device.driverObject) {
            return true;
        }
    }
    return false;
}

// Every SRB of the device still in the book must be complete by now.
void checkNothingPending(const StreamClassDeviceState& device)
{
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    for (const auto& [srb, weak] : book.srbs) {
        auto record = weak.lock();
        if (record && record->device.get() == &device) {
            std::lock_guard recordLock(record->mutex);
            if (!record->completed) {
                bugCheck("stream class: " + record->describe() + " was never completed by the time the device was removed");
            }
        }
    }
}

void forgetDevice(StreamClassDeviceState& device)
{
    {
        std::lock_guard lock(device.mutex);
        device.removed = true;
        device.started = false;
    }
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.devicesByExtension.erase(device.extension.data());
}

// SRB_UNINITIALIZE_DEVICE, once per successful initialization.
NTSTATUS uninitialize(const std::shared_ptr<StreamClassDeviceState>& device)
{
    {
        std::lock_guard lock(device->mutex);
        if (!device->initialized) {
            return STATUS_SUCCESS;
        }
    }
    auto record = newSrb(device, nullptr, SrbKind::Adapter, SRB_UNINITIALIZE_DEVICE);
    const NTSTATUS status = dispatchAdapterSrb(record).status;
    std::lock_guard lock(device->mutex);
    device->initialized = false;
    device->started = false;
    return status;
}

} // namespace

const HW_STREAM_HEADER* StreamClassDeviceState::header() const
{
    if (descriptor.size() < sizeof(HW_STREAM_HEADER)) {
        return nullptr;
    }
    return static_cast<const HW_STREAM_HEADER*>(descriptor.data());
}

const HW_STREAM_INFORMATION* StreamClassDeviceState::information(ULONG stream) const
{
    const HW_STREAM_HEADER* streamHeader = header();
    if (streamHeader == nullptr || stream >= streamHeader->NumberOfStreams) {
        return nullptr;
    }
    auto* base = static_cast<const std::uint8_t*>(descriptor.data()) + sizeof(HW_STREAM_HEADER);
    return reinterpret_cast<const HW_STREAM_INFORMATION*>(base + stream * sizeof(HW_STREAM_INFORMATION));
}

StreamClassDevice::StreamClassDevice(std::shared_ptr<StreamClassDeviceState> state) : state_(std::move(state)) {}

std::unique_ptr<StreamClassDevice> StreamClassDevice::add(PVOID driverObject, PDEVICE_OBJECT physicalDeviceObject,
                                                          PDEVICE_OBJECT realPhysicalDeviceObject,
                                                          DeviceOptions options)
{
    requirePassiveLevel("add-device");
    const HW_INITIALIZATION_DATA* registration = registeredAdapter(driverObject);
    if (registration == nullptr) {
        bugCheck("stream class: add-device for driver " + pointerText(driverObject) + ", which has not registered");
    }
    auto state = std::make_shared<StreamClassDeviceState>();
    state->driverObject = driverObject;
    state->init = *registration;
    state->physicalDeviceObject = physicalDeviceObject;
    state->realPhysicalDeviceObject = realPhysicalDeviceObject;
    state->options = options;
    state->extension = AlignedBlock(std::max<ULONG>(state->init.DeviceExtensionSize, 1));
    DEVICE_OBJECT& object = state->classDeviceObject;
    object.Type = kIoTypeDevice;
    object.Size = sizeof(DEVICE_OBJECT);
    object.DriverObject = static_cast<PDRIVER_OBJECT>(driverObject);
    object.DeviceExtension = state->extension.data();
    object.DeviceType = FILE_DEVICE_KS;
    object.StackSize = 2;
    ClassBook& book = classBook();
    std::lock_guard lock(book.mutex);
    book.devicesByExtension[state->extension.data()] = state;
    return std::unique_ptr<StreamClassDevice>(new StreamClassDevice(state));
}

StreamClassDevice::~StreamClassDevice()
{
    bool removed;
    {
        std::lock_guard lock(state_->mutex);
        removed = state_->removed;
    }
    if (!removed) {
        remove();
    }
}

NTSTATUS StreamClassDevice::start()
{
    PORT_CONFIGURATION_INFORMATION config{};
    config.SizeOfThisPacket = sizeof(config);
    config.HwDeviceExtension = state_->extension.data();
    config.ClassDeviceObject = &state_->classDeviceObject;
    config.PhysicalDeviceObject = state_->physicalDeviceObject;
    config.RealPhysicalDeviceObject =
        state_->realPhysicalDeviceObject != nullptr ? state_->realPhysicalDeviceObject : state_->physicalDeviceObject;
    config.AdapterInterfaceType = PNPBus;
    const NTSTATUS initialized =
        sendAdapterSrb(SRB_INITIALIZE_DEVICE, [&](HW_STREAM_REQUEST_BLOCK& srb) { srb.CommandData.ConfigInfo = &config; })
            .status;
    if (!NT_SUCCESS(initialized)) {
        return initialized;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->initialized = true;
        state_->descriptor = AlignedBlock(config.StreamDescriptorSize);
    }
    const NTSTATUS described = refreshStreamInfo();
    if (!NT_SUCCESS(described)) {
        uninitialize(state_);
        return described;
    }
    const NTSTATUS completed = sendAdapterSrb(SRB_INITIALIZATION_COMPLETE, [](HW_STREAM_REQUEST_BLOCK&) {}).status;
    std::lock_guard lock(state_->mutex);
    state_->initializationCompleteStatus = completed;
    state_->started = true;
    return completed;
}

NTSTATUS StreamClassDevice::setPowerState(DEVICE_POWER_STATE powerState)
{
    return sendAdapterSrb(SRB_CHANGE_POWER_STATE, [&](HW_STREAM_REQUEST_BLOCK& srb) {
               srb.CommandData.DeviceState = powerState;
           }).status;
}

void StreamClassDevice::surpriseRemove()
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->surpriseRemoved || state_->removed) {
            return;
        }
        state_->surpriseRemoved = true;
    }
    sendAdapterSrb(SRB_SURPRISE_REMOVAL, [](HW_STREAM_REQUEST_BLOCK&) {});
}

NTSTATUS StreamClassDevice::stop()
{
    for (const auto& stream : openStreamsOf(*state_)) {
        StreamClassStream(stream).close(state_->options.patience);
    }
    return uninitialize(state_);
}

void StreamClassDevice::remove()
{
    bool initialized;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->removed) {
            return;
        }
        initialized = state_->initialized;
    }
    if (initialized) {
        surpriseRemove();
    }
    closeStreamsAndEvents();
    uninitialize(state_);
    checkNothingPending(*state_);
    forgetDevice(*state_);
    if (state_->options.leakCheckTag && !otherDeviceOfDriver(*state_)) {
        checkNoPoolLeaks(*state_->options.leakCheckTag);
    }
}

void StreamClassDevice::closeStreamsAndEvents()
{
    for (const auto& stream : openStreamsOf(*state_)) {
        StreamClassStream(stream).close(state_->options.patience);
    }
    std::vector<std::shared_ptr<DeviceEventState>> events;
    {
        std::lock_guard lock(state_->mutex);
        events = state_->events;
    }
    for (const auto& event : events) {
        DeviceEvent(event).disable();
    }
}

bool StreamClassDevice::started() const
{
    std::lock_guard lock(state_->mutex);
    return state_->started;
}

PVOID StreamClassDevice::deviceExtension() const
{
    return state_->extension.data();
}

PDEVICE_OBJECT StreamClassDevice::classDeviceObject() const
{
    return &state_->classDeviceObject;
}

PDEVICE_OBJECT StreamClassDevice::physicalDeviceObject() const
{
    return state_->physicalDeviceObject;
}

NTSTATUS StreamClassDevice::initializationCompleteStatus() const
{
    std::lock_guard lock(state_->mutex);
    return state_->initializationCompleteStatus;
}

SrbResult StreamClassDevice::sendAdapterRaw(SRB_COMMAND command, void (*prepare)(HW_STREAM_REQUEST_BLOCK&, void*),
                                            void* context)
{
    auto record = newSrb(state_, nullptr, SrbKind::Adapter, command);
    prepare(record->srb, context);
    return dispatchAdapterSrb(record);
}

} // namespace korval::host
