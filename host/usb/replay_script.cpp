#include "host/usb/replay_script.h"

#include <algorithm>
#include <tuple>

namespace korval::host {
namespace {

constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kDeviceDescriptor = 0x01;
constexpr std::int64_t kTicksPerBusFrame = 10'000;

bool isDeviceDescriptorRequest(const SetupPacket& setup)
{
    return setup.requestType == 0x80 && setup.request == kGetDescriptor && (setup.value >> 8) == kDeviceDescriptor;
}

bool isVideoCompletion(const RecordedTransfer& transfer)
{
    return transfer.completion && transfer.ok && transfer.type == TransferType::Isochronous &&
           (transfer.endpoint & 0x80) != 0;
}

// Pairs each control submission with the completion records of its URB (a
// URB or IRP is reused once it has completed; USBPcap sends a request's data
// and completion stages as separate records).
std::vector<ReplayScript::Control> controlsOf(const UsbRecording& recording, std::uint16_t bus,
                                              std::uint16_t address)
{
    std::vector<ReplayScript::Control> controls;
    std::map<std::uint64_t, std::size_t> open;
    for (const RecordedTransfer& transfer : recording.transfers) {
        if (transfer.bus != bus || transfer.address != address || transfer.type != TransferType::Control) {
            continue;
        }
        if (!transfer.completion) {
            if (transfer.setup) {
                open[transfer.id] = controls.size();
                controls.push_back({*transfer.setup, false, false, {}, transfer.record});
            }
            continue;
        }
        const auto it = open.find(transfer.id);
        if (it == open.end()) {
            continue; // its submission came before the recording started
        }
        ReplayScript::Control& control = controls[it->second];
        control.answered = true;
        control.ok = transfer.ok;
        if (control.setup.deviceToHost()) {
            control.answer.insert(control.answer.end(), transfer.data.begin(), transfer.data.end());
        }
    }
    return controls;
}

// The recorded time of each isochronous IN packet: a transfer completes with
// its last packet, and full-speed packets are 1 ms apart.
std::vector<std::int64_t> packetTimes(const UsbRecording& recording, std::uint16_t bus, std::uint16_t address)
{
    std::vector<std::int64_t> times;
    for (const RecordedTransfer& transfer : recording.transfers) {
        if (transfer.bus == bus && transfer.address == address && isVideoCompletion(transfer)) {
            const auto count = static_cast<std::int64_t>(transfer.packets.size());
            for (std::int64_t i = 0; i < count; ++i) {
                times.push_back(transfer.time - (count - 1 - i) * kTicksPerBusFrame);
            }
        }
    }
    std::sort(times.begin(), times.end());
    return times;
}

void addDescriptors(ReplayScript& script)
{
    for (const ReplayScript::Control& control : script.controls) {
        const SetupPacket& setup = control.setup;
        if (control.answered && control.ok && setup.requestType == 0x80 && setup.request == kGetDescriptor) {
            auto& known = script.descriptors[setup.value];
            if (control.answer.size() > known.size()) {
                known = control.answer;
            }
        }
    }
}

} // namespace

std::vector<RecordedDevice> devicesOf(const UsbRecording& recording)
{
    std::vector<RecordedDevice> devices;
    // Per URB of a device: its open submission asks for the device descriptor.
    std::map<std::tuple<std::uint16_t, std::uint16_t, std::uint64_t>, bool> deviceRequests;
    for (const RecordedTransfer& transfer : recording.transfers) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const RecordedDevice& device) {
            return device.bus == transfer.bus && device.address == transfer.address;
        });
        if (it == devices.end()) {
            it = devices.insert(devices.end(), {transfer.bus, transfer.address, {}, {}, 0});
        }
        const auto key = std::make_tuple(transfer.bus, transfer.address, transfer.id);
        if (transfer.type == TransferType::Control && !transfer.completion) {
            deviceRequests[key] = transfer.setup && isDeviceDescriptorRequest(*transfer.setup);
        } else if (transfer.type == TransferType::Control && transfer.ok && transfer.data.size() >= 12 &&
                   deviceRequests[key] && transfer.data[1] == kDeviceDescriptor) {
            it->vendor = static_cast<std::uint16_t>(transfer.data[8] | transfer.data[9] << 8);
            it->product = static_cast<std::uint16_t>(transfer.data[10] | transfer.data[11] << 8);
        } else if (isVideoCompletion(transfer)) {
            it->isochronousPackets += transfer.packets.size();
        }
    }
    return devices;
}

ReplayScript scriptOf(const UsbRecording& recording, std::uint16_t bus, std::uint16_t address)
{
    ReplayScript script;
    script.controls = controlsOf(recording, bus, address);
    addDescriptors(script);
    const std::vector<std::int64_t> times = packetTimes(recording, bus, address);
    for (const RecordedTransfer& transfer : recording.transfers) {
        if (transfer.bus != bus || transfer.address != address) {
            continue;
        }
        if (isVideoCompletion(transfer)) {
            auto& queue = script.packets[transfer.endpoint];
            for (const RecordedPacket& packet : transfer.packets) {
                // A failed or empty packet brought nothing: it is played as an empty one
                // (its offset, which nothing read, may lie anywhere).
                if (!packet.ok || packet.length == 0) {
                    queue.emplace_back();
                } else {
                    const auto from = transfer.data.begin() + static_cast<std::ptrdiff_t>(packet.offset);
                    queue.emplace_back(from, from + static_cast<std::ptrdiff_t>(packet.length));
                }
                ++script.packetCount;
            }
        } else if (transfer.completion && transfer.ok && transfer.type == TransferType::Interrupt &&
                   (transfer.endpoint & 0x80) != 0 && !transfer.data.empty()) {
            const auto before = std::lower_bound(times.begin(), times.end(), transfer.time) - times.begin();
            script.reports[transfer.endpoint].push_back({transfer.data, static_cast<std::size_t>(before)});
        }
    }
    return script;
}

} // namespace korval::host
