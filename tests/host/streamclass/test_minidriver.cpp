#include "test_minidriver.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace korval::test {

namespace {

constexpr ULONG kI420Fourcc = 0x30323449;
constexpr ULONG kDescriptorSize = sizeof(HW_STREAM_HEADER) + sizeof(HW_STREAM_INFORMATION);

KS_DATARANGE_VIDEO makeRange(const GUID& subFormat, WORD bitCount, DWORD compression)
{
    KS_DATARANGE_VIDEO range{};
    const DWORD imageSize = kFrameWidth * kFrameHeight * bitCount / 8;
    range.DataRange.FormatSize = sizeof(KS_DATARANGE_VIDEO);
    range.DataRange.SampleSize = imageSize;
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    range.DataRange.SubFormat = subFormat;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    range.bFixedSizeSamples = TRUE;
    range.ConfigCaps.guid = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    range.ConfigCaps.MinFrameInterval = 333333;
    range.ConfigCaps.MaxFrameInterval = 3333333;
    range.VideoInfoHeader.AvgTimePerFrame = 333333;
    KS_BITMAPINFOHEADER& bitmap = range.VideoInfoHeader.bmiHeader;
    bitmap.biSize = sizeof(KS_BITMAPINFOHEADER);
    bitmap.biWidth = kFrameWidth;
    bitmap.biHeight = kFrameHeight;
    bitmap.biPlanes = 1;
    bitmap.biBitCount = bitCount;
    bitmap.biCompression = compression;
    bitmap.biSizeImage = imageSize;
    return range;
}

struct Tables {
    PKSDATAFORMAT formats[2];
    KSPROPERTY_ITEM streamItems[1];
    KSPROPERTY_SET streamSets[1];
    KSPROPERTY_STEPPING_LONG brightnessRange;
    LONG brightnessDefault;
    KSPROPERTY_MEMBERSLIST brightnessMembers[2];
    KSPROPERTY_VALUES brightnessValues;
    KSPROPERTY_ITEM deviceItems[2];
    KSPROPERTY_SET deviceSets[1];
    KSEVENT_ITEM eventItems[1];
    KSEVENT_SET eventSets[1];
    GUID categories[2];
    KSTOPOLOGY topology;
};

PFNKSHANDLER supported()
{
    return reinterpret_cast<PFNKSHANDLER>(static_cast<ULONG_PTR>(TRUE));
}

Tables buildTables()
{
    Tables tables{};
    tables.formats[0] = const_cast<PKSDATAFORMAT>(&testRgbRange().DataRange);
    tables.formats[1] = const_cast<PKSDATAFORMAT>(&testI420Range().DataRange);

    tables.streamItems[0].PropertyId = KSPROPERTY_CONNECTION_ALLOCATORFRAMING;
    tables.streamItems[0].GetPropertyHandler = supported();
    tables.streamItems[0].MinProperty = sizeof(KSPROPERTY);
    tables.streamItems[0].MinData = sizeof(KSALLOCATOR_FRAMING);
    tables.streamSets[0] = {&KSPROPSETID_Connection, 1, tables.streamItems, 0, nullptr};

    tables.brightnessRange = {1, 0, {{0, 100}}};
    tables.brightnessDefault = 50;
    tables.brightnessMembers[0] = {{KSPROPERTY_MEMBER_STEPPEDRANGES, sizeof(KSPROPERTY_STEPPING_LONG), 1, 0},
                                   nullptr};
    tables.brightnessMembers[1] = {{KSPROPERTY_MEMBER_VALUES, sizeof(LONG), 1, KSPROPERTY_MEMBER_FLAG_DEFAULT},
                                   nullptr};
    tables.deviceItems[0].PropertyId = KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS;
    tables.deviceItems[0].GetPropertyHandler = supported();
    tables.deviceItems[0].SetPropertyHandler = supported();
    tables.deviceItems[0].MinProperty = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    tables.deviceItems[0].MinData = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    tables.deviceItems[0].SerializedSize = sizeof(ULONG);
    tables.deviceItems[1].PropertyId = KSPROPERTY_VIDEOPROCAMP_CONTRAST;
    tables.deviceItems[1].GetPropertyHandler = supported();
    tables.deviceItems[1].MinProperty = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    tables.deviceItems[1].MinData = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    tables.deviceSets[0] = {&PROPSETID_VIDCAP_VIDEOPROCAMP, 2, tables.deviceItems, 0, nullptr};

    tables.eventItems[0] = {KSEVENT_VIDCAPTOSTI_EXT_TRIGGER, 0, 0, nullptr, nullptr, nullptr};
    tables.eventSets[0] = {&KSEVENTSETID_VIDCAPTOSTI, 1, tables.eventItems};
    tables.categories[0] = KSCATEGORY_VIDEO;
    tables.categories[1] = KSCATEGORY_CAPTURE;
    tables.topology.CategoriesCount = 2;
    return tables;
}

// Built once; the records point into each other, so they are linked in place.
Tables& tables()
{
    static Tables built;
    static std::once_flag once;
    std::call_once(once, [] {
        built = buildTables();
        built.brightnessMembers[0].Members = &built.brightnessRange;
        built.brightnessMembers[1].Members = &built.brightnessDefault;
        built.brightnessValues = {{}, 2, built.brightnessMembers};
        built.deviceItems[0].Values = &built.brightnessValues;
        built.streamSets[0].PropertyItem = built.streamItems;
        built.deviceSets[0].PropertyItem = built.deviceItems;
        built.eventSets[0].EventItem = built.eventItems;
        built.topology.Categories = built.categories;
    });
    return built;
}

void noteIrql(TestDevice* device)
{
    const int irql = KeGetCurrentIrql();
    int seen = device->highestIrql.load();
    while (irql > seen && !device->highestIrql.compare_exchange_weak(seen, irql)) {
    }
}

bool isOffered(const KSDATAFORMAT& format)
{
    return format.SubFormat == MEDIASUBTYPE_RGB24 || format.SubFormat == MEDIASUBTYPE_I420;
}

void completeStreamSrb(PHW_STREAM_REQUEST_BLOCK srb, NTSTATUS status)
{
    srb->Status = status;
    StreamClassStreamNotification(StreamRequestComplete, srb->StreamObject, srb);
}

void completeEmptyRead(PHW_STREAM_REQUEST_BLOCK srb, NTSTATUS status)
{
    srb->CommandData.DataBufferArray->DataUsed = 0;
    completeStreamSrb(srb, status);
}

VOID STREAMAPI TestReceiveData(PHW_STREAM_REQUEST_BLOCK srb)
{
    TestDevice* device = testExtension(srb->HwDeviceExtension)->Device;
    noteIrql(device);
    if (srb->Command != SRB_READ_DATA) {
        completeStreamSrb(srb, STATUS_NOT_SUPPORTED);
        return;
    }
    {
        std::lock_guard lock(device->mutex);
        if (device->state >= KSSTATE_PAUSE) {
            device->reads.push_back(srb);
            return;
        }
    }
    completeEmptyRead(srb, STATUS_SUCCESS);
}

NTSTATUS setStreamState(TestDevice* device, KSSTATE state)
{
    std::deque<PHW_STREAM_REQUEST_BLOCK> cancelled;
    {
        std::lock_guard lock(device->mutex);
        device->state = state;
        if (state == KSSTATE_STOP) {
            cancelled.swap(device->reads);
            device->pictureNumber = 0;
        }
    }
    for (PHW_STREAM_REQUEST_BLOCK read : cancelled) {
        completeEmptyRead(read, STATUS_CANCELLED);
    }
    return STATUS_SUCCESS;
}

NTSTATUS allocatorFraming(TestDevice* device, PHW_STREAM_REQUEST_BLOCK srb)
{
    PSTREAM_PROPERTY_DESCRIPTOR property = srb->CommandData.PropertyInfo;
    if (property->PropertyOutputSize < sizeof(KSALLOCATOR_FRAMING)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* framing = static_cast<PKSALLOCATOR_FRAMING>(property->PropertyInfo);
    *framing = {};
    framing->Frames = 3;
    framing->FrameSize = device->frameBytes;
    srb->ActualBytesTransferred = sizeof(KSALLOCATOR_FRAMING);
    return STATUS_SUCCESS;
}

VOID STREAMAPI TestReceiveControl(PHW_STREAM_REQUEST_BLOCK srb)
{
    TestDevice* device = testExtension(srb->HwDeviceExtension)->Device;
    noteIrql(device);
    {
        std::lock_guard lock(device->mutex);
        device->streamCommands.push_back(srb->Command);
    }
    NTSTATUS status = STATUS_NOT_IMPLEMENTED;
    switch (srb->Command) {
    case SRB_SET_STREAM_STATE:
        status = setStreamState(device, srb->CommandData.StreamState);
        break;
    case SRB_GET_STREAM_STATE: {
        std::lock_guard lock(device->mutex);
        srb->CommandData.StreamState = device->state;
        srb->ActualBytesTransferred = sizeof(KSSTATE);
        status = device->state == KSSTATE_PAUSE ? STATUS_NO_DATA_DETECTED : STATUS_SUCCESS;
        break;
    }
    case SRB_INDICATE_MASTER_CLOCK: {
        std::lock_guard lock(device->mutex);
        device->masterClock = srb->CommandData.MasterClockHandle;
        status = STATUS_SUCCESS;
        break;
    }
    case SRB_GET_STREAM_PROPERTY:
        status = allocatorFraming(device, srb);
        break;
    case SRB_PROPOSE_DATA_FORMAT:
        status = isOffered(*srb->CommandData.OpenFormat) ? STATUS_SUCCESS : STATUS_NO_MATCH;
        break;
    default:
        break;
    }
    completeStreamSrb(srb, status);
}

VOID STREAMAPI TestCancelPacket(PHW_STREAM_REQUEST_BLOCK srb)
{
    TestDevice* device = testExtension(srb->HwDeviceExtension)->Device;
    if (testDriverSettings().fault == Fault::IgnoreCancel) {
        return;
    }
    {
        std::lock_guard lock(device->mutex);
        auto found = std::find(device->reads.begin(), device->reads.end(), srb);
        if (found == device->reads.end()) {
            return;
        }
        device->reads.erase(found);
        device->cancelled.push_back(srb);
    }
    completeEmptyRead(srb, STATUS_CANCELLED);
}

NTSTATUS STREAMAPI TestDeviceEvent(PHW_EVENT_DESCRIPTOR descriptor)
{
    auto* extension = reinterpret_cast<TestDeviceExtension*>(descriptor->DeviceExtension);
    const NTSTATUS status = testDriverSettings().eventRoutineStatus;
    if (descriptor->Enable && !NT_SUCCESS(status)) {
        return status;
    }
    std::atomic_ref<LONG> count(extension->EventEnableCount);
    count += descriptor->Enable ? 1 : -1;
    return STATUS_SUCCESS;
}

NTSTATUS initializeDevice(TestDeviceExtension* extension, PHW_STREAM_REQUEST_BLOCK srb)
{
    if (extension->Device == nullptr) {
        const auto* bytes = reinterpret_cast<const UCHAR*>(extension);
        extension->WasZeroAtInitialize =
            std::all_of(bytes, bytes + sizeof(TestDeviceExtension), [](UCHAR byte) { return byte == 0; });
        void* memory = ExAllocatePoolWithTag(NonPagedPool, sizeof(TestDevice), kTestPoolTag);
        if (memory == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        extension->Device = new (memory) TestDevice();
    } else {
        ++extension->SecondInitializeCount;
    }
    PPORT_CONFIGURATION_INFORMATION config = srb->CommandData.ConfigInfo;
    extension->ClassDeviceObject = config->ClassDeviceObject;
    extension->PhysicalDeviceObject = config->PhysicalDeviceObject;
    extension->RealPhysicalDeviceObject = config->RealPhysicalDeviceObject;
    config->StreamDescriptorSize = kDescriptorSize;
    const NTSTATUS status = testDriverSettings().initializeStatus;
    if (!NT_SUCCESS(status) && extension->SecondInitializeCount == 0) {
        extension->Device->~TestDevice();
        ExFreePoolWithTag(extension->Device, kTestPoolTag);
        extension->Device = nullptr;
    }
    return status;
}

void uninitializeDevice(TestDeviceExtension* extension)
{
    if (extension->Device == nullptr || testDriverSettings().fault == Fault::LeakOnUninitialize) {
        return;
    }
    extension->Device->~TestDevice();
    ExFreePoolWithTag(extension->Device, kTestPoolTag);
    extension->Device = nullptr;
}

NTSTATUS streamInformation(TestDevice* device, PHW_STREAM_REQUEST_BLOCK srb)
{
    device->streamInfoBufferSize = srb->NumberOfBytesToTransfer;
    if (srb->NumberOfBytesToTransfer < kDescriptorSize) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (!NT_SUCCESS(testDriverSettings().streamInfoStatus)) {
        return testDriverSettings().streamInfoStatus;
    }
    Tables& table = tables();
    HW_STREAM_HEADER& header = srb->CommandData.StreamBuffer->StreamHeader;
    header.NumberOfStreams = 1;
    header.SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION);
    header.NumDevPropArrayEntries = 1;
    header.DevicePropertiesArray = table.deviceSets;
    header.NumDevEventArrayEntries = 1;
    header.DeviceEventsArray = table.eventSets;
    header.Topology = &table.topology;
    header.DeviceEventRoutine = TestDeviceEvent;
    HW_STREAM_INFORMATION& info = srb->CommandData.StreamBuffer->StreamInfo;
    info.NumberOfPossibleInstances = 1;
    info.DataFlow = KSPIN_DATAFLOW_OUT;
    info.DataAccessible = TRUE;
    info.NumberOfFormatArrayEntries = 2;
    info.StreamFormatsArray = table.formats;
    info.NumStreamPropArrayEntries = 1;
    info.StreamPropertiesArray = table.streamSets;
    info.Category = const_cast<GUID*>(&PINNAME_VIDEO_CAPTURE);
    info.Name = const_cast<GUID*>(&PINNAME_VIDEO_CAPTURE);
    return STATUS_SUCCESS;
}

NTSTATUS openStream(TestDevice* device, PHW_STREAM_REQUEST_BLOCK srb)
{
    const KSDATAFORMAT& format = *srb->CommandData.OpenFormat;
    std::lock_guard lock(device->mutex);
    if (device->streamOpen || !isOffered(format) || format.FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto& video = *reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(&format);
    PHW_STREAM_OBJECT stream = srb->StreamObject;
    stream->ReceiveDataPacket = TestReceiveData;
    stream->ReceiveControlPacket = TestReceiveControl;
    stream->StreamHeaderMediaSpecific = sizeof(KS_FRAME_INFO);
    stream->Pio = testDriverSettings().pio ? TRUE : FALSE;
    device->frameBytes = video.VideoInfoHeader.bmiHeader.biSizeImage;
    device->streamOpen = true;
    device->stream = stream;
    device->state = KSSTATE_STOP;
    device->masterClock = nullptr;
    return STATUS_SUCCESS;
}

NTSTATUS dataIntersection(PHW_STREAM_REQUEST_BLOCK srb)
{
    PSTREAM_DATA_INTERSECT_INFO info = srb->CommandData.IntersectInfo;
    if (info->StreamNumber != 0) {
        return STATUS_NOT_SUPPORTED;
    }
    auto* range = reinterpret_cast<PKS_DATARANGE_VIDEO>(info->DataRange);
    if (!isOffered(range->DataRange)) {
        return STATUS_NO_MATCH;
    }
    if (range->VideoInfoHeader.AvgTimePerFrame == 0) {
        range->VideoInfoHeader.AvgTimePerFrame = 333333;
    }
    const ULONG size = sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);
    if (info->SizeOfDataFormatBuffer == 0) {
        srb->ActualBytesTransferred = size;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (info->SizeOfDataFormatBuffer < size) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* answer = static_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(info->DataFormatBuffer);
    answer->DataFormat = range->DataRange;
    answer->DataFormat.FormatSize = size;
    answer->VideoInfoHeader = range->VideoInfoHeader;
    srb->ActualBytesTransferred = size;
    return STATUS_SUCCESS;
}

NTSTATUS deviceProperty(TestDevice* device, PHW_STREAM_REQUEST_BLOCK srb, bool isSet)
{
    PSTREAM_PROPERTY_DESCRIPTOR property = srb->CommandData.PropertyInfo;
    const ULONG needed = sizeof(KSPROPERTY_VIDEOPROCAMP_S);
    if (!isSet && property->PropertyOutputSize == 0) {
        srb->ActualBytesTransferred = needed;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (property->PropertyOutputSize < needed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* value = static_cast<PKSPROPERTY_VIDEOPROCAMP_S>(property->PropertyInfo);
    std::lock_guard lock(device->mutex);
    if (isSet) {
        device->brightness = value->Value;
        return STATUS_SUCCESS;
    }
    const bool brightness = property->Property->Id == KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS;
    value->Value = brightness ? device->brightness : 7;
    value->Flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    value->Capabilities = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL;
    srb->ActualBytesTransferred = needed;
    return STATUS_SUCCESS;
}

NTSTATUS adapterCommand(TestDeviceExtension* extension, PHW_STREAM_REQUEST_BLOCK srb)
{
    TestDevice* device = extension->Device;
    switch (srb->Command) {
    case SRB_GET_STREAM_INFO:
        return streamInformation(device, srb);
    case SRB_OPEN_STREAM:
        return openStream(device, srb);
    case SRB_CLOSE_STREAM: {
        std::lock_guard lock(device->mutex);
        device->streamOpen = false;
        device->stream = nullptr;
        return STATUS_SUCCESS;
    }
    case SRB_GET_DEVICE_PROPERTY:
        return deviceProperty(device, srb, false);
    case SRB_SET_DEVICE_PROPERTY:
        return deviceProperty(device, srb, true);
    case SRB_CHANGE_POWER_STATE:
        device->power = srb->CommandData.DeviceState;
        return STATUS_SUCCESS;
    case SRB_GET_DATA_INTERSECTION:
        return dataIntersection(srb);
    case SRB_INITIALIZATION_COMPLETE:
        return testDriverSettings().initializationCompleteStatus;
    case SRB_SURPRISE_REMOVAL:
        device->surpriseRemoved = true;
        return STATUS_SUCCESS;
    case SRB_PAGING_OUT_DRIVER:
        return testDriverSettings().fault == Fault::CompleteWithPendingStatus ? STATUS_PENDING : STATUS_SUCCESS;
    default:
        return STATUS_NOT_IMPLEMENTED;
    }
}

std::mutex finishedMutex;
std::vector<ULONG> finishedCommands;

VOID STREAMAPI TestReceivePacket(PHW_STREAM_REQUEST_BLOCK srb)
{
    auto* extension = testExtension(srb->HwDeviceExtension);
    NTSTATUS status;
    if (srb->Command == SRB_INITIALIZE_DEVICE) {
        status = initializeDevice(extension, srb);
    }
    TestDevice* device = extension->Device;
    if (device != nullptr) {
        noteIrql(device);
        std::lock_guard lock(device->mutex);
        device->commands.push_back(srb->Command);
    }
    if (srb->Command == SRB_UNINITIALIZE_DEVICE) {
        if (device != nullptr) {
            std::lock_guard lock(finishedMutex);
            finishedCommands = device->commands;
        }
        uninitializeDevice(extension);
        status = STATUS_SUCCESS;
    } else if (srb->Command != SRB_INITIALIZE_DEVICE) {
        status = adapterCommand(extension, srb);
    }
    const Fault fault = testDriverSettings().fault;
    if (fault == Fault::LeaveAdapterSrbPending && srb->Command == SRB_GET_DEVICE_PROPERTY) {
        return;
    }
    srb->Status = status;
    StreamClassDeviceNotification(DeviceRequestComplete, srb->HwDeviceExtension, srb);
    if (fault == Fault::CompleteAdapterSrbTwice && srb->Command == SRB_SET_DEVICE_PROPERTY) {
        StreamClassDeviceNotification(DeviceRequestComplete, srb->HwDeviceExtension, srb);
    }
}

VOID STREAMAPI TestIgnorePacket(PHW_STREAM_REQUEST_BLOCK) {}

} // namespace

TestDriverSettings& testDriverSettings()
{
    static TestDriverSettings settings;
    return settings;
}

std::vector<ULONG> testDriverFinishedCommands()
{
    std::lock_guard lock(finishedMutex);
    return finishedCommands;
}

PVOID testDriverObject()
{
    static DRIVER_OBJECT driverObject{};
    return &driverObject;
}

NTSTATUS TestDriverEntry(PVOID driverObject)
{
    HW_INITIALIZATION_DATA registration;
    std::memset(&registration, 0, sizeof(registration));
    registration.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
    registration.HwReceivePacket = TestReceivePacket;
    registration.HwCancelPacket = TestCancelPacket;
    registration.HwRequestTimeoutHandler = TestIgnorePacket;
    registration.DeviceExtensionSize = sizeof(TestDeviceExtension);
    registration.PerRequestExtensionSize = 3 * sizeof(PVOID);
    registration.PerStreamExtensionSize = 1;
    registration.BufferAlignment = 3;
    registration.TurnOffSynchronization = TRUE;
    return StreamClassRegisterAdapter(driverObject, nullptr, &registration);
}

TestDeviceExtension* testExtension(PVOID deviceExtension)
{
    return static_cast<TestDeviceExtension*>(deviceExtension);
}

bool TestDriverDeliverFrame(PVOID deviceExtension, UCHAR fill)
{
    TestDevice* device = testExtension(deviceExtension)->Device;
    PHW_STREAM_REQUEST_BLOCK srb;
    HANDLE clock;
    LONGLONG picture;
    ULONG frameBytes;
    {
        std::lock_guard lock(device->mutex);
        if (device->reads.empty()) {
            return false;
        }
        srb = device->reads.front();
        device->reads.pop_front();
        clock = device->masterClock;
        picture = ++device->pictureNumber;
        frameBytes = device->frameBytes;
    }
    PKSSTREAM_HEADER header = srb->CommandData.DataBufferArray;
    auto* frameInfo = reinterpret_cast<PKS_FRAME_INFO>(header + 1);
    if (header->FrameExtent < frameBytes) {
        completeEmptyRead(srb, STATUS_BUFFER_TOO_SMALL);
        return true;
    }
    std::memset(header->Data, fill, frameBytes);
    header->DataUsed = frameBytes;
    header->Duration = 333333;
    header->PresentationTime.Numerator = header->PresentationTime.Denominator = 1;
    header->OptionsFlags = KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    if (clock != nullptr) {
        HW_TIME_CONTEXT time{};
        time.HwDeviceExtension = static_cast<struct _HW_DEVICE_EXTENSION*>(deviceExtension);
        time.HwStreamObject = srb->StreamObject;
        time.Function = TIME_GET_STREAM_TIME;
        StreamClassQueryMasterClockSync(clock, &time);
        header->PresentationTime.Time = static_cast<LONGLONG>(time.Time);
        header->OptionsFlags |= KSSTREAM_HEADER_OPTIONSF_TIMEVALID;
    }
    frameInfo->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
    frameInfo->PictureNumber = picture;
    completeStreamSrb(srb, STATUS_SUCCESS);
    return true;
}

void TestDriverPressButton(PVOID deviceExtension)
{
    StreamClassDeviceNotification(SignalMultipleDeviceEvents, deviceExtension,
                                  const_cast<GUID*>(&KSEVENTSETID_VIDCAPTOSTI),
                                  static_cast<ULONG>(KSEVENT_VIDCAPTOSTI_EXT_TRIGGER));
}

std::size_t TestDriverHeldReads(PVOID deviceExtension)
{
    TestDevice* device = testExtension(deviceExtension)->Device;
    std::lock_guard lock(device->mutex);
    return device->reads.size();
}

const KS_DATARANGE_VIDEO& testRgbRange()
{
    static const KS_DATARANGE_VIDEO range = makeRange(MEDIASUBTYPE_RGB24, 24, KS_BI_RGB);
    return range;
}

const KS_DATARANGE_VIDEO& testI420Range()
{
    static const KS_DATARANGE_VIDEO range = makeRange(MEDIASUBTYPE_I420, 12, kI420Fourcc);
    return range;
}

} // namespace korval::test
