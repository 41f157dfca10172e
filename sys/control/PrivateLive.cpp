#include "control/PrivateLive.h"
#include "control/PropertyRequest.h"
#include "control/DevicePropertySets.h"
#include "stream/OverlayFrames.h"
#include "stream/StreamContext.h"

namespace {

constexpr ULONG OPTION_BITS_SETTING = 51;
constexpr ULONG ORIENTATION_CHECK_BIT = 0x200;
constexpr UCHAR ORIENTATION_UPSIDE_DOWN = 0xFF;

// A camera mounted upside down has mirror and flip inverted by the pipeline's
// orientation check; a user's choice keeps that inversion.
UCHAR UpsideDown(const DeviceContext* Device)
{
    return (Device->Settings[OPTION_BITS_SETTING] & ORIENTATION_CHECK_BIT) != 0 && Device->Stream != nullptr &&
                   Device->Stream->OrientationValue == ORIENTATION_UPSIDE_DOWN
               ? 1
               : 0;
}

VOID MapMirrorOriented(const DeviceContext* Device, tagIpParameters* Parameters)
{
    MapMirror(Device, Parameters);
    Parameters->bMirror = static_cast<UCHAR>(Parameters->bMirror ^ UpsideDown(Device));
}

VOID MapFlipOriented(const DeviceContext* Device, tagIpParameters* Parameters)
{
    MapFlip(Device, Parameters);
    Parameters->bFlip = static_cast<UCHAR>(Parameters->bFlip ^ UpsideDown(Device));
}

// Manual white balance takes the red and blue gains with a neutral green.
VOID SetColourGain(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value)
{
    Device->*Entry.pValue = Value;
    Device->*Entry.pManual = Value;
    tagIpParameters parameters;
    if (!ReadImageParameters(Device, &parameters)) {
        return;
    }
    if (!parameters.bAwb && Entry.ulId != KSPROPERTY_KORVAL_GAIN_2) {
        Device->CurGain2 = NEUTRAL_GAIN;
    }
    Entry.pImageMapping(Device, &parameters);
    WriteImageParameters(Device, parameters);
}

VOID SetOriented(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value)
{
    Device->*Entry.pValue = Value;
    ChangeImageParameters(Device, Entry.ulId == KSPROPERTY_KORVAL_MIRROR ? MapMirrorOriented : MapFlipOriented);
}

// A frame that cannot be loaded leaves the previous one showing (loaded again
// from its files) and its number in place, and the request fails: answering
// success would tell the client a frame was chosen that never shows.
NTSTATUS SelectOverlayFrame(DeviceContext* Device, ULONG Value)
{
    if (Value == 0 || Value == Device->CurOverlayFrame) {
        Device->CurOverlayFrame = Value;
        return STATUS_SUCCESS;
    }
    if (LoadOverlayFrame(Value, Device)) {
        Device->CurOverlayFrame = Value;
        return STATUS_SUCCESS;
    }
    if (Device->CurOverlayFrame != 0) {
        LoadOverlayFrame(Device->CurOverlayFrame, Device);
    }
    return STATUS_UNSUCCESSFUL;
}

} // namespace

NTSTATUS SetPrivateLive(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value)
{
    switch (Entry.ulId) {
    case KSPROPERTY_KORVAL_OVERLAY_FRAME: return SelectOverlayFrame(Device, Value);
    case KSPROPERTY_KORVAL_FRAME_RATE:
        if (Value == 0) {
            return STATUS_INVALID_PARAMETER; // no frame interval to derive a timing row from
        }
        break;
    case KSPROPERTY_KORVAL_MIRROR:
    case KSPROPERTY_KORVAL_FLIP: SetOriented(Device, Entry, Value); return STATUS_SUCCESS;
    case KSPROPERTY_KORVAL_GAIN_1:
    case KSPROPERTY_KORVAL_GAIN_2:
    case KSPROPERTY_KORVAL_GAIN_3: SetColourGain(Device, Entry, Value); return STATUS_SUCCESS;
    default: break;
    }
    StoreAndMapProperty(Device, Entry, Value, 0);
    return STATUS_SUCCESS;
}
