// The programming sequences as the camera sees them: the defaults, the idle
// state, the stored table of a capture-stream open, video enable and the
// indicator for each bus power, the auto exposure's first settings and each
// frame's changes, always ending with the 0x13 / 0x1C batch commit.
#include "CCameraRegistersHarness.h"

namespace korval::testing {
namespace {

const RegisterTraffic kAllRegisters = RegisterTraffic{blockOf(0x02, 8), blockOf(0x0A, 8), blockOf(0x12, 8),
                                                      blockOf(0x40, 8), blockOf(0x48, 4)} +
                                      commitTraffic();

bool sentToRegister(const RegisterTraffic& traffic, int reg)
{
    for (const auto& [request, first, value, bytes] : traffic) {
        const int count = request == camera::kRequestWriteBlock ? bytes : 1;
        if (reg >= first && reg < first + count) {
            return true;
        }
    }
    return false;
}

TEST_F(CameraRegistersTest, ResetWritesTheDefaultsAndTheCameraTakesThemAsOneBatch)
{
    openAndBind();
    ASSERT_TRUE(registers_->ResetRegisters());
    const RegisterTraffic sent = traffic();
    EXPECT_EQ(sent, kAllRegisters);
    for (int reg : {0x00, 0x01, 0x1A, 0x1B}) {
        EXPECT_FALSE(sentToRegister(sent, reg)) << "register " << reg;
    }
    EXPECT_EQ(camera().batchesTaken(), 1u);

    // The default bytes, worked out from the reset fields.
    const std::pair<int, int> expected[] = {
        {0x02, 0x03}, {0x03, 0x12}, {0x04, 0x0D}, {0x05, 0x00}, {0x06, 0x6F}, {0x07, 0x03}, {0x08, 45},
        {0x09, 0x00}, {0x0A, 0x00}, {0x0B, 100},  {0x0C, 100},  {0x0D, 100},  {0x0E, 10},   {0x0F, 0x10},
        {0x10, 0xF0}, {0x11, 0x31}, {0x12, 0x00}, {0x13, 0x00}, {0x14, 0x00}, {0x15, 0x70}, {0x16, 0xA0},
        {0x17, 56},   {0x18, 0x00}, {0x19, 0x00}, {0x40, 0x00}, {0x41, 0x02}, {0x42, 0x32}, {0x43, 0x00},
        {0x44, 0x96}, {0x45, 0x00}, {0x46, 0xA2}, {0x47, 0x02}, {0x48, 0xAF}, {0x49, 0x00}, {0x4A, 54},
        {0x4B, 0x00},
    };
    for (const auto& [reg, value] : expected) {
        EXPECT_EQ(registers_->RegisterImage[reg], value) << "register " << reg;
        // 0x13 went out with its field, then as 1 for the commit.
        EXPECT_EQ(camera().activeRegister(reg), reg == 0x13 ? 1 : value) << "register " << reg;
    }
    const camera::SensorSettings active = camera().activeSettings();
    EXPECT_EQ(active.clockDivider, 3);
    EXPECT_EQ(active.frameLines, 301);
    EXPECT_EQ(active.exposureStartLine, 1);
    EXPECT_EQ(active.fineDelay, 223);
    EXPECT_EQ(active.lineClocks, 444);
    EXPECT_EQ(active.rateValue, 54);
}

TEST_F(CameraRegistersTest, TheIndicatorFollowsTheBusPowerPolarity)
{
    openAndBind();
    ASSERT_TRUE(registers_->SetIndicatorOpen());
    EXPECT_TRUE(camera().indicatorOn());
    ASSERT_TRUE(registers_->SetIndicatorClosed());
    EXPECT_FALSE(camera().indicatorOn());
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x41, 0x02), writeOf(0x41, 0x00)}));

    plugInWithPower(100);
    openAndBind();
    EXPECT_EQ(registers_->BusPower, 100u);
    ASSERT_TRUE(registers_->SetIndicatorOpen());
    EXPECT_FALSE(camera().indicatorOn());
    ASSERT_TRUE(registers_->SetIndicatorClosed());
    EXPECT_TRUE(camera().indicatorOn());
    // The defaults turn field 71 on whenever the descriptor was read.
    ASSERT_TRUE(registers_->ResetRegisters());
    EXPECT_EQ(registers_->Field[FIELD_INDICATOR], 1u);
}

