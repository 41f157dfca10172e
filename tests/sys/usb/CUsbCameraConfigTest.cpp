// The configuration URBs as the bus sees them, alternate-setting selection
// with its per-pipe transfer sizes, and the values that follow from it.
#include "UsbCameraHarness.h"

namespace korval::testing {
namespace {

TEST_F(UsbCameraTest, OpenSendsTheConfigurationRequestsInOrderWithTheirRecordSizes)
{
    ASSERT_TRUE(openCif());
    const auto trace = bus().trace();
    ASSERT_EQ(trace.size(), 5u);
    const std::uint16_t functions[] = {URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE,
                                       URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE, URB_FUNCTION_SELECT_CONFIGURATION,
                                       URB_FUNCTION_SELECT_INTERFACE};
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].function, functions[i]) << i;
        EXPECT_EQ(trace[i].status, USBD_STATUS_SUCCESS) << i;
    }
    EXPECT_EQ(trace[4].alternate, 0);

    const auto seen = spy_->seen();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].transferLength, 18u);
    EXPECT_EQ(seen[1].transferLength, 9u);
    EXPECT_EQ(seen[2].transferLength, static_cast<ULONG>(usb_->ConfigDescriptor->wTotalLength));
    EXPECT_EQ(camera().descriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0).size(), seen[2].transferLength);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].length, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    }
    EXPECT_FALSE(seen[3].nullConfiguration);
    EXPECT_EQ(seen[4].length, GET_SELECT_INTERFACE_REQUEST_SIZE(6));
    EXPECT_EQ(seen[4].interfaceLength, GET_USBD_INTERFACE_SIZE(6));
}

TEST_F(UsbCameraTest, SelectingAnAlternateAsksSixteenPacketsForTheVideoPipeOnly)
{
    ASSERT_TRUE(openCif());
    spy_->clear();
    ASSERT_TRUE(usb_->SelectAlternateSetting(4));
    const auto seen = spy_->seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].alternate, 4);
    ASSERT_EQ(seen[0].maxTransfer.size(), 6u);
    for (ULONG pipe = 0; pipe < 6; ++pipe) {
        const ULONG packet = usb_->EndpointDescriptor[4][pipe]->wMaxPacketSize;
        EXPECT_EQ(seen[0].maxTransfer[pipe], pipe == 4 ? 16 * packet : packet) << pipe;
    }
    EXPECT_EQ(seen[0].maxTransfer[4], 16u * 512u);
    EXPECT_EQ(usb_->CurrentAlternate, 4);
    EXPECT_EQ(bus().currentAlternate(), 4);
    EXPECT_EQ(usb_->GetVideoPacketSize(), 512u);
    EXPECT_EQ(usb_->PipeMaxPacket[USB_STATUS_PIPE], camera::kStatusPacketSize);
}

TEST_F(UsbCameraTest, VideoPacketSizeIsWhatTheStackReportsNotTheDescriptor)
{
    ASSERT_TRUE(openCif());
    spy_->onAnswer([](PURB urb) {
        if (urb->UrbHeader.Function == URB_FUNCTION_SELECT_INTERFACE && USBD_SUCCESS(urb->UrbHeader.Status)) {
            urb->UrbSelectInterface.Interface.Pipes[4].MaximumPacketSize = 600;
        }
    });
    ASSERT_TRUE(usb_->SelectAlternateSetting(5));
    EXPECT_EQ(static_cast<ULONG>(usb_->EndpointDescriptor[5][4]->wMaxPacketSize), 640u);
    EXPECT_EQ(usb_->GetVideoPacketSize(), 600u);
}

// Sixteen packets of what the stack reports must fit the transfer buffer: a
// full-speed isochronous packet carries at most 1023 bytes.
TEST_F(UsbCameraTest, VideoPacketSizeIsHeldToTheFullSpeedLimit)
{
    ASSERT_TRUE(openCif());
    for (USHORT reported : {USHORT(1023), USHORT(1024), USHORT(4096)}) {
        spy_->onAnswer([reported](PURB urb) {
            if (urb->UrbHeader.Function == URB_FUNCTION_SELECT_INTERFACE && USBD_SUCCESS(urb->UrbHeader.Status)) {
                urb->UrbSelectInterface.Interface.Pipes[4].MaximumPacketSize = reported;
            }
        });
        ASSERT_TRUE(usb_->SelectAlternateSetting(8));
        EXPECT_EQ(usb_->GetVideoPacketSize(), 1023u) << reported;
        EXPECT_LE(VIDEO_PACKETS_PER_TRANSFER * usb_->PipeMaxPacket[USB_VIDEO_PIPE], VIDEO_DATA_BYTES);
    }
}

