// Any device property request a client can make, with the capture stream open
// or closed: the handlers never read or write past the request's input or data
// buffer, and answer success only with a size that fits the data buffer.
//
// Input: 1 flag byte (bit 0: set instead of get, bit 1: stream open, bits 2-4:
// the property set, 4 to 7 an unknown one), 1 byte id (ids above 31 are
// folded to 0..31), 1 byte input size (modulo 72), 1 byte data size (modulo
// 72), then the bytes of both buffers.
#include "runtime/FloatingPointState.h"
#include "ae/CAe.h"
#include "driver/AdapterHandlers.h"
#include "base/DeviceContext.h"
#include "control/DevicePropertySets.h"
#include "imageprocess/CImageProcess.h"
#include "stream/OverlayFrames.h"
#include "stream/StreamContext.h"

#include "host/kernel/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::size_t kLargestBuffer = 72;

const GUID kUnknownSet = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};

const GUID& propertySet(std::uint8_t flags)
{
    const unsigned choice = (flags >> 2) & 7;
    return choice < DEVICE_PROPERTY_SET_COUNT ? *DevicePropertySets[choice].Set : kUnknownSet;
}

// One device for the whole run, its stream with open processing objects.
struct FuzzDevice {
    korval::host::Platform platform;
    DeviceContext device{};

    FuzzDevice()
    {
        platform.registry().createKey("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters");
        InitializeDeviceState(&device);
        device.Stream = new StreamContext;
        device.Stream->ImageProcess = new CImageProcess;
        device.Stream->AutoExposure = new CAe;
        CFloatingPointState floatingPoint; // as the pipeline's set-up
        tagIpParameters ip{};
        ip.ucMeterWidth = ip.ucMeterHeight = 75;
        device.Stream->ImageProcess->Open(352, 288, 0, IP_FORMAT_BGR24, IP_OUTPUT_CIF, 0, ip);
        tagAeParameters ae{};
        ae.ucMainsFrequency = 60;
        ae.usPacketSize = 1023;
        ae.usMinExposureDivisor = 32;
        tagAeOutput output{};
        device.Stream->AutoExposure->Open(352, 288, false, 0, ae, &output);
        AllocateOverlayBuffers(device.Stream);
    }
};

FuzzDevice& fuzzDevice()
{
    static FuzzDevice* device = new FuzzDevice; // kept for the process's life
    return *device;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderBytes) {
        return 0;
    }
    FuzzDevice& fuzz = fuzzDevice();
    const std::uint8_t flags = data[0];
    const ULONG inputSize = data[2] % kLargestBuffer;
    const ULONG dataSize = data[3] % kLargestBuffer;
    SetCaptureOpen(&fuzz.device, (flags & 2) != 0 ? TRUE : FALSE);

    // Exact-size buffers, so that a read or write past either is a sanitizer error.
    auto input = std::make_unique<std::uint8_t[]>(inputSize);
    auto output = std::make_unique<std::uint8_t[]>(dataSize);
    const std::uint8_t* payload = data + kHeaderBytes;
    const std::size_t payloadSize = size - kHeaderBytes;
    std::memcpy(input.get(), payload, std::min<std::size_t>(inputSize, payloadSize));
    std::memcpy(output.get(), payload, std::min<std::size_t>(dataSize, payloadSize));
    if (inputSize >= sizeof(KSPROPERTY)) {
        KSPROPERTY header{};
        header.Set = propertySet(flags);
        header.Id = data[1] & 31;
        std::memcpy(input.get(), &header, sizeof(header));
    }

    STREAM_PROPERTY_DESCRIPTOR descriptor{};
    descriptor.Property = reinterpret_cast<PKSPROPERTY>(input.get());
    descriptor.PropertyInfo = dataSize != 0 ? output.get() : nullptr;
    descriptor.PropertyInputSize = inputSize;
    descriptor.PropertyOutputSize = dataSize;
    HW_STREAM_REQUEST_BLOCK srb{};
    srb.HwDeviceExtension = &fuzz.device;
    srb.CommandData.PropertyInfo = &descriptor;
    const NTSTATUS status = (flags & 1) != 0 ? SetDeviceProperty(&srb) : GetDeviceProperty(&srb);
    if (NT_SUCCESS(status) && srb.ActualBytesTransferred > dataSize) {
        std::abort(); // success claimed with more than the buffer holds
    }
    return 0;
}
