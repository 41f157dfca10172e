// A USB recording is a file from anywhere: any content must either be read or
// be refused with a message, and what is read must play back without the
// recorded device ever handing out more than a transfer has room for.
#include "host/usb/replay_device.h"
#include "host/usb/usb_recording.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

constexpr std::size_t kRoom = 1023;

void play(korval::host::ReplayDevice& device, const korval::host::ReplayScript& script)
{
    std::uint8_t buffer[kRoom + 1];
    device.descriptor(1, 0);
    device.descriptor(2, 0);
    for (const auto& control : script.controls) {
        if (device.control(control.setup, buffer).bytes > control.setup.length) {
            std::abort();
        }
    }
    for (std::uint64_t frame = 1; frame < 4 * script.packetCount + 80 && !device.finished(); ++frame) {
        device.startOfFrame(frame);
        for (const auto& [endpoint, packets] : script.packets) {
            if (device.isochronousIn(endpoint, buffer, frame % 7 == 0 ? 64 : kRoom) > kRoom) {
                std::abort();
            }
        }
        for (const auto& [endpoint, reports] : script.reports) {
            if (device.interruptIn(endpoint, buffer, 2).value_or(0) > 2) {
                std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    const auto recording = korval::host::readUsbRecording(std::span(data, size), error);
    if (!recording) {
        if (error.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    for (const auto& found : korval::host::devicesOf(*recording)) {
        const auto script = korval::host::scriptOf(*recording, found.bus, found.address);
        if (script.packetCount > 4096) {
            continue; // the replay of a large recording is the same loop, only longer
        }
        korval::host::ReplayDevice device(script, std::make_shared<korval::host::ReplayJournal>());
        play(device, script);
    }
    return 0;
}
