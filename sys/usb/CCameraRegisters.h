// The camera controller's registers as the driver sees them: a shadow byte per
// register (RegisterImage) and the same contents decoded into 80 field values.
// Callers edit fields, re-encode the image and write the registers they
// changed; no register is ever read to be modified. Every batch of changes
// ends with 1 written to register 0x13 and then to register 0x1C, which makes
// the camera take the batch. Requests go through CUsbCamera::VendorRequest and
// are refused while the device's RegistersReady flag is clear.
#pragma once

#include "base/AeRecords.h"
#include "base/DeviceContext.h"
#include "base/PoolAllocator.h"
#include "platform/Platform.h"

class CUsbCamera;

constexpr ULONG CAMERA_FIELD_COUNT = 80;
constexpr ULONG CAMERA_REGISTER_IMAGE_BYTES = 0x4C; // registers 0x00..0x4B (0x1C..0x3F unused)

// Fields with a known use; the others are carried as they are.
constexpr ULONG FIELD_ORIENTATION = 0;        // register 0x00 and the high nibble of 0x01
constexpr ULONG FIELD_CLOCK_DIVIDER = 2;
constexpr ULONG FIELD_FRAME_LINES = 3;
constexpr ULONG FIELD_EXPOSURE_START_LINE = 4;
constexpr ULONG FIELD_FINE_DELAY = 5;
constexpr ULONG FIELD_SHORT_EXPOSURE = 7;
constexpr ULONG FIELD_GAIN_INDEX_BLUE = 8;
constexpr ULONG FIELD_GAIN_INDEX_GREEN_BLUE_ROW = 9;
constexpr ULONG FIELD_GAIN_INDEX_GREEN_RED_ROW = 10;
constexpr ULONG FIELD_GAIN_INDEX_RED = 11;
constexpr ULONG FIELD_DIGITAL_GAIN_RED = 12;
constexpr ULONG FIELD_DIGITAL_GAIN_GREEN = 13;
constexpr ULONG FIELD_DIGITAL_GAIN_BLUE = 14;
constexpr ULONG FIELD_GAIN = 15;
constexpr ULONG FIELD_LINE_CLOCK_REGISTER = 65; // register 0x18 whole; bits 1..0 follow FIELD_CLOCK_CODE
constexpr ULONG FIELD_VIDEO_ENABLE = 69;
constexpr ULONG FIELD_INDICATOR = 71;
constexpr ULONG FIELD_EXTRA1 = 73; // FIELD_EXTRA1 + i for extra1..extra4
constexpr ULONG FIELD_RATE_VALUE = 77;
constexpr ULONG FIELD_CLOCK_CODE = 79; // line clocks: 444, 467, 489 or 512

// Registers the programming sequences name.
constexpr UCHAR REGISTER_ORIENTATION = 0x00;
constexpr UCHAR REGISTER_CLOCK_DIVIDER = 0x02;
constexpr UCHAR REGISTER_FRAME_LINES = 0x03;     // and 0x04
constexpr UCHAR REGISTER_EXPOSURE_START = 0x05;  // and bit 1 of 0x07
constexpr UCHAR REGISTER_FINE_DELAY = 0x06;      // and bit 0 of 0x07
constexpr UCHAR REGISTER_DELAY_LOW_BITS = 0x07;
constexpr UCHAR REGISTER_SHORT_EXPOSURE = 0x08;
constexpr UCHAR REGISTER_GAIN_INDICES = 0x09;    // 0x09..0x0D with the digital gains
constexpr UCHAR REGISTER_GAIN = 0x0E;
constexpr UCHAR REGISTER_IDLE_A = 0x0F;
constexpr UCHAR REGISTER_IDLE_B = 0x11;
constexpr UCHAR REGISTER_BATCH_ARM = 0x13;
constexpr UCHAR REGISTER_LINE_CLOCKS = 0x18;
constexpr UCHAR REGISTER_BATCH_COMMIT = 0x1C;
constexpr UCHAR REGISTER_VIDEO_CONTROL = 0x40;
constexpr UCHAR REGISTER_INDICATOR = 0x41;
constexpr UCHAR REGISTER_EXTRA = 0x42;           // 0x42..0x49
constexpr UCHAR REGISTER_RATE_VALUE = 0x4A;

