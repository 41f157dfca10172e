// The driver's private property set: one 32-bit value behind the KSPROPERTY.
// Open stream: the current values, applied at once where the stream can take
// them; closed: the user settings in the registry.
#include "control/PrivateLive.h"
#include "control/PropertyRequest.h"
#include "control/DevicePropertySets.h"

namespace {

// Entries without a registry value have no get; a set while the stream is
// closed is stored only for those that keep a value and may be set closed.
BOOLEAN SetWhileClosed(const tagPropertyEntry& Entry)
{
    return HasStoredValue(Entry) && (Entry.ucTraits & PROPERTY_SET_LIVE_ONLY) == 0 ? TRUE : FALSE;
}

// Auto exposure cannot work with a mains frequency of 0 (its flicker period
// would be endless); such a value is refused instead of being kept, while the
// stream is closed as well as open, so one value gets one answer and the
// client learns at once. A 0 that reaches the registry otherwise is replaced
// by the default when the stream opens.
bool ValueUsable(ULONG Id, ULONG Value)
{
    return Id != KSPROPERTY_KORVAL_MAINS_FREQUENCY || static_cast<UCHAR>(Value) != 0;
}

} // namespace

NTSTATUS GetPrivateProperty(tagPropertyRequest* Request)
{
    const tagPropertyEntry* item = FindProperty(PROPSETID_KORVAL_CAMERA, Request->pProperty->Id);
    if (item == nullptr || !HasStoredValue(*item)) {
        return STATUS_NOT_SUPPORTED;
    }
    NTSTATUS status = CheckPropertyData(Request, PRIVATE_PROPERTY_BYTES);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    ULONG value = Request->pDevice->*item->pValue;
    ULONG flags = 0;
    if (!Request->bCaptureOpen) {
        status = ReadStoredProperty(Request->pDevice, *item, &value, &flags);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    static_cast<tagKorvalProperty*>(Request->pData)->ulValue = value;
    Request->ulBytesReturned = PRIVATE_PROPERTY_BYTES;
    return STATUS_SUCCESS;
}

NTSTATUS SetPrivateProperty(tagPropertyRequest* Request)
{
    const tagPropertyEntry* item = FindProperty(PROPSETID_KORVAL_CAMERA, Request->pProperty->Id);
    if (item == nullptr || (!Request->bCaptureOpen && !SetWhileClosed(*item))) {
        return STATUS_NOT_SUPPORTED;
    }
    NTSTATUS status = CheckPropertyData(Request, PRIVATE_PROPERTY_BYTES);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG value = static_cast<const tagKorvalProperty*>(Request->pData)->ulValue;
    if (!ValueUsable(item->ulId, value)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!Request->bCaptureOpen) {
        WriteStoredProperty(Request->pDevice, *item, value, 0);
        return STATUS_SUCCESS;
    }
    return SetPrivateLive(Request->pDevice, *item, value);
}
