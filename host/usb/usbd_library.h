// Host side of the USBD library routines declared in platform/Usb.h.
#pragma once

#include <cstdint>

namespace korval::host {

// Pool tag of the URBs that USBD_CreateConfigurationRequestEx allocates ("USBD").
constexpr std::uint32_t kUsbdPoolTag = 0x44425355;

} // namespace korval::host
