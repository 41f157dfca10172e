// Decoding the register image into the 80 fields and encoding it back. Each
// field is one or two runs of bits: value bits [valueShift, valueShift + width)
// sit in register bits [registerShift, registerShift + width). Encoding builds
// every byte afresh, so bits no field covers are sent as 0.
#include "usb/CCameraRegisters.h"

#include <array>
#include <cstring>

namespace {

struct tagFieldBits {
    UCHAR ucField;
    UCHAR ucRegister;
    UCHAR ucRegisterShift;
    UCHAR ucWidth;
    UCHAR ucValueShift;
};
static_assert(sizeof(tagFieldBits) == 5);

constexpr ULONG FIELD_RUN_COUNT = 87;

class CFieldMapBuilder {
public:
    constexpr CFieldMapBuilder& Run(UCHAR field, UCHAR reg, UCHAR shift, UCHAR width, UCHAR valueShift = 0)
    {
        Map[Count++] = tagFieldBits{field, reg, shift, width, valueShift};
        return *this;
    }
    // Fields first..first+count-1 take the bits of one register from its top down.
    constexpr CFieldMapBuilder& Bits(UCHAR first, UCHAR reg, UCHAR count)
    {
        for (UCHAR i = 0; i < count; ++i) {
            Run(static_cast<UCHAR>(first + i), reg, static_cast<UCHAR>(7 - i), 1);
        }
        return *this;
    }
    // A 10-bit value: bits 9..2 in one register, bits 1..0 in the next.
    constexpr CFieldMapBuilder& TenBits(UCHAR field, UCHAR reg)
    {
        return Run(field, reg, 0, 8, 2).Run(field, static_cast<UCHAR>(reg + 1), 0, 2);
    }

    std::array<tagFieldBits, FIELD_RUN_COUNT> Map{};
    ULONG Count = 0;
};

constexpr CFieldMapBuilder BuildFieldMap()
{
    CFieldMapBuilder b;
    b.Run(0, 0x00, 0, 8, 4).Run(0, 0x01, 4, 4).Run(1, 0x01, 0, 4);
    b.Run(2, 0x02, 0, 7);
    b.Run(3, 0x03, 0, 8, 4).Run(3, 0x04, 0, 4);
    b.Run(4, 0x05, 0, 8, 1).Run(4, 0x07, 1, 1);
    b.Run(5, 0x06, 0, 8, 1).Run(5, 0x07, 0, 1);
    b.Run(6, 0x07, 7, 1).Run(7, 0x08, 0, 8);
    b.Run(8, 0x09, 4, 4).Run(9, 0x09, 0, 4).Run(10, 0x0A, 4, 4).Run(11, 0x0A, 0, 4);
    b.Run(12, 0x0B, 0, 8).Run(13, 0x0C, 0, 8).Run(14, 0x0D, 0, 8).Run(15, 0x0E, 0, 5);
    b.Run(16, 0x0F, 6, 1).Run(17, 0x0F, 4, 2).Run(18, 0x0F, 3, 1);
    b.Run(19, 0x0F, 2, 1).Run(20, 0x0F, 1, 1).Run(21, 0x0F, 0, 1);
    b.Run(22, 0x10, 6, 2).Run(23, 0x10, 4, 2).Run(24, 0x10, 2, 2).Run(25, 0x10, 0, 2);
    b.Run(26, 0x11, 6, 2).Run(27, 0x11, 5, 1).Run(28, 0x11, 4, 1).Run(29, 0x11, 3, 1);
    b.Run(30, 0x11, 2, 1).Run(31, 0x11, 0, 2);
    b.Run(32, 0x12, 6, 2).Run(33, 0x12, 5, 1).Run(34, 0x12, 4, 1).Run(35, 0x12, 3, 1);
    b.Run(36, 0x12, 2, 1).Run(37, 0x12, 1, 1).Run(38, 0x12, 0, 1);
    b.Run(39, 0x13, 0, 1);
    b.Bits(40, 0x14, 8).Bits(48, 0x15, 8).Bits(56, 0x16, 8);
    for (UCHAR i = 0; i < 5; ++i) {
        b.Run(static_cast<UCHAR>(64 + i), static_cast<UCHAR>(0x17 + i), 0, 8);
    }
    b.Run(69, 0x40, 0, 1).Run(70, 0x41, 0, 1).Run(71, 0x41, 1, 1).Run(72, 0x41, 2, 1);
    b.TenBits(73, 0x42).TenBits(74, 0x44).TenBits(75, 0x46).TenBits(76, 0x48);
    b.Run(77, 0x4A, 0, 8).Run(78, 0x4B, 0, 8);
    return b;
}

constexpr CFieldMapBuilder FIELD_MAP = BuildFieldMap();
static_assert(FIELD_MAP.Count == FIELD_RUN_COUNT);

constexpr ULONG LINE_CLOCKS[4] = {444, 467, 489, 512};

ULONG ClockCodeOf(ULONG lineClocks)
{
    for (ULONG code = 0; code < 4; ++code) {
        if (LINE_CLOCKS[code] == lineClocks) {
            return code;
        }
    }
    return 0;
}

} // namespace

VOID CCameraRegisters::DecodeImage()
{
    for (ULONG field = 0; field < FIELD_CLOCK_CODE; ++field) {
        Field[field] = 0;
    }
    for (const tagFieldBits& run : FIELD_MAP.Map) {
        const ULONG mask = (1u << run.ucWidth) - 1;
        const ULONG bits = (static_cast<ULONG>(RegisterImage[run.ucRegister]) >> run.ucRegisterShift) & mask;
        Field[run.ucField] |= bits << run.ucValueShift;
    }
    Field[FIELD_CLOCK_CODE] = LINE_CLOCKS[RegisterImage[REGISTER_LINE_CLOCKS] & 3];
}

VOID CCameraRegisters::EncodeImage()
{
    Field[FIELD_LINE_CLOCK_REGISTER] = (Field[FIELD_LINE_CLOCK_REGISTER] & ~3u) | ClockCodeOf(Field[FIELD_CLOCK_CODE]);
    UCHAR image[CAMERA_REGISTER_IMAGE_BYTES] = {};
    for (const tagFieldBits& run : FIELD_MAP.Map) {
        const ULONG mask = (1u << run.ucWidth) - 1;
        const ULONG bits = (Field[run.ucField] >> run.ucValueShift) & mask;
        image[run.ucRegister] = static_cast<UCHAR>(image[run.ucRegister] | (bits << run.ucRegisterShift));
    }
    // Registers 0x1C..0x3F do not exist; their shadow bytes are left alone.
    memcpy(RegisterImage, image, 0x1C);
    memcpy(RegisterImage + 0x40, image + 0x40, CAMERA_REGISTER_IMAGE_BYTES - 0x40);
}
