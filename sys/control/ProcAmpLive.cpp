#include "control/ProcAmpLive.h"
#include "control/PropertyRequest.h"

namespace {

// With colour off the saturation is held at 0 and a new one is not taken.
VOID SetSaturation(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags)
{
    if (Device->CurColorEnable != 0) {
        StoreAndMapProperty(Device, Entry, Value, Flags);
    }
}

// Disabling keeps the saturation aside and shows grey; enabling brings it back.
VOID SetColorEnable(DeviceContext* Device, ULONG Value, ULONG Flags)
{
    if (Value == Device->CurColorEnable) {
        return;
    }
    const bool wasEnabled = Device->CurColorEnable != 0;
    Device->CurColorEnable = Value;
    Device->CurColorEnableFlags = Flags;
    if (!wasEnabled) {
        BringSaturationBack(Device);
    } else if (Value == 0) {
        PutSaturationAside(Device);
    }
    ChangeImageParameters(Device, MapSaturation);
}

// A manual white balance selects its colour gains before they are mapped.
VOID SetWhiteBalance(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags)
{
    Device->CurWhiteBalance = Value;
    Device->CurWhiteBalanceFlags = Flags;
    if (Flags != PROPERTY_FLAGS_AUTO) {
        SelectWhiteBalanceGains(Device, Value);
    }
    ChangeImageParameters(Device, Entry.pImageMapping);
}

} // namespace

VOID SetProcAmpLive(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags)
{
    switch (Entry.ulId) {
    case KSPROPERTY_VIDEOPROCAMP_SATURATION: SetSaturation(Device, Entry, Value, Flags); return;
    case KSPROPERTY_VIDEOPROCAMP_COLORENABLE: SetColorEnable(Device, Value, Flags); return;
    case KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE: SetWhiteBalance(Device, Entry, Value, Flags); return;
    default: StoreAndMapProperty(Device, Entry, Value, Flags); return;
    }
}
