// What a client asks of a started device: stream information and formats,
// data intersection, stream open, device properties and device events.
#include "host/kernel/bug_check.h"
#include "host/streamclass/class_state.h"

namespace korval::host {

namespace {

void checkDescriptor(const AlignedBlock& answer)
{
    if (answer.size() < sizeof(HW_STREAM_HEADER)) {
        bugCheck("stream class: SRB_GET_STREAM_INFO succeeded into a buffer of " + std::to_string(answer.size()) +
                 " bytes, too small for HW_STREAM_HEADER (StreamDescriptorSize)");
    }
    const auto* header = static_cast<const HW_STREAM_HEADER*>(answer.data());
    if (header->NumberOfStreams > 0 && header->SizeOfHwStreamInformation != sizeof(HW_STREAM_INFORMATION)) {
        bugCheck("stream class: SizeOfHwStreamInformation is " + std::to_string(header->SizeOfHwStreamInformation) +
                 ", not sizeof(HW_STREAM_INFORMATION) = " + std::to_string(sizeof(HW_STREAM_INFORMATION)));
    }
    const std::size_t needed = sizeof(HW_STREAM_HEADER) + header->NumberOfStreams * sizeof(HW_STREAM_INFORMATION);
    if (needed > answer.size()) {
        bugCheck("stream class: " + std::to_string(header->NumberOfStreams) + " streams need " +
                 std::to_string(needed) + " bytes of stream information, StreamDescriptorSize is " +
                 std::to_string(answer.size()));
    }
}

const HW_STREAM_HEADER& emptyHeader()
{
    static const HW_STREAM_HEADER header{};
    return header;
}

} // namespace

NTSTATUS StreamClassDevice::refreshStreamInfo()
{
    std::size_t size;
    {
        std::lock_guard lock(state_->mutex);
        size = state_->descriptor.size();
    }
    AlignedBlock answer(size);
    const SrbResult result = sendAdapterSrb(SRB_GET_STREAM_INFO, [&](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.StreamBuffer = static_cast<PHW_STREAM_DESCRIPTOR>(answer.data());
        srb.NumberOfBytesToTransfer = static_cast<ULONG>(size);
    });
    if (!NT_SUCCESS(result.status)) {
        return result.status;
    }
    checkDescriptor(answer);
    std::lock_guard lock(state_->mutex);
    state_->descriptor = std::move(answer);
    return result.status;
}

const HW_STREAM_HEADER& StreamClassDevice::streamHeader() const
{
    std::lock_guard lock(state_->mutex);
    const HW_STREAM_HEADER* header = state_->header();
    return header != nullptr ? *header : emptyHeader();
}

const HW_STREAM_INFORMATION& StreamClassDevice::streamInformation(ULONG stream) const
{
    std::lock_guard lock(state_->mutex);
    const HW_STREAM_INFORMATION* information = state_->information(stream);
    if (information == nullptr) {
        bugCheck("stream class client: no stream information for stream " + std::to_string(stream));
    }
    return *information;
}

std::vector<FormatBytes> StreamClassDevice::streamFormats(ULONG stream) const
{
    const HW_STREAM_INFORMATION& information = streamInformation(stream);
    std::vector<FormatBytes> formats;
    for (ULONG i = 0; information.StreamFormatsArray != nullptr && i < information.NumberOfFormatArrayEntries; ++i) {
        const KSDATAFORMAT* range = information.StreamFormatsArray[i];
        if (range == nullptr) {
            continue;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(range);
        FormatBytes format;
        format.bytes.assign(bytes, bytes + std::max<ULONG>(range->FormatSize, sizeof(KSDATAFORMAT)));
        formats.push_back(std::move(format));
    }
    return formats;
}

IntersectionResult StreamClassDevice::dataIntersectionWithBuffer(ULONG stream, const FormatBytes& range,
                                                                 ULONG bufferSize)
{
    IntersectionResult result;
    if (range.bytes.size() < sizeof(KSDATARANGE)) {
        result.status = result.sizeQueryStatus = STATUS_INVALID_PARAMETER;
        return result;
    }
    AlignedBlock proposed(range.bytes.size());
    std::memcpy(proposed.data(), range.bytes.data(), range.bytes.size());
    AlignedBlock output(bufferSize);
    STREAM_DATA_INTERSECT_INFO info{stream, static_cast<PKSDATARANGE>(proposed.data()), output.data(), bufferSize};
    const SrbResult answer = sendAdapterSrb(SRB_GET_DATA_INTERSECTION, [&](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.IntersectInfo = &info;
        srb.NumberOfBytesToTransfer = bufferSize;
    });
    result.status = result.sizeQueryStatus = answer.status;
    result.sizeNeeded = answer.actualBytesTransferred;
    if (NT_SUCCESS(answer.status)) {
        if (answer.actualBytesTransferred > bufferSize) {
            bugCheck("stream class: SRB_GET_DATA_INTERSECTION succeeded with " +
                     std::to_string(answer.actualBytesTransferred) + " bytes into a buffer of " +
                     std::to_string(bufferSize));
        }
        const auto* bytes = static_cast<const std::uint8_t*>(output.data());
        result.format.bytes.assign(bytes, bytes + answer.actualBytesTransferred);
    }
    const auto* proposedBytes = static_cast<const std::uint8_t*>(proposed.data());
    result.proposedRange.bytes.assign(proposedBytes, proposedBytes + proposed.size());
    return result;
}

IntersectionResult StreamClassDevice::dataIntersection(ULONG stream, const FormatBytes& range)
{
    IntersectionResult query = dataIntersectionWithBuffer(stream, range, 0);
    if (query.status != STATUS_BUFFER_OVERFLOW || query.sizeNeeded == 0) {
        return query;
    }
    IntersectionResult answer = dataIntersectionWithBuffer(stream, range, query.sizeNeeded);
    answer.sizeQueryStatus = query.status;
    answer.sizeNeeded = query.sizeNeeded;
    return answer;
}

namespace {

// The class's own refusals of an open; STATUS_SUCCESS lets it reach the minidriver.
NTSTATUS checkOpen(const StreamClassDeviceState& device, ULONG streamNumber, const FormatBytes& format)
{
    std::lock_guard lock(device.mutex);
    if (!device.started || device.surpriseRemoved || device.removed) {
        return STATUS_DEVICE_NOT_READY;
    }
    const HW_STREAM_INFORMATION* information = device.information(streamNumber);
    if (information == nullptr || format.bytes.size() < sizeof(KSDATAFORMAT) ||
        format.header().FormatSize > format.bytes.size()) {
        return STATUS_INVALID_PARAMETER;
    }
    std::size_t instances = 0;
    for (const auto& weak : device.streams) {
        auto open = weak.lock();
        instances += open && open->object.StreamNumber == streamNumber ? 1 : 0;
    }
    if (device.options.enforceInstanceLimit && instances >= information->NumberOfPossibleInstances) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    return STATUS_SUCCESS;
}

std::shared_ptr<StreamClassStreamState> newStream(const std::shared_ptr<StreamClassDeviceState>& device,
                                                  ULONG streamNumber)
{
    auto stream = std::make_shared<StreamClassStreamState>();
    stream->device = device;
    stream->extension = AlignedBlock(device->init.PerStreamExtensionSize);
    stream->object.SizeOfThisPacket = sizeof(HW_STREAM_OBJECT);
    stream->object.StreamNumber = streamNumber;
    stream->object.HwStreamExtension = stream->extension.data();
    stream->object.HwDeviceExtension = device->extension.data();
    return stream;
}

void listOpenStream(StreamClassDeviceState& device, const std::shared_ptr<StreamClassStreamState>& stream)
{
    if (stream->object.ReceiveDataPacket == nullptr || stream->object.ReceiveControlPacket == nullptr) {
        bugCheck("stream class: SRB_OPEN_STREAM succeeded without ReceiveDataPacket and ReceiveControlPacket");
    }
    {
        ClassBook& book = classBook();
        std::lock_guard lock(book.mutex);
        book.openStreams[&stream->object] = stream;
    }
    std::lock_guard lock(device.mutex);
    device.streams.push_back(stream);
}

} // namespace

std::unique_ptr<StreamClassStream> StreamClassDevice::openStream(ULONG streamNumber, const FormatBytes& format,
                                                                 NTSTATUS* status)
{
    NTSTATUS ignored;
    NTSTATUS& result = status != nullptr ? *status : ignored;
    result = checkOpen(*state_, streamNumber, format);
    if (!NT_SUCCESS(result)) {
        return nullptr;
    }
    auto stream = newStream(state_, streamNumber);
    AlignedBlock formatCopy(format.bytes.size());
    std::memcpy(formatCopy.data(), format.bytes.data(), format.bytes.size());
    auto record = newSrb(state_, stream, SrbKind::Adapter, SRB_OPEN_STREAM);
    record->srb.CommandData.OpenFormat = static_cast<PKSDATAFORMAT>(formatCopy.data());
    record->srb.NumberOfBytesToTransfer = static_cast<ULONG>(format.bytes.size());
    result = dispatchAdapterSrb(record).status;
    if (!NT_SUCCESS(result)) {
        return nullptr;
    }
    listOpenStream(*state_, stream);
    return std::unique_ptr<StreamClassStream>(new StreamClassStream(stream));
}

namespace {

PropertyResult deviceProperty(const std::shared_ptr<StreamClassDeviceState>& device, const PropertyRequest& request,
                              bool isSet)
{
    const KSPROPERTY_SET* sets;
    ULONG count;
    {
        std::lock_guard lock(device->mutex);
        const HW_STREAM_HEADER* header = device->header();
        sets = header != nullptr ? header->DevicePropertiesArray : nullptr;
        count = header != nullptr ? header->NumDevPropArrayEntries : 0;
    }
    ULONG setIndex = 0;
    if (auto refused = refuseProperty(sets, count, request, isSet, &setIndex)) {
        return *refused;
    }
    auto record = newSrb(device, nullptr, SrbKind::Adapter, isSet ? SRB_SET_DEVICE_PROPERTY : SRB_GET_DEVICE_PROPERTY);
    PropertyBuffers buffers;
    preparePropertySrb(record->srb, setIndex, request, buffers);
    return finishPropertySrb(*record, buffers, dispatchAdapterSrb(record));
}

} // namespace

PropertyResult StreamClassDevice::getProperty(PropertyRequest request)
{
    return deviceProperty(state_, request, false);
}

PropertyResult StreamClassDevice::setProperty(PropertyRequest request)
{
    return deviceProperty(state_, request, true);
}

std::optional<PropertyDescription> StreamClassDevice::describeProperty(const GUID& set, ULONG id) const
{
    std::lock_guard lock(state_->mutex);
    const HW_STREAM_HEADER* header = state_->header();
    if (header == nullptr) {
        return std::nullopt;
    }
    const KSPROPERTY_SET* found = findPropertySet(header->DevicePropertiesArray, header->NumDevPropArrayEntries, set, nullptr);
    const KSPROPERTY_ITEM* item = found != nullptr ? findPropertyItem(*found, id) : nullptr;
    if (item == nullptr) {
        return std::nullopt;
    }
    return describeItem(*item);
}

} // namespace korval::host