TEST_F(CameraRegistersTest, VideoEnableWritesOnlyRegister0x40AndKeepsTheOtherFields)
{
    openAndBind();
    ASSERT_TRUE(registers_->ResetRegisters());
    bus().clearTrace();
    ASSERT_TRUE(registers_->SetVideoEnable(true));
    EXPECT_TRUE(camera().videoEnabled());
    ASSERT_TRUE(registers_->SetVideoEnable(false));
    EXPECT_FALSE(camera().videoEnabled());
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x40, 0x01), writeOf(0x40, 0x00)}));
    EXPECT_EQ(registers_->Field[FIELD_FRAME_LINES], 301u);
}

TEST_F(CameraRegistersTest, InitializationLeavesTheControllerIdleWithTheIndicatorOff)
{
    openAndBind();
    ASSERT_TRUE(registers_->ProgramDeviceIdle());
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x41, 0x00), writeOf(0x0F, 0x00), writeOf(0x11, 0x30)}));
    EXPECT_EQ(camera().writtenRegister(0x11), 0x30);
    EXPECT_FALSE(camera().indicatorOn());
    // 0x30 decodes into fields 27 and 28 of register 0x11.
    for (ULONG field = 16; field <= 31; ++field) {
        EXPECT_EQ(registers_->Field[field], field == 27 || field == 28 ? 1u : 0u) << "field " << field;
    }
    EXPECT_EQ(registers_->Field[FIELD_CLOCK_CODE], 444u);
}

TEST_F(CameraRegistersTest, PowerUpRestoresTheOpenStreamsRegistersOrTheIdleState)
{
    openAndBind();
    ASSERT_TRUE(registers_->ProgramCaptureOpen(FALSE, nullptr));
    registers_->Field[FIELD_GAIN] = 21;
    ASSERT_TRUE(registers_->SetIndicatorClosed()); // power down
    bus().clearTrace();
    ASSERT_TRUE(registers_->ProgramPowerUp(TRUE));
    EXPECT_EQ(traffic(), kAllRegisters + RegisterTraffic{writeOf(0x41, 0x02)});
    EXPECT_EQ(camera().activeSettings().gain, 21);
    EXPECT_TRUE(camera().indicatorOn());

    bus().clearTrace();
    ASSERT_TRUE(registers_->ProgramPowerUp(FALSE));
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x0F, 0x00), writeOf(0x11, 0x30)}));

    bus().clearTrace();
    failVendorRequest();
    EXPECT_FALSE(registers_->ProgramPowerUp(TRUE));
    EXPECT_EQ(traffic(), RegisterTraffic{blockOf(0x02, 8)});
}

TEST_F(CameraRegistersTest, AStoredTableProgramsItsBytesInRegisterOrder)
{
    openAndBind();
    ULONG table[STORED_TABLE_SLOTS] = {};
    UCHAR bytes[36];
    for (int i = 0; i < 24; ++i) {
        bytes[i] = static_cast<UCHAR>(0x80 + i);
    }
    for (int i = 24; i < 36; ++i) {
        bytes[i] = static_cast<UCHAR>(0x10 + (i - 24));
    }
    for (int i = 0; i < 36; ++i) {
        table[i / 4] |= static_cast<ULONG>(bytes[i]) << (8 * (i % 4)); // little-endian values
    }
    EXPECT_EQ(table[6], 0x13121110u);

    ASSERT_TRUE(registers_->ProgramStoredTable(table));
    EXPECT_EQ(traffic(), kAllRegisters);
    for (int i = 0; i < 24; ++i) {
        const int reg = 0x02 + i;
        EXPECT_EQ(camera().writtenRegister(reg), reg == 0x13 ? 1 : bytes[i]) << "register " << reg;
    }
    for (int i = 24; i < 36; ++i) {
        EXPECT_EQ(camera().writtenRegister(0x40 + i - 24), bytes[i]) << "register " << 0x40 + i - 24;
    }
    EXPECT_EQ(registers_->Field[FIELD_CLOCK_DIVIDER], 0x80u & 0x7F);
    EXPECT_EQ(registers_->Field[FIELD_FRAME_LINES], (0x81u << 4) | 0x2);
    EXPECT_EQ(registers_->Field[FIELD_EXTRA1 + 3], (0x18u << 2) | 0x1);
    EXPECT_EQ(registers_->Field[FIELD_CLOCK_CODE], 489u); // register 0x18 = 0x96: code 2
}