TEST_F(UsbCameraTest, ARefusedSelectionKeepsThePreviousSetting)
{
    ASSERT_TRUE(openCif());
    ASSERT_TRUE(usb_->SelectAlternateSetting(2));
    USBD_PIPE_HANDLE videoPipe = usb_->PipeHandle[USB_VIDEO_PIPE];
    bus().setBandwidth(600); // 512 + 2 fits, 640 + 2 does not
    EXPECT_FALSE(usb_->SelectAlternateSetting(8));
    EXPECT_FALSE(usb_->SelectAlternateSetting(5));
    EXPECT_EQ(usb_->CurrentAlternate, 2);
    EXPECT_EQ(usb_->PipeHandle[USB_VIDEO_PIPE], videoPipe);
    EXPECT_EQ(usb_->GetVideoPacketSize(), 256u);
    EXPECT_TRUE(usb_->SelectAlternateSetting(4));
    EXPECT_EQ(usb_->GetVideoPacketSize(), 512u);
}

TEST_F(UsbCameraTest, SelectionNeedsAConfigurationAndASettingThatExists)
{
    EXPECT_FALSE(usb_->SelectAlternateSetting(0)); // never configured
    ASSERT_TRUE(openCif());
    const std::size_t urbs = bus().trace().size();
    EXPECT_FALSE(usb_->SelectAlternateSetting(9));
    EXPECT_FALSE(usb_->SelectAlternateSetting(255));
    EXPECT_EQ(bus().trace().size(), urbs);
    ASSERT_TRUE(usb_->Close());
    EXPECT_FALSE(usb_->SelectAlternateSetting(1));
}

TEST_F(UsbCameraTest, MarkerSkipIsSetOnlyWhileConfiguredAndVideoIsStopped)
{
    EXPECT_FALSE(usb_->SetMarkerSkipBytes(6500));
    ASSERT_TRUE(openCif());
    EXPECT_TRUE(usb_->SetMarkerSkipBytes(6500));
    EXPECT_EQ(usb_->MarkerSkipBytes, 6500u);

    WriteLockedFlag(&usb_->VideoStarted, TRUE);
    EXPECT_FALSE(usb_->SetMarkerSkipBytes(25000));
    EXPECT_EQ(usb_->MarkerSkipBytes, 6500u);
    WriteLockedFlag(&usb_->VideoStarted, FALSE);

    // More than the collecting buffer holds would let the collector write past it.
    EXPECT_FALSE(usb_->SetMarkerSkipBytes(usb_->FrameBufferBytes + 1));
    EXPECT_TRUE(usb_->SetMarkerSkipBytes(usb_->FrameBufferBytes));
    EXPECT_TRUE(usb_->SetMarkerSkipBytes(25000));
    EXPECT_EQ(usb_->MarkerSkipBytes, 25000u);
}

TEST_F(UsbCameraTest, PipeRequestsGoToTheStatusAndVideoEndpoints)
{
    EXPECT_FALSE(usb_->ResetVideoPipe()); // not configured
    EXPECT_FALSE(usb_->AbortStatusPipe());
    EXPECT_TRUE(bus().trace().empty());
    ASSERT_TRUE(openCif());
    ASSERT_TRUE(usb_->SelectAlternateSetting(3));
    bus().clearTrace();
    spy_->clear();
    EXPECT_TRUE(usb_->AbortStatusPipe());
    EXPECT_TRUE(usb_->AbortVideoPipe());
    EXPECT_TRUE(usb_->ResetStatusPipe());
    EXPECT_TRUE(usb_->ResetVideoPipe());
    const auto trace = bus().trace();
    ASSERT_EQ(trace.size(), 4u);
    const std::uint16_t functions[] = {URB_FUNCTION_ABORT_PIPE, URB_FUNCTION_ABORT_PIPE, URB_FUNCTION_RESET_PIPE,
                                       URB_FUNCTION_RESET_PIPE};
    const std::uint8_t endpoints[] = {camera::kStatusEndpointAddress, camera::kVideoEndpointAddress,
                                      camera::kStatusEndpointAddress, camera::kVideoEndpointAddress};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(trace[i].function, functions[i]);
        EXPECT_EQ(trace[i].endpoint, endpoints[i]);
        EXPECT_EQ(spy_->seen()[i].length, sizeof(struct _URB_PIPE_REQUEST));
    }

    host::UrbFault stall;
    stall.function = URB_FUNCTION_RESET_PIPE;
    stall.effect = host::UrbFault::Effect::Stall;
    bus().addFault(stall);
    EXPECT_FALSE(usb_->ResetVideoPipe()); // judged by the URB's status
}

} // namespace
} // namespace korval::testing
