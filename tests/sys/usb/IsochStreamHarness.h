// The USB transport with its registers bound, the camera at the widest video
// alternate setting and video enabled: ready for StartVideo. The bus runs one
// 1 ms frame at a time on the test thread, and after each frame the queued
// resubmission DPCs are flushed, as a processor would run them between frames.
#pragma once

#include "CCameraRegistersHarness.h"

#include "camera/device/video_stream.h"
#include "host/kernel/dispatcher.h"

#include <map>

namespace korval::testing {

class IsochVideoTest : public CameraRegistersTest {
protected:
    void SetUp() override
    {
        CameraRegistersTest::SetUp();
        openAndBind();
        ASSERT_TRUE(usb_->SelectAlternateSetting(8));
        ASSERT_TRUE(registers_->ResetRegisters());
        ASSERT_TRUE(registers_->SetVideoEnable(true));
    }

    void TearDown() override
    {
        registers_->Unbind();
        usb_->Close();
        CameraRegistersTest::TearDown();
    }

    void pump(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            bus().runFrames(1);
            KeFlushQueuedDpcs();
            if (auto last = camera().lastFrame()) {
                sent_[static_cast<std::uint8_t>(last->sequence)] = *last;
            }
        }
    }

    // Runs the bus until `count` frames have been handed over (at most ~5 s of bus time).
    bool pumpUntilFrames(ULONGLONG count)
    {
        for (int i = 0; i < 5000 && usb_->FrameNumber < count; ++i) {
            pump(1);
        }
        return usb_->FrameNumber >= count;
    }

    struct Read {
        bool ok = false;
        std::vector<std::uint8_t> bytes;
        ULONGLONG number = 0;
    };

    Read readFrame(ULONG capacity = 0)
    {
        Read read;
        read.bytes.resize(capacity != 0 ? capacity : usb_->FrameBufferBytes);
        ULONG length = static_cast<ULONG>(read.bytes.size());
        read.ok = usb_->ReadFrame(read.bytes.data(), &length, &read.number);
        read.bytes.resize(length);
        return read;
    }

    // What the camera sent for each frame sequence byte.
    std::map<std::uint8_t, camera::FrameStats> sent_;
};

} // namespace korval::testing
