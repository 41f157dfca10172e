// PROPSETID_VIDCAP_VIDEOCONTROL: fixed answers about the capture stream's
// trigger and frame rate. The mode can be "set" without effect.
#include "control/PropertyRequest.h"

#include <cstring>

namespace {

constexpr ULONG CAPTURE_STREAM_INDEX = 0;
constexpr ULONG MODE_SET_STREAM_INDEX = 1;
constexpr ULONG TRIGGER_CAPS = KS_VideoControlFlag_ExternalTriggerEnable | KS_VideoControlFlag_Trigger; // 12
constexpr LONGLONG ACTUAL_FRAME_INTERVAL = 285714;  // 100-ns units
constexpr LONGLONG OFFERED_FRAME_INTERVAL = 333333;

struct tagFrameRateList {
    KSMULTIPLE_ITEM Header;
    LONGLONG llInterval;
};
static_assert(sizeof(tagFrameRateList) == 16);

// The stream index a request asks about: from its input when the client sent
// the whole record there, otherwise from the data buffer, which then holds
// at least the record's required size.
ULONG RequestedStreamIndex(const tagPropertyRequest* Request)
{
    constexpr ULONG indexEnd = sizeof(KSPROPERTY) + sizeof(ULONG);
    const void* record = Request->ulInputSize >= indexEnd ? static_cast<const void*>(Request->pProperty)
                                                          : static_cast<const void*>(Request->pData);
    ULONG index;
    std::memcpy(&index, static_cast<const UCHAR*>(record) + sizeof(KSPROPERTY), sizeof(index));
    return index;
}

NTSTATUS AnswerCaps(tagPropertyRequest* Request)
{
    static_cast<KSPROPERTY_VIDEOCONTROL_CAPS_S*>(Request->pData)->VideoControlCaps = TRIGGER_CAPS;
    return STATUS_SUCCESS;
}

NTSTATUS AnswerActualFrameRate(tagPropertyRequest* Request)
{
    if (RequestedStreamIndex(Request) != CAPTURE_STREAM_INDEX) {
        return STATUS_NOT_SUPPORTED;
    }
    auto* answer = static_cast<KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S*>(Request->pData);
    answer->CurrentActualFrameRate = ACTUAL_FRAME_INTERVAL;
    answer->CurrentMaxAvailableFrameRate = ACTUAL_FRAME_INTERVAL;
    return STATUS_SUCCESS;
}

NTSTATUS AnswerFrameRates(tagPropertyRequest* Request)
{
    tagFrameRateList list = {{sizeof(tagFrameRateList), 1}, OFFERED_FRAME_INTERVAL};
    std::memcpy(Request->pData, &list, sizeof(list));
    return STATUS_SUCCESS;
}

NTSTATUS AnswerMode(tagPropertyRequest* Request)
{
    static_cast<KSPROPERTY_VIDEOCONTROL_MODE_S*>(Request->pData)->Mode = TRIGGER_CAPS;
    return STATUS_SUCCESS;
}

struct tagVideoControlItem {
    ULONG ulBytes;
    NTSTATUS (*pAnswer)(tagPropertyRequest* Request);
};

const tagVideoControlItem VideoControlItems[] = {
    {sizeof(KSPROPERTY_VIDEOCONTROL_CAPS_S), AnswerCaps},
    {sizeof(KSPROPERTY_VIDEOCONTROL_ACTUAL_FRAME_RATE_S), AnswerActualFrameRate},
    {sizeof(tagFrameRateList), AnswerFrameRates},
    {sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S), AnswerMode},
};

} // namespace

NTSTATUS GetVideoControlProperty(tagPropertyRequest* Request)
{
    const ULONG id = Request->pProperty->Id;
    if (id >= sizeof(VideoControlItems) / sizeof(VideoControlItems[0])) {
        return STATUS_NOT_SUPPORTED;
    }
    const tagVideoControlItem& item = VideoControlItems[id];
    NTSTATUS status = CheckPropertyData(Request, item.ulBytes);
    if (NT_SUCCESS(status)) {
        status = item.pAnswer(Request);
    }
    if (NT_SUCCESS(status)) {
        Request->ulBytesReturned = item.ulBytes;
    }
    return status;
}

// Accepted (and without effect) only for stream index 1.
NTSTATUS SetVideoControlProperty(tagPropertyRequest* Request)
{
    if (Request->pProperty->Id != KSPROPERTY_VIDEOCONTROL_MODE) {
        return STATUS_NOT_SUPPORTED;
    }
    if (Request->ulDataSize < sizeof(KSPROPERTY_VIDEOCONTROL_MODE_S)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (RequestedStreamIndex(Request) != MODE_SET_STREAM_INDEX) {
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}
