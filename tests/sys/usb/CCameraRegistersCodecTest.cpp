// The field <-> register map: every field owns exactly its bits, split values
// land where the camera expects them, the line-clock code, and round trips of
// random contents in both directions.
#include "usb/CCameraRegisters.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

namespace korval::testing {
namespace {

// Widths of fields 0..78, listed from the camera's register map.
constexpr int kFieldWidth[79] = {
    12, 4, 7, 12, 9, 9, 1, 8,          // 0..7
    4, 4, 4, 4, 8, 8, 8, 5,            // 8..15
    1, 2, 1, 1, 1, 1,                  // 16..21 (0x0F)
    2, 2, 2, 2,                        // 22..25 (0x10)
    2, 1, 1, 1, 1, 2,                  // 26..31 (0x11)
    2, 1, 1, 1, 1, 1, 1,               // 32..38 (0x12)
    1,                                 // 39 (0x13)
    1, 1, 1, 1, 1, 1, 1, 1,            // 40..47 (0x14)
    1, 1, 1, 1, 1, 1, 1, 1,            // 48..55 (0x15)
    1, 1, 1, 1, 1, 1, 1, 1,            // 56..63 (0x16)
    8, 8, 8, 8, 8,                     // 64..68 (0x17..0x1B)
    1, 1, 1, 1,                        // 69..72 (0x40, 0x41)
    10, 10, 10, 10,                    // 73..76 (0x42..0x49)
    8, 8,                              // 77, 78 (0x4A, 0x4B)
};

// The register bits some field covers; the rest are always sent as 0.
std::uint8_t coveredBits(unsigned reg)
{
    switch (reg) {
    case 0x02: return 0x7F;
    case 0x04: return 0x0F;
    case 0x07: return 0x83;
    case 0x0E: return 0x1F;
    case 0x0F: return 0x7F;
    case 0x13: return 0x01;
    case 0x40: return 0x01;
    case 0x41: return 0x07;
    case 0x43: case 0x45: case 0x47: case 0x49: return 0x03;
    default: return (reg <= 0x1B || (reg >= 0x40 && reg <= 0x4B)) ? 0xFF : 0x00;
    }
}

void clearFields(CCameraRegisters& registers)
{
    for (ULONG& field : registers.Field) {
        field = 0;
    }
    registers.Field[FIELD_CLOCK_CODE] = 444;
}

TEST(CameraRegistersCodec, EveryFieldOwnsExactlyItsWidthOfBitsAndNoFieldOverlapsAnother)
{
    CCameraRegisters registers;
    std::uint8_t used[CAMERA_REGISTER_IMAGE_BYTES] = {};
    for (int field = 0; field < 79; ++field) {
        const ULONG ones = (1u << kFieldWidth[field]) - 1;
        clearFields(registers);
        registers.Field[field] = ones | (1u << kFieldWidth[field]) | 0x80000000u; // bits past the width are dropped
        if (field == static_cast<int>(FIELD_LINE_CLOCK_REGISTER)) {
            registers.Field[FIELD_CLOCK_CODE] = 512; // code 3 keeps the low bits of 0x18 set
        }
        registers.EncodeImage();
        int bits = 0;
        for (unsigned reg = 0; reg < CAMERA_REGISTER_IMAGE_BYTES; ++reg) {
            const std::uint8_t mine = registers.RegisterImage[reg];
            bits += std::popcount(mine);
            EXPECT_EQ(used[reg] & mine, 0) << "field " << field << " overlaps at register " << reg;
            used[reg] = static_cast<std::uint8_t>(used[reg] | mine);
        }
        EXPECT_EQ(bits, kFieldWidth[field]) << "field " << field;
        registers.DecodeImage();
        for (int other = 0; other < 79; ++other) {
            EXPECT_EQ(registers.Field[other], other == field ? ones : 0u) << "field " << field << " decoding " << other;
        }
    }
    for (unsigned reg = 0; reg < CAMERA_REGISTER_IMAGE_BYTES; ++reg) {
        EXPECT_EQ(used[reg], coveredBits(reg)) << "register " << reg;
    }
}

TEST(CameraRegistersCodec, SplitValuesLandInTheirHighAndLowRegisters)
{
    CCameraRegisters registers;
    clearFields(registers);
    registers.Field[0] = 0xABC;
    registers.Field[1] = 0x5;
    registers.Field[FIELD_FRAME_LINES] = 301;
    registers.Field[FIELD_EXPOSURE_START_LINE] = 1;
    registers.Field[FIELD_FINE_DELAY] = 223;
    registers.Field[6] = 1;
    const ULONG extras[4] = {200, 600, 650, 700};
    for (ULONG i = 0; i < 4; ++i) {
        registers.Field[FIELD_EXTRA1 + i] = extras[i];
    }
    registers.EncodeImage();
    const auto* image = registers.RegisterImage;
    EXPECT_EQ(image[0x00], 0xAB);
    EXPECT_EQ(image[0x01], 0xC5);
    EXPECT_EQ(image[0x03], 0x12);
    EXPECT_EQ(image[0x04], 0x0D);
    EXPECT_EQ(image[0x05], 0x00);
    EXPECT_EQ(image[0x06], 0x6F);
    EXPECT_EQ(image[0x07], 0x83);
    const std::uint8_t extraBytes[8] = {0x32, 0x00, 0x96, 0x00, 0xA2, 0x02, 0xAF, 0x00};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(image[0x42 + i], extraBytes[i]) << "register " << 0x42 + i;
    }