constexpr UCHAR REGISTER_IDLE_A_VALUE = 0x00;
constexpr UCHAR REGISTER_IDLE_B_VALUE = 0x30;

// The bus power (bMaxPower, 2 mA units) of the camera whose indicator is on
// while its register 0x41 bit 1 is set; others drive it the other way round.
constexpr ULONG CAMERA_INDICATOR_BUS_POWER = 250;

// Registry values A_0..A_8: the stored register table.
constexpr ULONG STORED_TABLE_SLOTS = 9;
constexpr ULONG ORIENTATION_READ_ATTEMPTS = 8;

// Which groups of registers a frame's results changed (see WriteFrameChanges).
struct tagRegisterFrameChanges {
    const tagAeOutput* psAeOutput;    // the auto exposure's change flags; null: none
    BOOLEAN bWhiteBalanceWrite;      // the frame was decoded and white balance changed its gains
    BOOLEAN bWhiteBalanceCommit;     // the frame was usable and white balance changed its gains
};

class CCameraRegisters : public CPoolObject {
public:
    CCameraRegisters();
    ~CCameraRegisters();

    bool Bind(DeviceContext* device);
    VOID Unbind();

    // The field <-> image map.
    VOID DecodeImage();
    VOID EncodeImage();

    // Vendor requests; each is refused (false) while RegistersReady is clear.
    bool WriteRegister(UCHAR registerNumber, UCHAR value);
    bool WriteRegisterBlock(UCHAR first, ULONG count, const UCHAR* bytes, ULONG bufferSize);
    bool ReadRegister(UCHAR registerNumber, PUCHAR value);

    bool WriteAllRegisters();
    bool ResetRegisters();
    bool SetVideoEnable(bool on);
    bool SetIndicatorOpen();
    bool SetIndicatorClosed();

    // Programming sequences.
    bool WriteIdleRegisters();                      // 0x0F := 0x00, 0x11 := 0x30, shadow and fields too
    bool ProgramDeviceIdle();                        // indicator closed, then the idle writes
    bool ProgramPowerUp(BOOLEAN captureOpen);
    bool ProgramStoredTable(const ULONG* storedTable); // A_0..A_8 into the image, decode, write all
    bool ProgramCaptureOpen(BOOLEAN settingsValid, const ULONG* storedTable);
    // The capture pipeline: auto-exposure values into the fields, the first
    // settings at set-up, the orientation check, and each frame's changes.
    VOID StoreExposureStart(const tagAeOutput& ae);
    VOID StoreExposureChanges(const tagAeOutput& ae);
    bool WriteExposureStart();
    bool ReadOrientation(PUCHAR orientation);
    bool WriteFrameChanges(const tagRegisterFrameChanges& changes); // encodes first

    ULONG Field[CAMERA_FIELD_COUNT];
    UCHAR RegisterImage[CAMERA_REGISTER_IMAGE_BYTES];
    CUsbCamera* UsbCamera;
    DeviceContext* Device;
    ULONG BusPower;

private:
    bool IsReady();
    bool WriteImageRange(UCHAR first, ULONG count);
    bool WriteImageRegister(UCHAR registerNumber);
    bool CommitBatch();
    bool SetIndicator(bool on);
    VOID StoreRate(const tagAeOutput& ae);
    VOID StoreIf(bool changed, ULONG field, ULONG value);
    VOID LoadResetFields();
    bool WriteTimingChanges(const tagAeOutput& ae);
    bool WriteExposureChanges(const tagAeOutput& ae);
};
