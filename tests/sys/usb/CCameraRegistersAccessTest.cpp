// Binding to a configured device, the gate of RegistersReady, and the three
// vendor requests: what reaches the camera, what is refused before anything is
// sent, and how a failing or short answer is reported.
#include "CCameraRegistersHarness.h"

namespace korval::testing {
namespace {

TEST_F(CameraRegistersTest, BindNeedsAConfiguredTransportAndHappensOnce)
{
    EXPECT_FALSE(registers_->Bind(nullptr));
    EXPECT_FALSE(registers_->Bind(device_.get())); // transport not opened
    EXPECT_FALSE(GetRegistersReady(device_.get()));

    ASSERT_TRUE(openCif());
    ASSERT_TRUE(registers_->Bind(device_.get()));
    EXPECT_TRUE(GetRegistersReady(device_.get()));
    EXPECT_EQ(registers_->UsbCamera, usb_);
    EXPECT_EQ(registers_->BusPower, 250u);
    EXPECT_FALSE(registers_->Bind(device_.get()));

    registers_->Unbind();
    EXPECT_FALSE(GetRegistersReady(device_.get()));
    EXPECT_EQ(registers_->Device, nullptr);
    EXPECT_EQ(registers_->UsbCamera, nullptr);
    ASSERT_TRUE(registers_->Bind(device_.get()));

    // Destroying a bound object leaves no stale RegistersReady behind.
    delete registers_;
    registers_ = nullptr;
    EXPECT_FALSE(GetRegistersReady(device_.get()));
}

TEST_F(CameraRegistersTest, NothingIsSentWhileRegistersReadyIsClear)
{
    ASSERT_TRUE(openCif());
    bus().clearTrace();
    const UCHAR bytes[8] = {};
    UCHAR value = 0x5A;
    auto refuseEverything = [&] {
        EXPECT_FALSE(registers_->WriteRegister(0x4A, 1));
        EXPECT_FALSE(registers_->WriteRegisterBlock(0x02, 8, bytes, 8));
        EXPECT_FALSE(registers_->ReadRegister(0x00, &value));
        EXPECT_FALSE(registers_->WriteAllRegisters());
        EXPECT_FALSE(registers_->ResetRegisters());
        EXPECT_FALSE(registers_->SetVideoEnable(true));
        EXPECT_FALSE(registers_->SetIndicatorOpen());
        EXPECT_FALSE(registers_->SetIndicatorClosed());
        EXPECT_FALSE(registers_->WriteIdleRegisters());
        EXPECT_FALSE(registers_->WriteExposureStart());
    };
    refuseEverything(); // never bound
    EXPECT_EQ(registers_->Field[FIELD_VIDEO_ENABLE], 0u); // a refused video switch changes nothing

    ASSERT_TRUE(registers_->Bind(device_.get()));
    SetRegistersReady(device_.get(), FALSE); // bound, but the flag says no
    refuseEverything();
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(traffic().empty());
}

TEST_F(CameraRegistersTest, WriteRegisterSendsValueAndRegisterWithoutData)
{
    openAndBind();
    ASSERT_TRUE(registers_->WriteRegister(0x4A, 0x3C));
    EXPECT_EQ(traffic(), RegisterTraffic{writeOf(0x4A, 0x3C)});
    EXPECT_EQ(camera().writtenRegister(0x4A), 0x3C);
    EXPECT_EQ(camera().activeRegister(0x4A), 54); // not taken before the batch commit
    ASSERT_TRUE(registers_->WriteRegister(0x13, 1));
    ASSERT_TRUE(registers_->WriteRegister(0x1C, 1));
    EXPECT_EQ(camera().activeRegister(0x4A), 0x3C);
    EXPECT_FALSE(registers_->WriteRegister(0x30, 1)); // the camera stalls: no such register
}

TEST_F(CameraRegistersTest, WriteRegisterBlockSendsTwoToEightBytesFromTheCallersBuffer)
{
    openAndBind();
    const UCHAR bytes[9] = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29};
    EXPECT_FALSE(registers_->WriteRegisterBlock(0x42, 1, bytes, 9));
    EXPECT_FALSE(registers_->WriteRegisterBlock(0x42, 9, bytes, 9));
    EXPECT_FALSE(registers_->WriteRegisterBlock(0x42, 4, bytes, 3)); // more than the buffer holds
    EXPECT_FALSE(registers_->WriteRegisterBlock(0x42, 2, nullptr, 2));
    EXPECT_TRUE(traffic().empty());

