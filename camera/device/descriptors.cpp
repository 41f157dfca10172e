// Byte images of the device and configuration descriptors.
#include "camera/device/descriptors.h"

namespace korval::camera {
namespace {

constexpr std::uint16_t kVendorId = 0x4B56;
constexpr std::uint16_t kProductId = 0x0110;

void putWord(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putEndpoint(std::vector<std::uint8_t>& out, std::uint8_t address, std::uint8_t attributes,
                 std::uint16_t maxPacket, std::uint8_t interval)
{
    out.insert(out.end(), {7, 0x05, address, attributes});
    putWord(out, maxPacket);
    out.push_back(interval);
}

// Endpoint index -> the endpoint of one alternate setting. Only indexes 2 and 4
// carry data; the others exist because the controller exposes them.
void putAlternateEndpoints(std::vector<std::uint8_t>& out, int alternate, int endpoints)
{
    for (int index = 0; index < endpoints; ++index) {
        switch (index) {
        case 0: putEndpoint(out, 0x81, 0x02, 64, 0); break;
        case 1: putEndpoint(out, 0x02, 0x02, 64, 0); break;
        case kStatusEndpointIndex:
            putEndpoint(out, kStatusEndpointAddress, 0x03, kStatusPacketSize, kStatusInterval);
            break;
        case 3: putEndpoint(out, 0x84, 0x02, 64, 0); break;
        case kVideoEndpointIndex:
            putEndpoint(out, kVideoEndpointAddress, 0x01, videoPacketSize(alternate), 1);
            break;
        default: putEndpoint(out, static_cast<std::uint8_t>(0x01 + index), 0x02, 64, 0); break;
        }
    }
}

} // namespace

std::vector<std::uint8_t> buildDeviceDescriptor()
{
    std::vector<std::uint8_t> out = {18, 0x01};
    putWord(out, 0x0110);              // USB 1.1
    out.insert(out.end(), {0xFF, 0xFF, 0xFF, 8});
    putWord(out, kVendorId);
    putWord(out, kProductId);
    putWord(out, 0x0100);
    out.insert(out.end(), {0, 0, 0, 1});
    return out;
}

std::vector<std::uint8_t> buildConfigurationDescriptor(const DescriptorOptions& options)
{
    std::vector<std::uint8_t> out = {9, 0x02, 0, 0, 1, 1, 0, 0x80, options.maxPower};
    for (int alternate = 0; alternate < options.alternateSettings; ++alternate) {
        out.insert(out.end(), {9, 0x04, 0, static_cast<std::uint8_t>(alternate),
                               static_cast<std::uint8_t>(options.endpointsPerAlternate), 0xFF,
                               0xFF, 0xFF, 0});
        putAlternateEndpoints(out, alternate, options.endpointsPerAlternate);
    }
    out[2] = static_cast<std::uint8_t>(out.size() & 0xFF);
    out[3] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

} // namespace korval::camera
