// The set-up packet that goes on the wire for a vendor or class URB.
#pragma once

#include "platform/Usb.h"

#include <cstdint>

namespace korval::host {

inline std::uint8_t requestTypeFor(USHORT function, ULONG transferFlags)
{
    const std::uint8_t direction = (transferFlags & USBD_TRANSFER_DIRECTION) != 0 ? 0x80 : 0x00;
    const bool vendor = function <= URB_FUNCTION_VENDOR_ENDPOINT;
    const std::uint8_t type = vendor ? 0x40 : 0x20;
    const std::uint8_t recipient =
        static_cast<std::uint8_t>((function - (vendor ? URB_FUNCTION_VENDOR_DEVICE : URB_FUNCTION_CLASS_DEVICE)));
    return static_cast<std::uint8_t>(direction | type | recipient);
}

inline bool isVendorOrClass(USHORT function)
{
    return (function >= URB_FUNCTION_VENDOR_DEVICE && function <= URB_FUNCTION_CLASS_ENDPOINT);
}

} // namespace korval::host
