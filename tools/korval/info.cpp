// korval info: loads the driver on a fresh emulated machine, plugs the virtual
// camera in, starts the device and shows what the driver registered with the
// stream class, the started device (stream descriptor, the camera configured at
// alternate setting 0, the status channel, the still-image interface), how the
// adapter answers a few requests and a power cycle, then removes the device and
// unloads the driver.
#include "camera/camera_on_bus.h"
#include "driver/DeviceContext.h"
#include "driver/Driver.h"
#include "driver/StreamFormats.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"
#include "platform/CpuFeatures.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/json_writer.h"
#include "usb/CUsbCamera.h"

#include <cstdio>

namespace korval::tools {
namespace {

// What the driver's and the still-image service's installations leave in the
// registry: the offered formats (all five sizes) and the snapshot status key.
constexpr const char* kParametersKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
constexpr const char* kStillStatusKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\2B9EC021-C823-4f3d-9752-C18522DB7D98\\KORVAL";
constexpr std::uint32_t kAllFrameSizes = 0x00432105;

std::string status(NTSTATUS value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

const char* yesNo(bool value)
{
    return value ? "yes" : "no";
}

void installDriver(host::Registry& registry)
{
    registry.setValue(kParametersKey, "A_64", host::RegistryValue::dword(kAllFrameSizes));
    registry.createKey(kStillStatusKey);
}

void printRegistration(const HW_INITIALIZATION_DATA& record, std::ostream& out)
{
    out << "registered adapter:\n"
        << "  DeviceExtensionSize      " << record.DeviceExtensionSize << "\n"
        << "  PerRequestExtensionSize  " << record.PerRequestExtensionSize << "\n"
        << "  PerStreamExtensionSize   " << record.PerStreamExtensionSize << "\n"
        << "  BufferAlignment          " << record.BufferAlignment << "\n"
        << "  TurnOffSynchronization   " << (record.TurnOffSynchronization ? "TRUE" : "FALSE") << "\n"
        << "  WdmLevel                 " << WdmLevel << "\n";
    const CPU_FEATURES features = CpuDetectedFeatures();
    out << "  pixel path               " << CpuPathName(CpuCurrentPath()) << " (processor: SSE2 "
        << yesNo(features.Sse2) << ", SSSE3 " << yesNo(features.Ssse3) << ", AVX2 with YMM state "
        << yesNo(features.Avx2) << ")\n";
}

void printFormats(const host::StreamClassDevice& device, std::ostream& out)
{
    for (const auto& range : device.streamFormats(0)) {
        const auto video = range.as<KS_DATARANGE_VIDEO>();
        const auto& bitmap = video.VideoInfoHeader.bmiHeader;
        const bool i420 = bitmap.biCompression == CAPTURE_COMPRESSION_I420;
        out << "    " << bitmap.biWidth << "x" << bitmap.biHeight << " " << (i420 ? "I420 " : "RGB24") << "  "
            << video.DataRange.SampleSize << " bytes\n";
    }
}

void printStreamDescriptor(const host::StreamClassDevice& device, std::ostream& out)
{
    const HW_STREAM_HEADER& header = device.streamHeader();
    const HW_STREAM_INFORMATION& capture = device.streamInformation(0);
    out << "stream descriptor:\n"
        << "  streams                  " << header.NumberOfStreams << "\n"
        << "  device property sets     " << header.NumDevPropArrayEntries << "\n"
        << "  device event sets        " << header.NumDevEventArrayEntries << "\n"
        << "  capture pin: instances " << capture.NumberOfPossibleInstances << ", data "
        << (capture.DataFlow == KSPIN_DATAFLOW_OUT ? "out" : "in") << ", stream property sets "
        << capture.NumStreamPropArrayEntries << ", formats " << capture.NumberOfFormatArrayEntries << ":\n";
    printFormats(device, out);
}

void printCamera(DeviceContext& context, camera::CameraOnBus& camera, std::ostream& out)
{
    CUsbCamera& usb = *context.Usb;
    const camera::VirtualCamera& registers = camera.camera();
    char idle[64];
    std::snprintf(idle, sizeof(idle), "0x0F=0x%02X 0x11=0x%02X 0x41=0x%02X", registers.writtenRegister(0x0F),
                  registers.writtenRegister(0x11), registers.writtenRegister(0x41));
    out << "camera:\n"
        << "  configured               " << yesNo(GetUsbConfigured(&context)) << ", alternate setting "
        << int(camera.bus().currentAlternate()) << "\n"
        << "  bus power (bMaxPower)    " << usb.BusPower << " (" << 2 * usb.BusPower << " mA)\n"
        << "  registers bound          " << yesNo(GetRegistersReady(&context)) << "; idle " << idle << "\n"
        << "  status channel           " << (ReadLockedFlag(&usb.StatusStarted) ? "running" : "stopped")
        << ", snapshot thread " << (context.SnapshotThread != nullptr ? "started" : "not started") << "\n";
}

void printStillInterface(host::Platform& platform, PDEVICE_OBJECT physicalDevice, std::ostream& out)
{
    out << "still-image interface:\n";
    for (const auto& entry : platform.deviceInterfaces()) {
        out << "  " << entry.symbolicLink << " " << entry.classGuid << (entry.enabled ? " enabled" : " disabled")
            << "\n";
    }
    const auto name = platform.registry().value(platform.driverKeyPath(physicalDevice), "CreateFileName");
    std::string text;
    for (std::size_t i = 0; name && i + 1 < name->data.size(); i += 2) {
        text.push_back(static_cast<char>(name->data[i]));
    }
    out << "  driver key CreateFileName \"" << text << "\"\n";
}

void printAdapterAnswers(host::StreamClassDevice& device, std::ostream& out)
{
    for (ULONG command : {ULONG(SRB_PAGING_OUT_DRIVER), ULONG(0x103), ULONG(0x10F)}) {
        auto answer = device.sendAdapterSrb(static_cast<SRB_COMMAND>(command), [](HW_STREAM_REQUEST_BLOCK&) {});
        out << "adapter " << host::srbCommandName(command) << ": " << status(answer.status) << "\n";
    }
    const NTSTATUS down = device.setPowerState(PowerDeviceD3);
    const NTSTATUS up = device.setPowerState(PowerDeviceD0);
    out << "power D3: " << status(down) << ", back to D0: " << status(up) << "\n";
}

void showDevice(host::Platform& platform, PDRIVER_OBJECT driverObject, std::ostream& out)
{
    camera::CameraOnBus camera;
    out << "virtual camera plugged in on the emulated USB bus\n";
    auto device = host::StreamClassDevice::add(driverObject, camera.deviceObject());
    const NTSTATUS started = device->start();
    out << "device start: " << status(started) << "\n";
    if (NT_SUCCESS(started)) {
        auto& context = *static_cast<DeviceContext*>(device->deviceExtension());
        printStreamDescriptor(*device, out);
        printCamera(context, camera, out);
        printStillInterface(platform, camera.deviceObject(), out);
    }
    printAdapterAnswers(*device, out);
    device->remove();
}

// The driver's registration, the device start and the formats, for scripts.
int printJson(std::ostream& out)
{
    host::Platform platform;
    installDriver(platform.registry());
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    const NTSTATUS loaded = DriverEntry(&driverObject, &registryPath);
    JsonWriter json(out);
    json.beginObject();
    json.field("driver_entry", statusName(loaded));
    if (NT_SUCCESS(loaded)) {
        json.field("wdm_level", static_cast<long>(WdmLevel));
        camera::CameraOnBus camera;
        auto device = host::StreamClassDevice::add(&driverObject, camera.deviceObject());
        const NTSTATUS started = device->start();
        json.field("device_start", statusName(started));
        json.key("formats");
        json.beginArray();
        for (const auto& range : NT_SUCCESS(started) ? device->streamFormats(0) : std::vector<host::FormatBytes>{}) {
            const auto video = range.as<KS_DATARANGE_VIDEO>();
            const auto& bitmap = video.VideoInfoHeader.bmiHeader;
            json.beginObject();
            json.field("format", bitmap.biCompression == CAPTURE_COMPRESSION_I420 ? "I420" : "RGB24");
            json.field("width", static_cast<long>(bitmap.biWidth));
            json.field("height", static_cast<long>(bitmap.biHeight));
            json.field("sample_size", static_cast<long>(video.DataRange.SampleSize));
            json.endObject();
        }
        json.endArray();
        device->remove();
        host::unloadDriver(&driverObject);
    }
    json.endObject();
    out << "\n";
    return NT_SUCCESS(loaded) ? kExitOk : kExitFailure;
}

int showInfo(std::ostream& out, std::ostream& err)
{
    host::Platform platform;
    installDriver(platform.registry());
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    const NTSTATUS loaded = DriverEntry(&driverObject, &registryPath);
    out << "DriverEntry: " << status(loaded) << "\n";
    if (!NT_SUCCESS(loaded)) {
        err << "korval info: the driver did not load\n";
        return 1;
    }
    printRegistration(*host::registeredAdapter(&driverObject), out);
    showDevice(platform, &driverObject, out);
    host::unloadDriver(&driverObject);
    out << "driver unloaded; no pool left\n";
    return 0;
}

} // namespace

CommandRunner defineInfo(CLI::App& app)
{
    app.description("Loads the driver on an emulated machine, starts the virtual camera's device and shows its "
                    "answers: the registration, the stream descriptor, the camera, the still-image interface, a few "
                    "adapter requests and a power cycle.");
    auto json = std::make_shared<bool>(false);
    app.add_flag("--json", *json, "the registration, device start and formats as JSON");
    return [json](std::ostream& out, std::ostream& err) { return *json ? printJson(out) : showInfo(out, err); };
}

} // namespace korval::tools
