// The camera's USB identity: a full-speed device with one configuration whose
// interface 0 has nine alternate settings of six endpoints each. Endpoint
// index 2 reports the snapshot button (interrupt IN, 2 bytes), index 4 carries
// the video (isochronous IN) with a packet size that grows with the setting.
#pragma once

#include <cstdint>
#include <vector>

namespace korval::camera {

constexpr int kAlternateSettings = 9;
constexpr int kEndpointsPerAlternate = 6;
constexpr int kStatusEndpointIndex = 2;
constexpr int kVideoEndpointIndex = 4;
constexpr std::uint8_t kStatusEndpointAddress = 0x83;
constexpr std::uint8_t kVideoEndpointAddress = 0x85;
constexpr std::uint8_t kStatusInterval = 16; // ms between polls of the status endpoint
constexpr std::uint16_t kStatusPacketSize = 2;

// wMaxPacketSize of the video endpoint per alternate setting: 0 at setting 0,
// then steps of 128 bytes up to the full-speed maximum of 1023 at setting 8.
constexpr std::uint16_t videoPacketSize(int alternate)
{
    return alternate <= 0 ? 0 : alternate >= 8 ? 1023 : static_cast<std::uint16_t>(alternate * 128);
}

struct DescriptorOptions {
    std::uint8_t maxPower = 250;       // bMaxPower, units of 2 mA
    int alternateSettings = kAlternateSettings;
    int endpointsPerAlternate = kEndpointsPerAlternate;
};

std::vector<std::uint8_t> buildDeviceDescriptor();
std::vector<std::uint8_t> buildConfigurationDescriptor(const DescriptorOptions& options);

} // namespace korval::camera
