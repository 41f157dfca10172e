// The three vendor requests on interface 0 that reach the controller's
// registers: write one, write a run of 2 to 8, read one.
#include "usb/CCameraRegisters.h"

#include "usb/CUsbCamera.h"

#include <cstring>

namespace {

constexpr UCHAR REQUEST_WRITE_REGISTER = 0x00;
constexpr UCHAR REQUEST_WRITE_BLOCK = 0x01;
constexpr UCHAR REQUEST_READ_REGISTER = 0x03;
constexpr ULONG BLOCK_MIN = 2;
constexpr ULONG BLOCK_MAX = 8;
constexpr ULONG READ_ANSWER_BYTES = 2;
constexpr UCHAR READ_FILL = 0xCC;

} // namespace

bool CCameraRegisters::WriteRegister(UCHAR registerNumber, UCHAR value)
{
    if (!IsReady()) {
        return false;
    }
    ULONG transferred = 0;
    return UsbCamera->VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, USBD_TRANSFER_DIRECTION_OUT, 0,
                                    REQUEST_WRITE_REGISTER, value, registerNumber, nullptr, 0, &transferred);
}

// The bytes go out from a copy, so the data stage never points into a buffer
// the caller may change while the request is on its way.
bool CCameraRegisters::WriteRegisterBlock(UCHAR first, ULONG count, const UCHAR* bytes, ULONG bufferSize)
{
    if (count < BLOCK_MIN || count > BLOCK_MAX || count > bufferSize || bytes == nullptr) {
        return false;
    }
    if (!IsReady()) {
        return false;
    }
    UCHAR block[BLOCK_MAX];
    memcpy(block, bytes, count);
    ULONG transferred = 0;
    return UsbCamera->VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, USBD_TRANSFER_DIRECTION_OUT, 0,
                                    REQUEST_WRITE_BLOCK, 0, first, block, count, &transferred);
}

// Only a full two-byte answer counts; on any failure *value keeps its contents.
bool CCameraRegisters::ReadRegister(UCHAR registerNumber, PUCHAR value)
{
    if (value == nullptr || !IsReady()) {
        return false;
    }
    UCHAR answer[READ_ANSWER_BYTES] = {READ_FILL, READ_FILL};
    ULONG transferred = 0;
    const bool answered =
        UsbCamera->VendorRequest(URB_FUNCTION_VENDOR_INTERFACE, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK,
                                 0, REQUEST_READ_REGISTER, 0, registerNumber, answer, READ_ANSWER_BYTES,
                                 &transferred);
    if (!answered || transferred != READ_ANSWER_BYTES) {
        return false;
    }
    *value = answer[0];
    return true;
}
