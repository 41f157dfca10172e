// Property requests against a running pipeline: the parameter gate keeps every
// change out of a frame's processing and serializes the requests themselves.
#include "PropertyFixture.h"

#include "base/ParameterGate.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace korval::property_test {
namespace {

TEST_F(PropertyTest, RequestWaitsWhileTheGateIsHeld)
{
    openCapture();
    AcquireParameterGate(context_);
    std::atomic<bool> done{false};
    std::thread request([&] {
        EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_GAMMA, 99), STATUS_SUCCESS);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load()) << "a frame is being processed";
    EXPECT_EQ(context_->CurGamma, 0u);
    ReleaseParameterGate(context_);
    request.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(ip().sGamma.usGamma, 99);
}

// Frames processed under the gate on one thread, property sets from three
// others: every change lands whole between two frames (ThreadSanitizer
// watches the objects), and the last value of each property wins.
TEST_F(PropertyTest, SetsFromManyThreadsInterleaveWithFrameProcessing)
{
    openCapture();
    std::vector<std::uint8_t> bayer(352 * 288 + 32768, 0x60);
    std::vector<std::uint8_t> frame(352 * 288 * 3 + 32768);
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread pipeline([&] {
        tagIpInput input{};
        input.pBayer = bayer.data();
        input.ucFrameRate = 30;
        input.usGain[0] = input.usGain[1] = input.usGain[2] = 128;
        tagIpOutput output{};
        output.pBuffer = frame.data();
        while (!stop.load()) {
            AcquireParameterGate(context_);
            korval::testing::FloatingPointScope floatingPoint; // the pipeline's per-frame bracket
            EXPECT_TRUE(context_->Stream->ImageProcess->Process(input, &output));
            tagAeParameters parameters{};
            context_->Stream->AutoExposure->GetParameters(&parameters);
            ReleaseParameterGate(context_);
            ++frames;
        }
    });
    // The changes must overlap frames, also on the slower plain pixel path.
    while (frames.load() == 0) {
        std::this_thread::yield();
    }
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_HUE, t * 100 + i), STATUS_SUCCESS);
                EXPECT_EQ(setPrivate(KSPROPERTY_KORVAL_FRAME_RATE, 5 + t), STATUS_SUCCESS);
                EXPECT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_COLORENABLE, (i + t) % 2), STATUS_SUCCESS);
                EXPECT_EQ(setExposure(60 + t, 1), STATUS_SUCCESS);
                EXPECT_EQ(procAmp(KSPROPERTY_VIDEOPROCAMP_HUE)[1], 2);
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    stop = true;
    pipeline.join();
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(ip().sColor.usHue, context_->CurHue);
    EXPECT_EQ(ip().sColor.usSaturation, context_->CurSaturation);
    EXPECT_EQ(ae().ucTargetLuma, context_->CurExposure);
    EXPECT_EQ(ae().usMinRow, context_->CurFrameRate == 5 ? 8 : 7) << "5, 6 or 7 frames per second";
}

} // namespace
} // namespace korval::property_test
