// Set requests whose value would be taken and then do nothing are refused
// before any handler stores it: an effect number that names no effect, and a
// manual white balance that is neither a preset, the user's gains nor a
// colour temperature. Every other value keeps its documented treatment (low
// bits, clamping), which clients and stored settings rely on.
#include "control/PropertyRequest.h"
#include "control/DevicePropertySets.h"

namespace {

constexpr ULONG VALUE_OFFSET = sizeof(KSPROPERTY); // the value follows the KSPROPERTY in every set used here

bool IsItem(const KSPROPERTY& Property, const GUID& Set, ULONG Id)
{
    return Property.Set == Set && Property.Id == Id;
}

bool ManualWhiteBalanceUsable(LONG Value, ULONG Flags)
{
    if (Flags == KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO) {
        return true;
    }
    if (Value < 0 || Value > static_cast<LONG>(WHITE_BALANCE_USER_GAINS)) {
        return false;
    }
    return Value <= static_cast<LONG>(WHITE_BALANCE_LAST_PRESET) ||
           Value >= static_cast<LONG>(WHITE_BALANCE_LOWEST_KELVIN);
}

} // namespace

BOOLEAN PropertyValueAccepted(const tagPropertyRequest* Request)
{
    if (Request->ulDataSize < VALUE_OFFSET + sizeof(LONG)) {
        return TRUE; // the handler answers the size
    }
    const KSPROPERTY& property = *Request->pProperty;
    const UCHAR* data = static_cast<const UCHAR*>(Request->pData);
    const ULONG value = *reinterpret_cast<const ULONG*>(data + VALUE_OFFSET);
    if (IsItem(property, PROPSETID_KORVAL_CAMERA, KSPROPERTY_KORVAL_EFFECT)) {
        return value <= KORVAL_LAST_EFFECT ? TRUE : FALSE;
    }
    if (IsItem(property, PROPSETID_VIDCAP_VIDEOPROCAMP, KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE) &&
        Request->ulDataSize >= sizeof(KSPROPERTY_VIDEOPROCAMP_S)) {
        const auto* record = reinterpret_cast<const KSPROPERTY_VIDEOPROCAMP_S*>(data);
        return ManualWhiteBalanceUsable(record->Value, record->Flags) ? TRUE : FALSE;
    }
    return TRUE;
}
