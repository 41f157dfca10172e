// korval info: loads the driver on a fresh emulated machine, plugs the virtual
// camera in, shows what the driver registered with the stream class and how the
// adapter answers the device's start and a few requests, then removes the device and unloads the driver.
#include "camera/camera_on_bus.h"
#include "driver/Driver.h"
#include "host/kernel/platform.h"
#include "host/streamclass/stream_class.h"
#include "tools/korval/cli.h"

#include <cstdio>

namespace korval::tools {
namespace {

std::string status(NTSTATUS value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
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
}

void printAdapterAnswers(host::StreamClassDevice& device, std::ostream& out)
{
    out << "device start: " << status(device.start()) << "\n";
    for (ULONG command : {ULONG(SRB_PAGING_OUT_DRIVER), ULONG(0x103), ULONG(0x10F)}) {
        auto answer = device.sendAdapterSrb(static_cast<SRB_COMMAND>(command), [](HW_STREAM_REQUEST_BLOCK&) {});
        out << "adapter " << host::srbCommandName(command) << ": " << status(answer.status) << "\n";
    }
}

} // namespace

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (!args.empty()) {
        if (args[0] == "--help") {
            out << "usage: korval info\nLoads the driver on an emulated machine and shows its answers.\n";
            return 0;
        }
        err << "korval info: unexpected argument '" << args[0] << "'\n";
        return 2;
    }
    host::Platform platform;
    DRIVER_OBJECT driverObject{};
    UNICODE_STRING registryPath{};
    const NTSTATUS loaded = DriverEntry(&driverObject, &registryPath);
    out << "DriverEntry: " << status(loaded) << "\n";
    if (!NT_SUCCESS(loaded)) {
        err << "korval info: the driver did not load\n";
        return 1;
    }
    printRegistration(*host::registeredAdapter(&driverObject), out);
    camera::CameraOnBus camera;
    out << "virtual camera plugged in on the emulated USB bus\n";
    {
        auto device = host::StreamClassDevice::add(&driverObject, camera.deviceObject());
        printAdapterAnswers(*device, out);
        device->remove();
    }
    host::unloadDriver(&driverObject);
    out << "driver unloaded; no pool left\n";
    return 0;
}

} // namespace korval::tools