TEST_F(CameraRegistersTest, CaptureOpenProgramsTableOrDefaultsThenTheOpenIndicator)
{
    openAndBind();
    ULONG table[STORED_TABLE_SLOTS] = {};
    table[6] = 0x00000000; // register 0x41 of the table: indicator bit clear
    ASSERT_TRUE(registers_->ProgramCaptureOpen(TRUE, table));
    EXPECT_EQ(traffic(), kAllRegisters + RegisterTraffic{writeOf(0x41, 0x02)});
    EXPECT_TRUE(camera().indicatorOn());

    bus().clearTrace();
    ASSERT_TRUE(registers_->ProgramCaptureOpen(FALSE, nullptr));
    EXPECT_EQ(traffic(), kAllRegisters + RegisterTraffic{writeOf(0x41, 0x02)});
    EXPECT_EQ(camera().activeSettings().frameLines, 301);

    EXPECT_FALSE(registers_->ProgramCaptureOpen(TRUE, nullptr));
    bus().clearTrace();
    failVendorRequest(7); // the indicator
    EXPECT_FALSE(registers_->ProgramCaptureOpen(FALSE, nullptr));
    EXPECT_EQ(traffic().size(), 8u);
}

tagAeOutput exposureResult()
{
    tagAeOutput ae{};
    ae.usLineClocks = 489;
    ae.usClockDivider = 5;
    ae.usFrameLines = 0x2A7;
    ae.usExposureStartLine = 0x155;
    ae.usFineDelay = 0x0AA;
    ae.usGain = 17;
    ae.usRateValue = 77;
    ae.usShortExposureValue = 99;
    ae.usExtra1 = 0x3FF;
    ae.usExtra2 = 0x001;
    ae.usExtra3 = 0x200;
    ae.usExtra4 = 0x155;
    return ae;
}

TEST_F(CameraRegistersTest, TheFirstExposureSettingsReachTheSensorAsOneBatch)
{
    openAndBind();
    ASSERT_TRUE(registers_->ResetRegisters());
    bus().clearTrace();
    registers_->StoreExposureStart(exposureResult());
    ASSERT_TRUE(registers_->WriteExposureStart());
    EXPECT_EQ(traffic(), RegisterTraffic({blockOf(0x02, 7), writeOf(0x0E, 17), writeOf(0x18, 0x02), blockOf(0x42, 8),
                                          writeOf(0x4A, 77)}) +
                             commitTraffic());
    const camera::SensorSettings active = camera().activeSettings();
    EXPECT_EQ(active.clockDivider, 5);
    EXPECT_EQ(active.frameLines, 0x2A7);
    EXPECT_EQ(active.exposureStartLine, 0x155);
    EXPECT_EQ(active.fineDelay, 0x0AA);
    EXPECT_EQ(active.gain, 17);
    EXPECT_EQ(active.lineClocks, 489);
    EXPECT_EQ(active.rateValue, 77);
    EXPECT_EQ(active.shortExposure, 45); // not part of the start settings
    EXPECT_EQ(camera().writtenRegister(0x42), 0xFF);
    EXPECT_EQ(camera().writtenRegister(0x43), 0x03);
    EXPECT_EQ(camera().writtenRegister(0x49), 0x01);
}

struct FrameCase {
    const char* name;
    tagAeOutput flags;
    bool whiteBalanceWrite;
    bool whiteBalanceCommit;
    RegisterTraffic expected;
};

tagAeOutput flagsOf(std::initializer_list<BOOLEAN tagAeOutput::*> set)
{
    tagAeOutput ae = exposureResult();
    for (auto flag : set) {
        ae.*flag = TRUE;
    }
    return ae;
}

