#include "control/SnapshotRequests.h"
#include "settings/StillStatus.h"

#include "SnapshotMachine.h"

#include <gtest/gtest.h>

namespace {

using namespace korval::snapshot_test;

class StillRequests : public SnapshotMachine {
protected:
    void openSmallStream() { openStream(160, 120, false, randomBytes(160 * 120 * 3, 21)); }
};

TEST_F(StillRequests, PressReportsTheStillOrTheMissingStream)
{
    presetStatus(0x80000402); // unknown bits and a pending request stay as they are
    ULONG copy = 0;
    ServeButtonPress(device_.get(), &copy);
    EXPECT_EQ(copy, 0x80000401u);
    EXPECT_EQ(status(), 0x80000401u);
    EXPECT_EQ(statusCopy(), 0x80000401u);
    EXPECT_FALSE(stillFile().has_value());

    openSmallStream();
    ServeButtonPress(device_.get(), &copy);
    EXPECT_EQ(status(), 0x80000402u);
    EXPECT_EQ(statusCopy(), 0x80000402u);
    EXPECT_TRUE(stillFile().has_value());
}

TEST_F(StillRequests, MissingOrForeignStatusWordFallsBackToTheThreadsCopy)
{
    ULONG copy = 0x00010002;
    ServeButtonPress(device_.get(), &copy);
    EXPECT_EQ(status(), 0x00010001u);
    platform_->registry().setValue(kStatusKey, "StatusReport", RegistryValue::string("x"));
    copy = 0x00000400;
    ServeStillRequest(device_.get(), &copy);
    EXPECT_EQ(statusCopy(), 0u);
}

TEST_F(StillRequests, RequestIsAnsweredWithOrWithoutStream)
{
    ULONG copy = 0;
    presetStatus(0x00000403); // without a stream only bit 10 changes
    ServeStillRequest(device_.get(), &copy);
    EXPECT_EQ(status(), 0x00000003u);
    EXPECT_EQ(statusCopy(), 0x00000003u);
    EXPECT_FALSE(stillFile().has_value());

    openSmallStream();
    presetStatus(0x00000401);
    ServeStillRequest(device_.get(), &copy);
    EXPECT_EQ(copy, 0x00000002u);
    EXPECT_EQ(status(), 0x00000002u);
    EXPECT_EQ(statusCopy(), 0x00000002u);
    EXPECT_TRUE(stillFile().has_value());
}

TEST_F(StillRequests, WithoutARequestNothingIsWritten)
{
    openSmallStream();
    presetStatus(0x00000003);
    platform_->registry().setValue(kCopyKey, kCopyName, RegistryValue::dword(0xDEAD));
    ULONG copy = 0;
    ServeStillRequest(device_.get(), &copy);
    EXPECT_EQ(copy, 0x00000003u) << "the copy follows what was read";
    EXPECT_EQ(status(), 0x00000003u);
    EXPECT_EQ(statusCopy(), 0xDEADu);
    EXPECT_FALSE(stillFile().has_value());
}

TEST_F(StillRequests, FailedFileWriteIsNotReportedAsAStill)
{
    openSmallStream();
    presetStatus(0x00000403);
    platform_->failNextCalls("ZwCreateFile", STATUS_ACCESS_DENIED, 1);
    ULONG copy = 0;
    ServeStillRequest(device_.get(), &copy);
    EXPECT_EQ(status(), 0x00000000u) << "request answered, neither bit 0 nor bit 1";
    presetStatus(0x00000002);
    platform_->failNextCalls("ZwWriteFile", STATUS_DISK_FULL, 1);
    ServeButtonPress(device_.get(), &copy);
    EXPECT_EQ(statusCopy(), 0x00000000u);
}

TEST_F(StillRequests, StatusValuesOfInitializationAndStreamOpen)
{
    WriteUsbSnapshotStatus(1);
    auto value = platform_->registry().value(kStatusKey, "usb_snapshot_status");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<std::uint32_t>(REG_BINARY));
    EXPECT_EQ(value->data, (Bytes{1, 0, 0, 0}));
    WriteStillStatus(0);
    EXPECT_EQ(status(), 0u);
    EXPECT_FALSE(statusCopy().has_value()) << "device initialization resets the word alone";
}

} // namespace
