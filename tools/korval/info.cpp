// korval info: loads the driver on a fresh emulated machine, plugs the virtual
// camera in, starts the device and shows what the driver registered with the
// stream class, the started device (stream descriptor, the camera configured at
// alternate setting 0, the status channel, the still-image interface), how the
// adapter answers a few requests and a power cycle, then removes the device and
// unloads the driver.
#include "camera/camera_on_bus.h"
#include "driver/Driver.h"
#include "stream/StreamFormats.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"
#include "platform/CpuFeatures.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/driver_choice.h"
#include "tools/korval/hex_text.h"
#include "tools/korval/json_writer.h"
#include "tools/korval/registry_defaults.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace korval::tools {
namespace {

// What the driver's installation leaves under its parameters key: the offered
// formats (all five sizes).
constexpr std::uint32_t kAllFrameSizes = 0x00432105;

std::string status(NTSTATUS value)
{
    return hexText(static_cast<std::uint32_t>(value));
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

// A fresh emulated machine with the installations' registry and the driver loaded on it.
struct LoadedDriver {
    host::Platform platform;
    DriverLoader driver;
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    NTSTATUS loaded;

    LoadedDriver()
    {
        installDriver(platform.registry());
        loaded = driver.load(&driverObject, &registryPath);
    }
};

void printRegistration(const HW_INITIALIZATION_DATA& record, const DriverLoader& driver, std::ostream& out)
{
    out << "registered adapter:\n"
        << "  DeviceExtensionSize      " << record.DeviceExtensionSize << "\n"
        << "  PerRequestExtensionSize  " << record.PerRequestExtensionSize << "\n"
        << "  PerStreamExtensionSize   " << record.PerStreamExtensionSize << "\n"
        << "  BufferAlignment          " << record.BufferAlignment << "\n"
        << "  TurnOffSynchronization   " << (record.TurnOffSynchronization ? "TRUE" : "FALSE") << "\n";
    if (driver.image() == nullptr) {
        out << "  WdmLevel                 " << WdmLevel << "\n";
    }
    const CPU_FEATURES features = CpuDetectedFeatures();
    out << "  pixel path               " << driver.pixelPath() << " (processor: SSE2 "
        << yesNo(features.Sse2) << ", SSSE3 " << yesNo(features.Ssse3) << ", AVX2 with YMM state "
        << yesNo(features.Avx2) << ", AVX-512 VBMI with ZMM state " << yesNo(features.Avx512Vbmi) << ")\n";
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

// The file a --driver image came from, and what loading it took.
void printImage(const host::DriverImageFacts& image, std::ostream& out)
{
    std::string discarded;
    for (const std::string& section : image.sectionsDiscarded) {
        discarded += " " + section;
    }
    out << "driver image:\n"
        << "  path                     " << image.path.string() << "\n"
        << "  size                     " << image.fileSize << " bytes\n"
        << "  time stamp               " << hexText(image.timeDateStamp) << "\n"
        << "  checksum                 " << hexText(image.checkSum) << " (matches the file)\n"
        << "  loaded at                " << hexText(image.loadBase) << " (image base " << hexText(image.imageBase) << ", "
        << image.relocationsApplied << " relocations applied)\n"
        << "  imports bound            " << image.importsBound << "\n"
        << "  sections discarded       " << (discarded.empty() ? " none (no INIT section)" : discarded) << "\n";
}

// What the camera itself shows of the device start, for an image whose own records are its business.
void printCameraSide(camera::CameraOnBus& camera, std::ostream& out)
{
    const camera::VirtualCamera& registers = camera.camera();
    char idle[64];
    std::snprintf(idle, sizeof(idle), "0x0F=0x%02X 0x11=0x%02X 0x41=0x%02X", registers.writtenRegister(0x0F),
                  registers.writtenRegister(0x11), registers.writtenRegister(0x41));
    out << "camera:\n"
        << "  alternate setting        " << int(camera.bus().currentAlternate()) << "\n"
        << "  idle registers           " << idle << "\n";
}

// What the bus shows of the device the driver started: its configuration,
// the setting, the power it asks for and the status pipe's waiting transfer.
void printCamera(camera::CameraOnBus& camera, std::ostream& out)
{
    const camera::VirtualCamera& registers = camera.camera();
    const auto configuration = camera.camera().descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0);
    const unsigned maxPower = configuration.size() > 8 ? configuration[8] : 0;
    char idle[64];
    std::snprintf(idle, sizeof(idle), "0x0F=0x%02X 0x11=0x%02X 0x41=0x%02X", registers.writtenRegister(0x0F),
                  registers.writtenRegister(0x11), registers.writtenRegister(0x41));
    const bool statusWaiting = camera.bus().pendingOn(camera::kStatusEndpointAddress) != 0;
    out << "camera:\n"
        << "  configured               " << yesNo(camera.bus().configured()) << ", alternate setting "
        << int(camera.bus().currentAlternate()) << "\n"
        << "  bus power (bMaxPower)    " << maxPower << " (" << 2 * maxPower << " mA)\n"
        << "  registers written        idle " << idle << "\n"
        << "  status channel           " << (statusWaiting ? "running" : "stopped")
        << " (an interrupt transfer waits on endpoint 0x83: " << yesNo(statusWaiting) << ")\n";
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
    for (std::size_t i = 0; name && i + 1 < name->data.size() && (name->data[i] | name->data[i + 1]) != 0; i += 2) {
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

void showDevice(host::Platform& platform, PDRIVER_OBJECT driverObject, const DriverLoader& driver, std::ostream& out)
{
    camera::CameraOnBus camera;
    out << "virtual camera plugged in on the emulated USB bus\n";
    auto device = host::StreamClassDevice::add(driverObject, camera.deviceObject());
    const NTSTATUS started = device->start();
    out << "device start: " << status(started) << "\n";
    if (NT_SUCCESS(started)) {
        printStreamDescriptor(*device, out);
        if (driver.image() != nullptr) {
            printCameraSide(camera, out);
        } else {
            printCamera(camera, out);
        }
        printStillInterface(platform, camera.deviceObject(), out);
    }
    printAdapterAnswers(*device, out);
    device->remove();
}

void printImageJson(const host::DriverImageFacts& image, JsonWriter& json)
{
    json.key("driver_image");
    json.beginObject();
    json.field("path", image.path.string());
    json.field("size", static_cast<long>(image.fileSize));
    json.field("time_stamp", hexText(image.timeDateStamp));
    json.field("checksum", hexText(image.checkSum));
    json.field("load_base", hexText(image.loadBase));
    json.field("relocations_applied", static_cast<long>(image.relocationsApplied));
    json.field("imports_bound", static_cast<long>(image.importsBound));
    json.endObject();
}

void printRegistrationJson(const HW_INITIALIZATION_DATA& record, const DriverLoader& driver, JsonWriter& json)
{
    json.key("registration");
    json.beginObject();
    json.field("device_extension_size", static_cast<long>(record.DeviceExtensionSize));
    json.field("per_request_extension_size", static_cast<long>(record.PerRequestExtensionSize));
    json.field("per_stream_extension_size", static_cast<long>(record.PerStreamExtensionSize));
    json.field("buffer_alignment", static_cast<long>(record.BufferAlignment));
    json.field("turn_off_synchronization", record.TurnOffSynchronization != FALSE);
    json.endObject();
    const CPU_FEATURES features = CpuDetectedFeatures();
    json.field("pixel_path", driver.pixelPath());
    json.key("processor");
    json.beginObject();
    json.field("sse2", features.Sse2 != FALSE);
    json.field("ssse3", features.Ssse3 != FALSE);
    json.field("avx2", features.Avx2 != FALSE);
    json.field("avx512vbmi", features.Avx512Vbmi != FALSE);
    json.endObject();
}

void printStreamJson(const host::StreamClassDevice& device, JsonWriter& json)
{
    const HW_STREAM_HEADER& header = device.streamHeader();
    const HW_STREAM_INFORMATION& capture = device.streamInformation(0);
    json.key("stream_descriptor");
    json.beginObject();
    json.field("streams", static_cast<long>(header.NumberOfStreams));
    json.field("device_property_sets", static_cast<long>(header.NumDevPropArrayEntries));
    json.field("device_event_sets", static_cast<long>(header.NumDevEventArrayEntries));
    json.field("capture_pin_instances", static_cast<long>(capture.NumberOfPossibleInstances));
    json.field("capture_pin_data", capture.DataFlow == KSPIN_DATAFLOW_OUT ? "out" : "in");
    json.field("stream_property_sets", static_cast<long>(capture.NumStreamPropArrayEntries));
    json.endObject();
    json.key("formats");
    json.beginArray();
    for (const auto& range : device.streamFormats(0)) {
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
}

// The camera as the bus shows it (for an image, only what the camera itself sees).
void printCameraJson(camera::CameraOnBus& camera, bool image, JsonWriter& json)
{
    const camera::VirtualCamera& registers = camera.camera();
    char idle[64];
    std::snprintf(idle, sizeof(idle), "0x0F=0x%02X 0x11=0x%02X 0x41=0x%02X", registers.writtenRegister(0x0F),
                  registers.writtenRegister(0x11), registers.writtenRegister(0x41));
    json.key("camera");
    json.beginObject();
    json.field("alternate_setting", static_cast<long>(camera.bus().currentAlternate()));
    json.field("idle_registers", idle);
    if (!image) {
        const auto configuration = camera.camera().descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0);
        const long maxPower = configuration.size() > 8 ? configuration[8] : 0;
        json.field("configured", camera.bus().configured());
        json.field("bus_power_ma", 2 * maxPower);
        json.field("status_channel_running", camera.bus().pendingOn(camera::kStatusEndpointAddress) != 0);
    }
    json.endObject();
}

void printStillInterfaceJson(host::Platform& platform, PDEVICE_OBJECT physicalDevice, JsonWriter& json)
{
    json.key("still_interfaces");
    json.beginArray();
    for (const auto& entry : platform.deviceInterfaces()) {
        json.beginObject();
        json.field("symbolic_link", entry.symbolicLink);
        json.field("class_guid", entry.classGuid);
        json.field("enabled", entry.enabled);
        json.endObject();
    }
    json.endArray();
    const auto name = platform.registry().value(platform.driverKeyPath(physicalDevice), "CreateFileName");
    std::string text;
    for (std::size_t i = 0; name && i + 1 < name->data.size() && (name->data[i] | name->data[i + 1]) != 0; i += 2) {
        text.push_back(static_cast<char>(name->data[i]));
    }
    json.field("create_file_name", text);
}

void printAdapterJson(host::StreamClassDevice& device, JsonWriter& json)
{
    json.key("adapter_requests");
    json.beginObject();
    for (ULONG command : {ULONG(SRB_PAGING_OUT_DRIVER), ULONG(0x103), ULONG(0x10F)}) {
        auto answer = device.sendAdapterSrb(static_cast<SRB_COMMAND>(command), [](HW_STREAM_REQUEST_BLOCK&) {});
        json.field(host::srbCommandName(command), statusName(answer.status));
    }
    json.endObject();
    const NTSTATUS down = device.setPowerState(PowerDeviceD3);
    const NTSTATUS up = device.setPowerState(PowerDeviceD0);
    json.field("power_d3", statusName(down));
    json.field("power_d0", statusName(up));
}

void printDeviceJson(host::Platform& platform, PDRIVER_OBJECT driverObject, const DriverLoader& driver,
                     JsonWriter& json)
{
    camera::CameraOnBus camera;
    auto device = host::StreamClassDevice::add(driverObject, camera.deviceObject());
    const NTSTATUS started = device->start();
    json.field("device_start", statusName(started));
    if (NT_SUCCESS(started)) {
        printStreamJson(*device, json);
        printCameraJson(camera, driver.image() != nullptr, json);
        printStillInterfaceJson(platform, camera.deviceObject(), json);
    }
    printAdapterJson(*device, json);
    device->remove();
}

// Everything 'korval info' shows, for scripts.
int printJson(std::ostream& out, std::ostream& err)
{
    LoadedDriver machine;
    auto& [platform, driver, driverObject, registryPath, loaded] = machine;
    JsonWriter json(out);
    json.beginObject();
    if (driver.image() != nullptr) {
        printImageJson(driver.image()->facts(), json);
    }
    json.field("driver_entry", statusName(loaded));
    if (NT_SUCCESS(loaded)) {
        if (driver.image() == nullptr) {
            json.field("wdm_level", static_cast<long>(WdmLevel));
        }
        printRegistrationJson(*host::registeredAdapter(&driverObject), driver, json);
        printDeviceJson(platform, &driverObject, driver, json);
        host::unloadDriver(&driverObject);
        json.field("unloaded", true);
    } else {
        json.field("pixel_path", driver.pixelPath());
    }
    json.endObject();
    out << "\n";
    if (!NT_SUCCESS(loaded)) {
        err << "korval info: the driver did not load\n";
        return kExitFailure;
    }
    return kExitOk;
}

int showInfo(std::ostream& out, std::ostream& err)
{
    LoadedDriver machine;
    auto& [platform, driver, driverObject, registryPath, loaded] = machine;
    if (driver.image() != nullptr) {
        printImage(driver.image()->facts(), out);
    }
    out << "DriverEntry: " << status(loaded) << "\n";
    if (!NT_SUCCESS(loaded)) {
        err << "korval info: the driver did not load\n";
        return kExitFailure;
    }
    printRegistration(*host::registeredAdapter(&driverObject), driver, out);
    showDevice(platform, &driverObject, driver, out);
    host::unloadDriver(&driverObject);
    out << "driver unloaded; no pool left\n";
    return kExitOk;
}

} // namespace

CommandRunner defineInfo(CLI::App& app)
{
    app.description("Loads the driver on an emulated machine, starts the virtual camera's device and shows its "
                    "answers: the registration, the stream descriptor, the camera, the still-image interface, a few "
                    "adapter requests and a power cycle.");
    auto json = std::make_shared<bool>(false);
    app.add_flag("--json", *json, "all of it as JSON");
    return [json](std::ostream& out, std::ostream& err) { return *json ? printJson(out, err) : showInfo(out, err); };
}

} // namespace korval::tools