TEST_F(CameraRegistersTest, EachFrameWritesOnlyTheChangedGroupsInOrder)
{
    using A = tagAeOutput;
    const FrameCase cases[] = {
        {"nothing", flagsOf({}), false, false, {}},
        {"all timing",
         flagsOf({&A::bAnyChanged, &A::bTimingChanged, &A::bClockDividerChanged, &A::bFrameLinesChanged,
                  &A::bExposureStartChanged, &A::bFineDelayChanged, &A::bLineClocksChanged}),
         false, false,
         RegisterTraffic{writeOf(0x02, 5), blockOf(0x03, 2), writeOf(0x05, 0xAA), writeOf(0x07, 0x02),
                         writeOf(0x06, 0x55), writeOf(0x18, 0x02)} +
             commitTraffic()},
        {"fine delay alone", flagsOf({&A::bAnyChanged, &A::bTimingChanged, &A::bFineDelayChanged}), false, false,
         RegisterTraffic{blockOf(0x06, 2)} + commitTraffic()},
        {"timing flags without timingChanged",
         flagsOf({&A::bAnyChanged, &A::bFrameLinesChanged, &A::bShortExposureChanged, &A::bGainChanged,
                  &A::bRateChanged}),
         false, false,
         RegisterTraffic{writeOf(0x08, 99), writeOf(0x0E, 17), blockOf(0x42, 8), writeOf(0x4A, 77)} +
             commitTraffic()},
        {"changes without anyChanged", flagsOf({&A::bTimingChanged, &A::bGainChanged}), false, false, {}},
        {"white balance written, frame unusable", flagsOf({}), true, false, RegisterTraffic{blockOf(0x09, 5)}},
        {"white balance written and committed", flagsOf({}), true, true,
         RegisterTraffic{blockOf(0x09, 5)} + commitTraffic()},
        {"gain and white balance", flagsOf({&A::bAnyChanged, &A::bGainChanged}), true, false,
         RegisterTraffic{writeOf(0x0E, 17), blockOf(0x09, 5)} + commitTraffic()},
    };
    openAndBind();
    for (const FrameCase& frame : cases) {
        ASSERT_TRUE(registers_->ResetRegisters());
        bus().clearTrace();
        registers_->StoreExposureChanges(frame.flags);
        const tagRegisterFrameChanges changes{&frame.flags, frame.whiteBalanceWrite, frame.whiteBalanceCommit};
        EXPECT_TRUE(registers_->WriteFrameChanges(changes)) << frame.name;
        EXPECT_EQ(traffic(), frame.expected) << frame.name;
    }
    bus().clearTrace();
    EXPECT_TRUE(registers_->WriteFrameChanges({nullptr, FALSE, FALSE}));
    EXPECT_TRUE(traffic().empty());
}

TEST_F(CameraRegistersTest, StoredExposureChangesTouchOnlyTheFlaggedFields)
{
    openAndBind();
    ASSERT_TRUE(registers_->ResetRegisters());
    using A = tagAeOutput;
    registers_->StoreExposureChanges(flagsOf({&A::bGainChanged})); // no anyChanged: nothing
    EXPECT_EQ(registers_->Field[FIELD_GAIN], 10u);
    registers_->StoreExposureChanges(flagsOf({&A::bAnyChanged, &A::bGainChanged, &A::bFrameLinesChanged}));
    EXPECT_EQ(registers_->Field[FIELD_GAIN], 17u);
    EXPECT_EQ(registers_->Field[FIELD_FRAME_LINES], 301u); // timing needs timingChanged
    registers_->StoreExposureChanges(flagsOf({&A::bAnyChanged, &A::bTimingChanged, &A::bLineClocksChanged,
                                              &A::bRateChanged}));
    EXPECT_EQ(registers_->Field[FIELD_CLOCK_CODE], 489u);
    EXPECT_EQ(registers_->Field[FIELD_RATE_VALUE], 77u);
    EXPECT_EQ(registers_->Field[FIELD_EXTRA1 + 3], 0x155u);
    EXPECT_EQ(registers_->Field[FIELD_FRAME_LINES], 301u);
    EXPECT_EQ(registers_->Field[FIELD_SHORT_EXPOSURE], 45u);

    // The per-frame path takes the new values to the sensor.
    const tagAeOutput all = flagsOf({&A::bAnyChanged, &A::bTimingChanged, &A::bLineClocksChanged, &A::bRateChanged});
    ASSERT_TRUE(registers_->WriteFrameChanges({&all, FALSE, FALSE}));
    EXPECT_EQ(camera().activeSettings().lineClocks, 489);
    EXPECT_EQ(camera().activeSettings().gain, 10); // changed in the field, but not flagged in this frame
}

TEST_F(CameraRegistersTest, AFailedFrameWriteStopsBeforeTheCommit)
{
    openAndBind();
    ASSERT_TRUE(registers_->ResetRegisters());
    const std::uint32_t batches = camera().batchesTaken();
    bus().clearTrace();
    using A = tagAeOutput;
    const tagAeOutput ae = flagsOf({&A::bAnyChanged, &A::bGainChanged, &A::bRateChanged});
    failVendorRequest(1);
    EXPECT_FALSE(registers_->WriteFrameChanges({&ae, TRUE, TRUE}));
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x0E, 10), blockOf(0x42, 8)}));
    EXPECT_EQ(camera().batchesTaken(), batches);
}

} // namespace
} // namespace korval::testing
