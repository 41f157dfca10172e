// The register file: which addresses exist, batches that take effect only after
// 0x13 and then 0x1C are written to 1, the registers that act at once, and the
// decoding of the timing and gain fields.
#include "camera/device/register_file.h"

#include <gtest/gtest.h>

namespace korval::camera {
namespace {

TEST(RegisterFile, AddressMapHasTwoRangesAndTheCommitRegister)
{
    EXPECT_TRUE(RegisterFile::exists(0x00));
    EXPECT_TRUE(RegisterFile::exists(0x1B));
    EXPECT_FALSE(RegisterFile::exists(0x1C));
    EXPECT_FALSE(RegisterFile::exists(0x3F));
    EXPECT_TRUE(RegisterFile::exists(0x40));
    EXPECT_TRUE(RegisterFile::exists(0x4B));
    EXPECT_FALSE(RegisterFile::exists(0x4C));
    EXPECT_TRUE(RegisterFile::writable(0x1C));
    RegisterFile file;
    EXPECT_FALSE(file.write(0x30, 1));
    std::uint8_t value = 0;
    EXPECT_FALSE(file.read(0x1C, value));
}

TEST(RegisterFile, WritesTakeEffectOnlyAfterArmAndCommit)
{
    RegisterFile file;
    const std::uint8_t before = file.active(0x0E);
    ASSERT_TRUE(file.write(0x0E, 20));
    EXPECT_EQ(file.written(0x0E), 20);
    EXPECT_EQ(file.active(0x0E), before);

    file.write(0x1C, 1); // commit without arming: nothing
    EXPECT_EQ(file.active(0x0E), before);
    file.write(0x13, 1);
    EXPECT_EQ(file.active(0x0E), before);
    file.write(0x1C, 1);
    EXPECT_EQ(file.active(0x0E), 20);
    EXPECT_EQ(file.batchesTaken(), 1U);

    file.write(0x0E, 5);
    file.write(0x13, 1);
    file.write(0x1C, 0); // a commit of 0 disarms
    file.write(0x1C, 1);
    EXPECT_EQ(file.active(0x0E), 20);
}

TEST(RegisterFile, VideoEnableAndIndicatorActAtOnce)
{
    RegisterFile file;
    EXPECT_FALSE(file.videoEnabled());
    file.write(0x40, 0x01);
    EXPECT_TRUE(file.videoEnabled());
    EXPECT_EQ(file.active(0x40), 0x01);
    file.write(0x41, 0x02);
    EXPECT_TRUE(file.indicatorOn());
    file.write(0x41, 0x00);
    EXPECT_FALSE(file.indicatorOn());
}

TEST(RegisterFile, OrientationByteAnswersRegisterZero)
{
    RegisterFile file;
    file.write(0x00, 0x55);
    std::uint8_t value = 1;
    ASSERT_TRUE(file.read(0x00, value));
    EXPECT_EQ(value, 0x00);
    file.setOrientation(0xFF);
    ASSERT_TRUE(file.read(0x00, value));
    EXPECT_EQ(value, 0xFF);
    ASSERT_TRUE(file.read(0x01, value));
    EXPECT_EQ(value, 0x00);
}

TEST(RegisterFile, DecodesTheFieldsTheDriverEncodes)
{
    RegisterFile file;
    // divider 7, frame lines 0x1A5, start line 0x0C3, fine delay 0x101,
    // gain indices B 3 G 4 / G 5 R 6, digital gains, sensor gain 17, line clocks 489.
    const std::pair<std::uint8_t, std::uint8_t> writes[] = {
        {0x02, 7},    {0x03, 0x1A}, {0x04, 0x05}, {0x05, 0x61}, {0x06, 0x80}, {0x07, 0x03},
        {0x09, 0x34}, {0x0A, 0x56}, {0x0B, 130},  {0x0C, 128},  {0x0D, 90},   {0x0E, 17},
        {0x18, 0x02}, {0x4A, 99},   {0x13, 1},    {0x1C, 1}};
    for (const auto& [address, value] : writes) {
        ASSERT_TRUE(file.write(address, value));
    }
    const SensorSettings s = file.settings();
    EXPECT_EQ(s.clockDivider, 7);
    EXPECT_EQ(s.frameLines, 0x1A5);
    EXPECT_EQ(s.exposureStartLine, 0xC3);
    EXPECT_EQ(s.fineDelay, 0x101);
    EXPECT_EQ(s.gainIndex[0], 6);
    EXPECT_EQ(s.gainIndex[1], 4);
    EXPECT_EQ(s.gainIndex[2], 3);
    EXPECT_EQ(s.digitalGain[0], 130);
    EXPECT_EQ(s.digitalGain[2], 90);
    EXPECT_EQ(s.gain, 17);
    EXPECT_EQ(s.lineClocks, 489);
    EXPECT_EQ(s.rateValue, 99);
}

} // namespace
} // namespace korval::camera
