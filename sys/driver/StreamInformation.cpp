#include "driver/StreamInformation.h"

#include "settings/RegistrySettings.h"
#include "driver/AdapterHandlers.h"
#include "control/DevicePropertySets.h"
#include "driver/Driver.h"
#include "stream/StreamFormats.h"

#include <cstring>

namespace {

const GUID FilterCategories[] = {KSCATEGORY_VIDEO, PINNAME_VIDEO_STILL, KSCATEGORY_CAPTURE};

const KSTOPOLOGY FilterTopology = {
    SIZEOF_ARRAY(FilterCategories), FilterCategories, 0, nullptr, 0, nullptr, nullptr, 0,
};

// Published but not counted: the pin has no medium of its own.
const KSPIN_MEDIUM StandardMedium = {{{KSMEDIUMSETID_Standard, 0, 0}}};

constinit DEFINE_KSPROPERTY_TABLE(ConnectionItems){
    PublishedItem(KSPROPERTY_CONNECTION_ALLOCATORFRAMING, true,
                  sizeof(KSPROPERTY), sizeof(KSALLOCATOR_FRAMING),
                  false, nullptr, 0),
};

constinit DEFINE_KSPROPERTY_TABLE(DroppedFramesItems){
    PublishedItem(KSPROPERTY_DROPPEDFRAMES_CURRENT, true,
                  sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S), sizeof(KSPROPERTY_DROPPEDFRAMES_CURRENT_S),
                  false, nullptr, 0),
};

DEFINE_KSPROPERTY_SET_TABLE(CaptureStreamPropertySets){
    DEFINE_KSPROPERTY_SET(&KSPROPSETID_Connection, SIZEOF_ARRAY(ConnectionItems), ConnectionItems, 0, nullptr),
    DEFINE_KSPROPERTY_SET(&PROPSETID_VIDCAP_DROPPEDFRAMES, SIZEOF_ARRAY(DroppedFramesItems), DroppedFramesItems, 0,
                          nullptr),
};

} // namespace

const HW_STREAM_HEADER CaptureStreamHeader = {
    .NumberOfStreams = 1,
    .SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION),
    .NumDevPropArrayEntries = DEVICE_PROPERTY_SET_COUNT,
    .DevicePropertiesArray = const_cast<PKSPROPERTY_SET>(DevicePropertySets),
    .NumDevEventArrayEntries = DEVICE_EVENT_SET_COUNT,
    .DeviceEventsArray = const_cast<PKSEVENT_SET>(DeviceEventSets),
    .Topology = const_cast<PKSTOPOLOGY>(&FilterTopology),
    .DeviceEventRoutine = AdapterDeviceEvent,
    .NumDevMethodArrayEntries = 0,
    .DeviceMethodsArray = nullptr,
};

const HW_STREAM_INFORMATION CaptureStreamInformation = {
    .NumberOfPossibleInstances = 1,
    .DataFlow = KSPIN_DATAFLOW_OUT,
    .DataAccessible = TRUE,
    .NumberOfFormatArrayEntries = 0,
    .StreamFormatsArray = CaptureFormatList,
    .ClassReserved = {},
    .NumStreamPropArrayEntries = SIZEOF_ARRAY(CaptureStreamPropertySets),
    .StreamPropertiesArray = const_cast<PKSPROPERTY_SET>(CaptureStreamPropertySets),
    .NumStreamEventArrayEntries = 0,
    .StreamEventsArray = nullptr,
    .Category = const_cast<GUID*>(&PINNAME_VIDEO_CAPTURE),
    .Name = const_cast<GUID*>(&PINNAME_VIDEO_CAPTURE),
    .MediumsCount = 0,
    .Mediums = &StandardMedium,
    .BridgeStream = FALSE,
    .Reserved = {},
};

// A device installed by hand, or whose Parameters key was lost, still starts:
// it offers what a fresh installation offers and says so in the debug log.
NTSTATUS ReadFormatSelection(DeviceContext* Device)
{
    const NTSTATUS status = ReadSetting(Device, SETTING_FORMAT_SELECTION);
    if (status != STATUS_OBJECT_NAME_NOT_FOUND && status != STATUS_OBJECT_PATH_NOT_FOUND) {
        return status;
    }
    DbgPrint("korval: no Parameters key (0x%08X); offering the built-in formats 0x%08X\n",
             static_cast<unsigned>(status), static_cast<unsigned>(CAPTURE_DEFAULT_FORMAT_SELECTION));
    Device->Settings[SETTING_FORMAT_SELECTION] = CAPTURE_DEFAULT_FORMAT_SELECTION;
    return STATUS_SUCCESS;
}

// Every answer re-reads "A_64", so a changed selection shows at the next start.
NTSTATUS GetStreamInfo(PHW_STREAM_REQUEST_BLOCK Srb)
{
    if (Srb->NumberOfBytesToTransfer < CAPTURE_STREAM_DESCRIPTOR_SIZE) {
        return STATUS_IO_DEVICE_ERROR;
    }
    auto* device = static_cast<DeviceContext*>(Srb->HwDeviceExtension);
    auto* descriptor = reinterpret_cast<PUCHAR>(Srb->CommandData.StreamBuffer);
    if (device == nullptr || descriptor == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = ReadFormatSelection(device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = SelectCaptureFormats(device->Settings[SETTING_FORMAT_SELECTION]);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    HW_STREAM_INFORMATION information = CaptureStreamInformation;
    information.NumberOfFormatArrayEntries = CaptureFormatCount();
    std::memcpy(descriptor, &CaptureStreamHeader, sizeof(HW_STREAM_HEADER));
    std::memcpy(descriptor + sizeof(HW_STREAM_HEADER), &information, sizeof(HW_STREAM_INFORMATION));
    return STATUS_SUCCESS;
}
