// Whole-device programming: every register from the shadow, the power-on
// defaults, the idle state, the stored table of the capture-stream open, video
// enable and the indicator.
#include "usb/CCameraRegisters.h"

#include "usb/CUsbCamera.h"

namespace {

// Field values of the reset state, in field order; the indicator (field 71)
// depends on the bus power and is set apart.
constexpr ULONG RESET_FIELDS[CAMERA_FIELD_COUNT] = {
    0,   0,   3,   301, 1,   223, 0,   45,  0,   0,   //  0.. 9
    0,   0,   100, 100, 100, 10,  0,   1,   0,   0,   // 10..19
    0,   0,   3,   3,   0,   0,   0,   1,   1,   0,   // 20..29
    0,   1,   0,   0,   0,   0,   0,   0,   0,   0,   // 30..39
    0,   0,   0,   0,   0,   0,   0,   0,   0,   1,   // 40..49
    1,   1,   0,   0,   0,   0,   1,   0,   1,   0,   // 50..59
    0,   0,   0,   0,   56,  0,   0,   0,   0,   0,   // 60..69
    0,   0,   0,   200, 600, 650, 700, 54,  0,   444, // 70..79
};

// The stored table: bytes 0..23 of the A_0..A_8 string land in registers
// 0x02..0x19, bytes 24..35 in registers 0x40..0x4B.
constexpr ULONG STORED_LOW_BYTES = 24;
constexpr UCHAR STORED_LOW_FIRST = 0x02;
constexpr UCHAR STORED_HIGH_FIRST = 0x40;

UCHAR StoredTableByte(const ULONG* storedTable, ULONG index)
{
    return static_cast<UCHAR>(storedTable[index / 4] >> (8 * (index % 4)));
}

} // namespace

bool CCameraRegisters::WriteImageRange(UCHAR first, ULONG count)
{
    return WriteRegisterBlock(first, count, RegisterImage + first, CAMERA_REGISTER_IMAGE_BYTES - first);
}

bool CCameraRegisters::WriteImageRegister(UCHAR registerNumber)
{
    return WriteRegister(registerNumber, RegisterImage[registerNumber]);
}

bool CCameraRegisters::CommitBatch()
{
    return WriteRegister(REGISTER_BATCH_ARM, 1) && WriteRegister(REGISTER_BATCH_COMMIT, 1);
}

// Registers 0x00, 0x01, 0x1A and 0x1B are left as the camera has them.
bool CCameraRegisters::WriteAllRegisters()
{
    return WriteImageRange(0x02, 8) && WriteImageRange(0x0A, 8) && WriteImageRange(0x12, 8) &&
           WriteImageRange(0x40, 8) && WriteImageRange(0x48, 4) && CommitBatch();
}

// A bus power of 500 means the configuration descriptor was never read.
VOID CCameraRegisters::LoadResetFields()
{
    for (ULONG field = 0; field < CAMERA_FIELD_COUNT; ++field) {
        Field[field] = RESET_FIELDS[field];
    }
    Field[FIELD_INDICATOR] = BusPower != USB_BUS_POWER_UNREAD ? 1 : 0;
}

bool CCameraRegisters::ResetRegisters()
{
    DeviceContext* device = Device;
    if (device == nullptr) {
        LoadResetFields();
        EncodeImage();
        return false;
    }
    // The RegistersReady lock keeps the fields and the image consistent for
    // anyone who looks at them under that lock.
    const KIRQL oldIrql = KfAcquireSpinLock(&device->RegistersReady.Lock);
    LoadResetFields();
    EncodeImage();
    KfReleaseSpinLock(&device->RegistersReady.Lock, oldIrql);
    return WriteAllRegisters();
}

bool CCameraRegisters::SetVideoEnable(bool on)
{
    if (!IsReady()) {
        return false;
    }
    Field[FIELD_VIDEO_ENABLE] = on ? 1 : 0;
    EncodeImage();
    return WriteImageRegister(REGISTER_VIDEO_CONTROL);
}

bool CCameraRegisters::SetIndicator(bool on)
{
    Field[FIELD_INDICATOR] = on ? 1 : 0;
    EncodeImage();
    return WriteImageRegister(REGISTER_INDICATOR);
}

bool CCameraRegisters::SetIndicatorOpen()
{
    return SetIndicator(BusPower == CAMERA_INDICATOR_BUS_POWER);
}

bool CCameraRegisters::SetIndicatorClosed()
{
    return SetIndicator(BusPower != CAMERA_INDICATOR_BUS_POWER);
}

// The controller's state while no capture stream is open (initialization
// complete and power-up without an open stream).
bool CCameraRegisters::WriteIdleRegisters()
{
    RegisterImage[REGISTER_IDLE_A] = REGISTER_IDLE_A_VALUE;
    RegisterImage[REGISTER_IDLE_B] = REGISTER_IDLE_B_VALUE;
    DecodeImage();
    return WriteRegister(REGISTER_IDLE_A, REGISTER_IDLE_A_VALUE) &&
           WriteRegister(REGISTER_IDLE_B, REGISTER_IDLE_B_VALUE);
}

bool CCameraRegisters::ProgramStoredTable(const ULONG* storedTable)
{
    if (storedTable == nullptr) {
        return false;
    }
    for (ULONG i = 0; i < STORED_TABLE_SLOTS * 4; ++i) {
        const ULONG target = i < STORED_LOW_BYTES ? STORED_LOW_FIRST + i : STORED_HIGH_FIRST + (i - STORED_LOW_BYTES);
        RegisterImage[target] = StoredTableByte(storedTable, i);
    }
    DecodeImage();
    return WriteAllRegisters();
}

// The capture-stream open: the stored table when the settings' checksum held,
// else the defaults; then the indicator in its open state.
bool CCameraRegisters::ProgramCaptureOpen(BOOLEAN settingsValid, const ULONG* storedTable)
{
    const bool programmed = settingsValid ? ProgramStoredTable(storedTable) : ResetRegisters();
    return programmed && SetIndicatorOpen();
}

// Initialization complete: the indicator off and the controller idle. Both
// steps are tried whatever the first one did.
bool CCameraRegisters::ProgramDeviceIdle()
{
    const bool indicator = SetIndicatorClosed();
    const bool idle = WriteIdleRegisters();
    return indicator && idle;
}

// Back in D0 the camera gets its whole state again: every register and the
// open indicator while a capture stream is open, else the idle state.
bool CCameraRegisters::ProgramPowerUp(BOOLEAN captureOpen)
{
    if (!captureOpen) {
        return WriteIdleRegisters();
    }
    return WriteAllRegisters() && SetIndicatorOpen();
}