    // The other way: the low bits of the start line and the fine delay share 0x07.
    registers.RegisterImage[0x05] = 0xFF;
    registers.RegisterImage[0x06] = 0x00;
    registers.RegisterImage[0x07] = 0x02;
    registers.RegisterImage[0x48] = 0xFF;
    registers.RegisterImage[0x49] = 0xFE; // bits 7..2 belong to no field
    registers.DecodeImage();
    EXPECT_EQ(registers.Field[FIELD_EXPOSURE_START_LINE], 0x1FFu);
    EXPECT_EQ(registers.Field[FIELD_FINE_DELAY], 0u);
    EXPECT_EQ(registers.Field[6], 0u);
    EXPECT_EQ(registers.Field[FIELD_EXTRA1 + 3], 0x3FEu);
}

TEST(CameraRegistersCodec, LineClocksTravelAsATwoBitCodeInRegister0x18)
{
    CCameraRegisters registers;
    const ULONG clocks[4] = {444, 467, 489, 512};
    for (ULONG code = 0; code < 4; ++code) {
        clearFields(registers);
        registers.Field[FIELD_LINE_CLOCK_REGISTER] = 0xA7; // its low bits follow the code
        registers.Field[FIELD_CLOCK_CODE] = clocks[code];
        registers.EncodeImage();
        EXPECT_EQ(registers.RegisterImage[0x18], 0xA4 | code);
        EXPECT_EQ(registers.Field[FIELD_LINE_CLOCK_REGISTER], 0xA4 | code);
        registers.DecodeImage();
        EXPECT_EQ(registers.Field[FIELD_CLOCK_CODE], clocks[code]);
    }

    clearFields(registers);
    registers.Field[FIELD_CLOCK_CODE] = 500;
    registers.EncodeImage();
    EXPECT_EQ(registers.RegisterImage[0x18] & 3, 0);
    EXPECT_EQ(registers.Field[FIELD_CLOCK_CODE], 500u); // until the next decode
    registers.DecodeImage();
    EXPECT_EQ(registers.Field[FIELD_CLOCK_CODE], 444u);
}

TEST(CameraRegistersCodec, RandomContentsSurviveEncodeThenDecodeAndDecodeThenEncode)
{
    std::mt19937 random(20261208);
    CCameraRegisters registers;
    for (int round = 0; round < 200; ++round) {
        ULONG fields[CAMERA_FIELD_COUNT] = {};
        for (int field = 0; field < 79; ++field) {
            fields[field] = random() & ((1u << kFieldWidth[field]) - 1);
        }
        const ULONG clocks[4] = {444, 467, 489, 512};
        fields[FIELD_CLOCK_CODE] = clocks[random() & 3];
        for (ULONG i = 0; i < CAMERA_FIELD_COUNT; ++i) {
            registers.Field[i] = fields[i];
        }
        registers.EncodeImage();
        fields[FIELD_LINE_CLOCK_REGISTER] = registers.Field[FIELD_LINE_CLOCK_REGISTER];
        registers.DecodeImage();
        for (ULONG i = 0; i < CAMERA_FIELD_COUNT; ++i) {
            ASSERT_EQ(registers.Field[i], fields[i]) << "round " << round << " field " << i;
        }

        std::uint8_t image[CAMERA_REGISTER_IMAGE_BYTES] = {};
        for (unsigned reg = 0; reg < CAMERA_REGISTER_IMAGE_BYTES; ++reg) {
            image[reg] = static_cast<std::uint8_t>(random() & coveredBits(reg));
            registers.RegisterImage[reg] = image[reg];
        }
        registers.DecodeImage();
        registers.EncodeImage();
        for (unsigned reg = 0; reg < CAMERA_REGISTER_IMAGE_BYTES; ++reg) {
            ASSERT_EQ(registers.RegisterImage[reg], image[reg]) << "round " << round << " register " << reg;
        }
    }
}

} // namespace
} // namespace korval::testing
