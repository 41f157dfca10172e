// Writes what the bus carries as a pcap file in the Linux usbmon format
// (link type 220, the memory-mapped header with isochronous descriptors), the
// format usbmon captures and Wireshark reads: one record per submission and
// per completion of each URB, time-stamped with the platform clock.
#pragma once

#include "host/usb/bus_tap.h"

#include <cstdint>
#include <fstream>
#include <string>

namespace korval::host {

class UsbmonPcapWriter final : public BusTap {
public:
    static constexpr std::uint32_t kLinkType = 220;
    static constexpr std::uint8_t kDeviceAddress = 1;
    static constexpr std::uint16_t kBusNumber = 1;

    // False with `error` naming the file when it cannot be created.
    bool open(const std::string& path, std::string& error);
    // False with `error` when a record could not be written.
    bool close(std::string& error);

    void transfer(const TransferEvent& event) override;

private:
    std::string path_;
    std::ofstream file_;
};

} // namespace korval::host
