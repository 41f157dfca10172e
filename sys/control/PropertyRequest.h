// What the device property handlers share: one decoded property request and
// the answers common to every set (sizes, user settings in the registry, the
// running stream's parameter records).
#pragma once

#include "base/AeRecords.h"
#include "base/DeviceContext.h"
#include "imageprocess/CImageProcess.h"
#include "settings/PictureSettings.h"
#include "settings/PropertyTable.h"

// One SRB_GET/SET_DEVICE_PROPERTY, checked and decoded by DeviceProperties.cpp.
struct tagPropertyRequest {
    DeviceContext* pDevice;
    const KSPROPERTY* pProperty;  // the request's input, PropertyInputSize bytes
    ULONG ulInputSize;
    PVOID pData;                  // the property data, PropertyOutputSize bytes
    ULONG ulDataSize;
    ULONG ulBytesReturned;        // becomes ActualBytesTransferred
    BOOLEAN bCaptureOpen;         // decided once, under the parameter gate
};

// Answer sizes of the sets.
constexpr ULONG PROCAMP_PROPERTY_BYTES = sizeof(KSPROPERTY_VIDEOPROCAMP_S);       // 40
constexpr ULONG CAMERACONTROL_PROPERTY_BYTES = sizeof(KSPROPERTY_CAMERACONTROL_S); // 40
constexpr ULONG PRIVATE_PROPERTY_BYTES = 32;


// The data buffer is checked against the record the property needs: an empty
// buffer asks for the size (STATUS_BUFFER_OVERFLOW with the size), a short one
// is refused with STATUS_BUFFER_TOO_SMALL.
NTSTATUS CheckPropertyData(tagPropertyRequest* Request, ULONG Required);

// FALSE for a set whose value would be taken and do nothing: an effect number
// beyond the last effect, a manual white balance outside 0..2 and 2000..10000. The request is
// refused with STATUS_INVALID_PARAMETER and changes nothing.
BOOLEAN PropertyValueAccepted(const tagPropertyRequest* Request);

// Closed stream: a property's flags and value read again from their registry
// values, low 16 bits; without a flags slot the flags are manual, without a
// stored value the value is 0. A failing read gives STATUS_INVALID_PARAMETER.
NTSTATUS ReadStoredProperty(DeviceContext* Device, const tagPropertyEntry& Entry, PULONG Value, PULONG Flags);
// Closed stream: the low 16 bits of the property's flags and value slots
// replaced (flags first), their high 16 bits kept as the registry holds them.
// Errors are ignored.
VOID WriteStoredProperty(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags);
// Whether the property keeps a value of its own in the registry.
BOOLEAN HasStoredValue(const tagPropertyEntry& Entry);

// The running stream's parameter records, read and written back while the
// parameter gate is held. A read gives FALSE, and nothing is to be written,
// when the stream has no such object.
BOOLEAN ReadImageParameters(DeviceContext* Device, tagIpParameters* Parameters);
VOID WriteImageParameters(DeviceContext* Device, const tagIpParameters& Parameters);
BOOLEAN ReadAeParameters(DeviceContext* Device, tagAeParameters* Parameters);
VOID WriteAeParameters(DeviceContext* Device, const tagAeParameters& Parameters);

// One change of the running stream's parameters, made from the current values:
// read, changed, written back; nothing when the stream has no such object.
VOID ChangeImageParameters(DeviceContext* Device, PIMAGE_MAPPING Change);
VOID ChangeAeParameters(DeviceContext* Device, PAE_MAPPING Change);
// Open stream: the value (and flags, manual copy) stored in the current-value
// fields and mapped into the stream's parameters, image first.
VOID StoreAndMapProperty(DeviceContext* Device, const tagPropertyEntry& Entry, ULONG Value, ULONG Flags);

NTSTATUS GetProcAmpProperty(tagPropertyRequest* Request);
NTSTATUS SetProcAmpProperty(tagPropertyRequest* Request);
NTSTATUS GetCameraControlProperty(tagPropertyRequest* Request);
NTSTATUS SetCameraControlProperty(tagPropertyRequest* Request);
NTSTATUS GetVideoControlProperty(tagPropertyRequest* Request);
NTSTATUS SetVideoControlProperty(tagPropertyRequest* Request);
NTSTATUS GetPrivateProperty(tagPropertyRequest* Request);
NTSTATUS SetPrivateProperty(tagPropertyRequest* Request);