    ASSERT_TRUE(registers_->WriteRegisterBlock(0x42, 8, bytes, 9));
    ASSERT_TRUE(registers_->WriteRegisterBlock(0x0B, 2, bytes + 7, 2));
    EXPECT_EQ(traffic(), (RegisterTraffic{blockOf(0x42, 8), blockOf(0x0B, 2)}));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(camera().writtenRegister(0x42 + i), bytes[i]);
    }
    EXPECT_EQ(camera().writtenRegister(0x0B), 0x28);
    EXPECT_EQ(camera().writtenRegister(0x0C), 0x29);
}

TEST_F(CameraRegistersTest, ReadRegisterTakesOnlyAFullTwoByteAnswer)
{
    openAndBind();
    UCHAR value = 0x77;
    ASSERT_TRUE(registers_->WriteRegister(0x4B, 0x9D));
    ASSERT_TRUE(registers_->ReadRegister(0x4B, &value));
    EXPECT_EQ(value, 0x9D);
    camera().setOrientation(0xFF);
    ASSERT_TRUE(registers_->ReadRegister(0x00, &value));
    EXPECT_EQ(value, 0xFF);

    value = 0x77;
    camera().shortenNextRegisterRead();
    EXPECT_FALSE(registers_->ReadRegister(0x4B, &value));
    EXPECT_EQ(value, 0x77);
    EXPECT_FALSE(registers_->ReadRegister(0x30, &value)); // stall
    EXPECT_EQ(value, 0x77);
    EXPECT_FALSE(registers_->ReadRegister(0x4B, nullptr));
    EXPECT_EQ(traffic(), (RegisterTraffic{writeOf(0x4B, 0x9D), readOf(0x4B), readOf(0x00), readOf(0x4B),
                                          readOf(0x30)}));
}

TEST_F(CameraRegistersTest, AFailedRequestIsReportedAndEndsTheSequence)
{
    openAndBind();
    failVendorRequest(2);
    EXPECT_FALSE(registers_->ResetRegisters());
    EXPECT_EQ(traffic(), (RegisterTraffic{blockOf(0x02, 8), blockOf(0x0A, 8), blockOf(0x12, 8)}));
    EXPECT_EQ(camera().batchesTaken(), 0u);

    bus().clearTrace();
    failVendorRequest(6); // the commit to 0x1C
    EXPECT_FALSE(registers_->WriteAllRegisters());
    EXPECT_EQ(traffic().size(), 7u);
    EXPECT_EQ(camera().batchesTaken(), 0u);

    bus().clearTrace();
    bus().unplug();
    EXPECT_FALSE(registers_->WriteAllRegisters());
    EXPECT_EQ(traffic(), RegisterTraffic{blockOf(0x02, 8)});
}

TEST_F(CameraRegistersTest, OrientationIsReadUntilTheCameraAnswersOneOfItsTwoBytes)
{
    openAndBind();
    UCHAR orientation = 0x33;
    camera().setOrientation(0xFF);
    ASSERT_TRUE(registers_->ReadOrientation(&orientation));
    EXPECT_EQ(orientation, 0xFF);
    EXPECT_EQ(traffic(), RegisterTraffic{readOf(0x00)});

    bus().clearTrace();
    camera().setOrientation(0x5A);
    EXPECT_FALSE(registers_->ReadOrientation(&orientation));
    EXPECT_EQ(traffic(), RegisterTraffic(ORIENTATION_READ_ATTEMPTS, readOf(0x00)));

    bus().clearTrace();
    camera().setOrientation(0x00);
    failVendorRequest();
    EXPECT_FALSE(registers_->ReadOrientation(&orientation));
    EXPECT_EQ(traffic().size(), 1u);
    EXPECT_FALSE(registers_->ReadOrientation(nullptr));
}

} // namespace
} // namespace korval::testing
