// The whole pipeline: life cycle and its debug lines, the plain and full paths,
// the five output sizes in both formats, and the pool staying untouched.
#include "imageprocess/CImageProcess.h"

#include "ChartFrame.h"
#include "IpStageFrames.h"
#include "host/kernel/debug_print.h"
#include "host/kernel/pool.h"
#include "imageprocess/CInterpolation.h"
#include "imageprocess/CRearrange.h"
#include "platform/CpuFeatures.h"
#include "support/png_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using korval::testing::chartBayer;
using korval::testing::defaultIpParameters;
using korval::tests::kCifHeight;
using korval::tests::kCifWidth;

constexpr int kOutSize[5][2] = {{640, 480}, {352, 288}, {320, 240}, {176, 144}, {160, 120}};

struct ProcessHelpers : CImageProcess {
    using CImageProcess::BGR24toI420;
    using CImageProcess::I420toBGR24;
};

// One open pipeline with a chart frame and an output buffer of the right size.
struct Pipeline {
    CImageProcess process;
    Bytes bayer = chartBayer(kCifWidth, kCifHeight);
    Bytes output;
    tagIpOutput out{};
    tagIpInput in{};
    UCHAR format;
    UCHAR size;

    Pipeline(UCHAR formatCode, UCHAR sizeCode, tagIpParameters parameters = defaultIpParameters())
        : format(formatCode), size(sizeCode)
    {
        EXPECT_TRUE(process.Open(kCifWidth, kCifHeight, 0, formatCode, sizeCode, 0, parameters));
        const std::size_t pixels = static_cast<std::size_t>(kOutSize[sizeCode][0]) * kOutSize[sizeCode][1];
        output.assign(formatCode == IP_FORMAT_I420 ? pixels * 3 / 2 : pixels * 3, 0xCD);
        out.pBuffer = output.data();
        in.ucFrameRate = 30;
        in.ulExposure = 5000;
        in.usGain[0] = in.usGain[1] = in.usGain[2] = 128;
    }
    int width() const { return kOutSize[size][0]; }
    int height() const { return kOutSize[size][1]; }
    // Runs a fresh copy of the chart frame, feeding the white balance back.
    bool run()
    {
        Bytes frame = bayer;
        in.pBayer = frame.data();
        const bool result = process.Process(in, &out);
        if (out.bChanged) {
            std::memcpy(in.ucGainIndex, out.sNextFrame.ucGainIndex, 3);
            std::memcpy(in.usGain, out.sNextFrame.usGain, sizeof(in.usGain));
        }
        return result;
    }
    const std::uint8_t* pixel(int row, int column) const { return &output[(row * width() + column) * 3]; }
    // The pixel's B, G, R in one value, or its Y for I420.
    int luma(int index) const
    {
        if (format == IP_FORMAT_I420) {
            return output[index];
        }
        const std::uint8_t* p = &output[index * 3];
        return p[0] | p[1] << 8 | p[2] << 16;
    }
};

tagIpParameters plainParameters()
{
    tagIpParameters p = defaultIpParameters();
    p.bEnable = 0;
    return p;
}

TEST(CImageProcess, ClosedObjectRefusesWithItsLines)
{
    CImageProcess process;
    tagIpOutput out{};
    out.ucMeanLuma = 77;
    tagIpInput in{};
    korval::host::clearDebugLines();
    EXPECT_FALSE(process.Process(in, &out));
    EXPECT_EQ(out.ucMeanLuma, 77);
    EXPECT_EQ(korval::host::debugText(), " ERROR: ImageProcess not yet Opened !\n");
    korval::host::clearDebugLines();
    EXPECT_FALSE(process.Process(in, nullptr));
    EXPECT_EQ(korval::host::debugText(), " ERROR: ImageProcess not yet Opened !\n ERROR: psIpOutput == NULL\n");
    korval::host::clearDebugLines();
    EXPECT_FALSE(process.Close());
    EXPECT_FALSE(process.GetParameters(nullptr));
    EXPECT_EQ(korval::host::debugText(), "ERROR: ImageProcess not yet Opened !\n ERROR: psIpPara == NULL\n");
    // Parameters are kept before Open too.
    tagIpParameters parameters = defaultIpParameters();
    parameters.usSharpness = 0x0102;
    EXPECT_TRUE(process.SetParameters(parameters));
    tagIpParameters back{};
    ASSERT_TRUE(process.GetParameters(&back));
    EXPECT_EQ(std::memcmp(&back, &parameters, sizeof(back)), 0);
}

TEST(CImageProcess, OpenPrintsTheBannerAndRefusesReopenAndBadSizes)
{
    const char* banners[] = {"VGA", "CIF", "QVGA", "QCIF", "QQVGA"};
    for (UCHAR size = 0; size < 5; ++size) {
        korval::host::clearDebugLines();
        CImageProcess process;
        ASSERT_TRUE(process.Open(kCifWidth, kCifHeight, 0, 0, size, 0, defaultIpParameters()));
        EXPECT_EQ(korval::host::debugText(), std::string("\t=== IP_OUTPUT_") + banners[size] + " ===\n");
        EXPECT_EQ(process.OutputWidth(), ULONG(kOutSize[size][0]));
        korval::host::clearDebugLines();
        EXPECT_FALSE(process.Open(kCifWidth, kCifHeight, 0, 0, size, 0, defaultIpParameters()));
        EXPECT_EQ(korval::host::debugText(), "\tERROR: Try to ReOpen ImageProcess !\n");
        EXPECT_FALSE(process.Close());  // the failed reopen closed it
        EXPECT_TRUE(process.Open(kCifWidth, kCifHeight, 0, 1, size, 0, defaultIpParameters()));
        EXPECT_TRUE(process.Close());
    }
    CImageProcess process;
    EXPECT_FALSE(process.Open(kCifWidth, kCifHeight, 0, 0, 5, 0, defaultIpParameters()));
    EXPECT_FALSE(process.Open(kCifWidth + 4, kCifHeight, 0, 0, 1, 0, defaultIpParameters()));
    EXPECT_FALSE(process.Open(320, 240, 0, 0, 1, 0, defaultIpParameters()));  // CIF needs the CIF frame
    EXPECT_FALSE(process.Open(312, 240, 0, 0, 2, 0, defaultIpParameters()));  // narrower than the crop
    EXPECT_TRUE(process.Open(320, 240, 0, 0, 0, 0, defaultIpParameters()));
}

TEST(CImageProcess, EveryAllocationFailureLeavesNothingBehind)
{
    korval::host::resetPoolCounters();
    bool opened = false;
    bool sawDefectLine = false;
    for (std::uint64_t nth = 1; !opened && nth < 64; ++nth) {
        CImageProcess process;
        korval::host::clearDebugLines();
        korval::host::failPoolAllocation(nth);
        opened = process.Open(kCifWidth, kCifHeight, 0, IP_FORMAT_I420, IP_OUTPUT_VGA, 0, defaultIpParameters());
        korval::host::failPoolAllocation(0);
        sawDefectLine |= korval::host::debugText().find(" ERROR: m_pDefect->Open() Failed !\n") != std::string::npos;
        if (!opened) {
            EXPECT_EQ(korval::host::poolCounters(KORVAL_POOL_TAG).outstandingBlocks, 0u) << nth;
        }
    }
    EXPECT_TRUE(opened);
    EXPECT_TRUE(sawDefectLine);
    korval::host::checkNoPoolLeaks(KORVAL_POOL_TAG);
}

TEST(CImageProcess, PlainPathIsDemosaicRearrangeAndRepeatedEdgeOnly)
{
    Pipeline pipeline(IP_FORMAT_BGR24, IP_OUTPUT_CIF, plainParameters());
    pipeline.out.ucMeanLuma = 0xAB;
    std::memset(&pipeline.out.sNextFrame, 0xAB, sizeof(pipeline.out.sNextFrame));
    const tagIpInput untouched = pipeline.out.sNextFrame;
    pipeline.out.bChanged = 9;
    ASSERT_TRUE(pipeline.run());
    EXPECT_EQ(pipeline.out.bChanged, 0);
    EXPECT_EQ(pipeline.out.ucMeanLuma, 0xAB);
    EXPECT_EQ(std::memcmp(&pipeline.out.sNextFrame, &untouched, sizeof(untouched)), 0);

    // The same picture built from the stages by hand.
    Bytes padded((kCifWidth + 4) * (kCifHeight + 4), 0), green(padded.size()), packed(kCifWidth * kCifHeight * 3);
    Bytes image(packed.size());
    for (int r = 0; r < kCifHeight; ++r) {
        std::memcpy(&padded[(r + 2) * (kCifWidth + 4) + 2], &pipeline.bayer[r * kCifWidth], kCifWidth);
    }
    CInterpolation interpolation;
    CRearrange rearrange;
    ASSERT_TRUE(interpolation.Open(kCifWidth + 4, kCifHeight + 4, 0));
    ASSERT_TRUE(rearrange.Open(kCifWidth, kCifHeight));
    ASSERT_TRUE(interpolation.Process(padded.data(), green.data(), packed.data(), 0));
    ASSERT_TRUE(rearrange.Process_4B4G4R(packed.data(), image.data(), 0, 1));
    for (int r = 0; r < kCifHeight; ++r) {
        for (int c = 0; c < kCifWidth; ++c) {
            const int inner = std::clamp(r, 1, kCifHeight - 2) * kCifWidth + std::clamp(c, 1, kCifWidth - 2);
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(pipeline.pixel(r, c)[k], image[inner * 3 + k]) << r << "," << c;
            }
        }
    }
    tagIpParameters back{};
    ASSERT_TRUE(pipeline.process.GetParameters(&back));
    EXPECT_EQ(back.sGamma.usBlackPoint, 0);
    EXPECT_EQ(back.sGamma.usBrightness, 255);
    EXPECT_EQ(back.sGamma.usGamma, 70);
}

TEST(CImageProcess, WhiteBalanceOffPassesTheGainsOnAsChanged)
{
    tagIpParameters parameters = defaultIpParameters();
    parameters.bAwb = 0;
    Pipeline pipeline(IP_FORMAT_BGR24, IP_OUTPUT_QCIF, parameters);
    pipeline.in.ucGainIndex[0] = 3;
    pipeline.in.usGain[0] = 150;
    pipeline.in.usGain[2] = 170;
    for (int frame = 0; frame < 3; ++frame) {
        pipeline.out.bChanged = 0;
        ASSERT_TRUE(pipeline.run());
        EXPECT_EQ(pipeline.out.bChanged, 1);
        EXPECT_EQ(pipeline.out.sNextFrame.ucGainIndex[0], 3);
        EXPECT_EQ(pipeline.out.sNextFrame.usGain[0], 150);
        EXPECT_EQ(pipeline.out.sNextFrame.usGain[1], 128);
        EXPECT_EQ(pipeline.out.sNextFrame.usGain[2], 170);
    }
    tagIpParameters back{};
    ASSERT_TRUE(pipeline.process.GetParameters(&back));
    EXPECT_EQ(back.sColor.usGain[0], 150);  // the colour stage took the input gains
    EXPECT_EQ(back.sColor.usGain[2], 170);
    EXPECT_EQ(back.sGamma.usBlackPoint, 5);
}

TEST(CImageProcess, WhiteBalanceOnReportsChangesAgainstTheInput)
{
    Pipeline pipeline(IP_FORMAT_BGR24, IP_OUTPUT_QQVGA);
    pipeline.in.usGain[0] = 300;  // above the maximum: the first measuring call must limit it
    ASSERT_TRUE(pipeline.run());
    EXPECT_EQ(pipeline.out.bChanged, 1);
    EXPECT_LE(pipeline.out.sNextFrame.usGain[0], 256);
    ASSERT_TRUE(pipeline.run());  // not a measuring call: values pass through unchanged
    EXPECT_EQ(pipeline.out.bChanged, 0);
}

TEST(CImageProcess, MeanLumaOverTheMeteringWindow)
{
    tagIpParameters parameters = defaultIpParameters();
    parameters.bColorProcess = 0;
    parameters.bAwb = 0;
    Pipeline pipeline(IP_FORMAT_BGR24, IP_OUTPUT_CIF, parameters);
    pipeline.bayer.assign(pipeline.bayer.size(), 100);
    ASSERT_TRUE(pipeline.run());
    EXPECT_EQ(pipeline.out.ucMeanLuma, 100);  // 25 + 50 + 25

    parameters.ucMeterWidth = 0;  // empty window: the mean is skipped
    ASSERT_TRUE(pipeline.process.SetParameters(parameters));
    pipeline.out.ucMeanLuma = 1;
    ASSERT_TRUE(pipeline.run());
    EXPECT_EQ(pipeline.out.ucMeanLuma, 1);

    // Over 100 percent means the whole frame, whose demosaicked edge is darker.
    parameters.ucMeterWidth = parameters.ucMeterHeight = 100;
    ASSERT_TRUE(pipeline.process.SetParameters(parameters));
    ASSERT_TRUE(pipeline.run());
    const UCHAR whole = pipeline.out.ucMeanLuma;
    EXPECT_LT(whole, 100);
    parameters.ucMeterWidth = parameters.ucMeterHeight = 250;
    ASSERT_TRUE(pipeline.process.SetParameters(parameters));
    ASSERT_TRUE(pipeline.run());
    EXPECT_EQ(pipeline.out.ucMeanLuma, whole);
}

// The demosaic's outermost pixels read the unwritten frame of the padded
// mosaic: CIF and QCIF repeat the nearest inner pixel there instead of a black
// or miscoloured frame, in both formats; the sizes cut from or scaled from the
// frame (640 x 480, 320 x 240, 160 x 120) show no border either: the
// enlargement's last column repeats the one before instead of blending in the
// next row's first pixel (or, at the bottom, what lies past the picture).
TEST(CImageProcess, EverySizeRepeatsTheNearestInnerPixelAtItsEdges)
{
    for (UCHAR format : {IP_FORMAT_BGR24, IP_FORMAT_I420}) {
        for (UCHAR size : {IP_OUTPUT_VGA, IP_OUTPUT_CIF, IP_OUTPUT_QVGA, IP_OUTPUT_QCIF, IP_OUTPUT_QQVGA}) {
            Pipeline pipeline(format, size);
            pipeline.bayer.assign(pipeline.bayer.size(), 180);
            ASSERT_TRUE(pipeline.run());
            const int w = pipeline.width(), h = pipeline.height();
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    // The enlargement's even rows and columns copy the frame, so its
                    // top and left edges are inner pixels; its last row and column repeat.
                    const int inner = size == IP_OUTPUT_VGA
                                          ? std::min(r, h - 2) * w + std::min(c, w - 2)
                                          : std::clamp(r, 1, h - 2) * w + std::clamp(c, 1, w - 2);
                    ASSERT_EQ(pipeline.luma(r * w + c), pipeline.luma(inner)) << int(size) << ": " << r << "," << c;
                }
            }
        }
    }
}

TEST(CImageProcess, CroppedSizesShowTheCentreOfTheFrame)
{
    const tagIpParameters parameters = plainParameters();
    Pipeline cif(IP_FORMAT_BGR24, IP_OUTPUT_CIF, parameters);
    Pipeline qvga(IP_FORMAT_BGR24, IP_OUTPUT_QVGA, parameters);
    Pipeline vga(IP_FORMAT_BGR24, IP_OUTPUT_VGA, parameters);
    Pipeline qqvga(IP_FORMAT_BGR24, IP_OUTPUT_QQVGA, parameters);
    ASSERT_TRUE(cif.run() && qvga.run() && vga.run() && qqvga.run());
    for (int r = 0; r < 240; ++r) {
        for (int c = 0; c < 320; ++c) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(qvga.pixel(r, c)[k], cif.pixel(r + 24, c + 16)[k]);
                ASSERT_EQ(vga.pixel(2 * r, 2 * c)[k], qvga.pixel(r, c)[k]);
            }
        }
    }
    for (int r = 0; r < 120; ++r) {
        for (int c = 0; c < 160; ++c) {
            const int sum = qvga.pixel(2 * r, 2 * c)[1] + qvga.pixel(2 * r, 2 * c + 1)[1] +
                            qvga.pixel(2 * r + 1, 2 * c)[1] + qvga.pixel(2 * r + 1, 2 * c + 1)[1];
            ASSERT_EQ(qqvga.pixel(r, c)[1], sum >> 2);
        }
    }
}

TEST(CImageProcess, I420RowsRunOppositeToBgr24)
{
    for (UCHAR flip : {UCHAR(0), UCHAR(1), UCHAR(2)}) {  // 2 is no flip, for both formats alike
        for (UCHAR size = 0; size < 5; ++size) {
            tagIpParameters parameters = defaultIpParameters();
            parameters.bFlip = flip;
            parameters.bAwb = 0;  // both pipelines see identical gains on every frame
            Pipeline bgr(IP_FORMAT_BGR24, size, parameters);
            Pipeline i420(IP_FORMAT_I420, size, parameters);
            ASSERT_TRUE(bgr.run() && i420.run());
            const int w = bgr.width(), h = bgr.height();
            Bytes topDown(bgr.output.size());
            for (int r = 0; r < h; ++r) {
                std::memcpy(&topDown[r * w * 3], bgr.pixel(h - 1 - r, 0), w * 3);
            }
            Bytes expected(i420.output.size());
            if (size == IP_OUTPUT_VGA) {
                // The enlargement copies even rows and blends odd ones, and the last
                // row repeats the one before; under the opposite row order the copied
                // rows are one apart, so compare the copied source pixels only.
                ASSERT_TRUE(ProcessHelpers::BGR24toI420(bgr.output.data(), expected.data(), w, h));
                for (int k = 0; k < h / 2; ++k) {
                    for (int i = 0; i < w / 2; ++i) {
                        ASSERT_EQ(i420.output[2 * k * w + 2 * i], expected[(h - 2 - 2 * k) * w + 2 * i]) << k << "," << i;
                    }
                }
                continue;
            }
            ASSERT_TRUE(ProcessHelpers::BGR24toI420(topDown.data(), expected.data(), w, h));
            ASSERT_EQ(i420.output, expected) << "flip " << int(flip) << " size " << int(size);
        }
    }
}

TEST(CImageProcess, ProcessAllocatesNothingAndRejectsBadBuffers)
{
    for (UCHAR format : {IP_FORMAT_BGR24, IP_FORMAT_I420}) {
        for (UCHAR size = 0; size < 5; ++size) {
            Pipeline pipeline(format, size);
            korval::host::resetPoolCounters();
            for (int frame = 0; frame < 5; ++frame) {
                ASSERT_TRUE(pipeline.run());
            }
            const auto counters = korval::host::poolCounters(0);
            EXPECT_EQ(counters.allocations, 0u);
            EXPECT_EQ(counters.frees, 0u);
        }
    }
    Pipeline pipeline(IP_FORMAT_BGR24, IP_OUTPUT_CIF);
    korval::host::clearDebugLines();
    tagIpInput in = pipeline.in;
    in.pBayer = nullptr;
    EXPECT_FALSE(pipeline.process.Process(in, &pipeline.out));
    in.pBayer = pipeline.bayer.data();
    pipeline.out.pBuffer = nullptr;
    EXPECT_FALSE(pipeline.process.Process(in, &pipeline.out));
    EXPECT_EQ(korval::host::debugText(), " ERROR: Buffer == NULL\n ERROR: Buffer == NULL\n");

    Pipeline odd(2, IP_OUTPUT_CIF);  // neither BGR24 nor I420
    korval::host::clearDebugLines();
    EXPECT_FALSE(odd.run());
    EXPECT_EQ(korval::host::debugText(), "");
}

// Pictures for a person: the chart through every stage at each size.
// The SSE2 path (where the colour pass writes the rows and the green plane
// itself) and the plain path give the same bytes for every size, format,
// mirror and flip, with sharpening on.
TEST(CImageProcess, EveryPathWritesTheSameFrames)
{
    const CPU_PATH before = CpuCurrentPath();
    struct RestorePath {
        CPU_PATH path;
        ~RestorePath() { CpuFeaturesLimit(path); }
    } restore{before};
    for (UCHAR size = 0; size < 5; ++size) {
        for (UCHAR format : {IP_FORMAT_BGR24, IP_FORMAT_I420}) {
            for (int orientation = 0; orientation < 4; ++orientation) {
                tagIpParameters parameters = defaultIpParameters();
                parameters.bMirror = static_cast<UCHAR>(orientation & 1);
                parameters.bFlip = static_cast<UCHAR>(orientation >> 1);
                Bytes frames[2];
                for (int run = 0; run < 2; ++run) {
                    CpuFeaturesLimit(run == 0 ? CpuPathPlain : (before < CpuPathSse2 ? before : CpuPathSse2));
                    Pipeline pipeline(format, size, parameters);
                    for (int frame = 0; frame < 2; ++frame) {
                        ASSERT_TRUE(pipeline.run());
                    }
                    frames[run] = pipeline.output;
                }
                ASSERT_EQ(frames[0], frames[1]) << "size " << int(size) << " format " << int(format)
                                                << " orientation " << orientation;
            }
        }
    }
}

TEST(CImageProcess, WritesTheChartAtEverySize)
{
    const char* names[] = {"vga", "cif", "qvga", "qcif", "qqvga"};
    for (UCHAR size = 0; size < 5; ++size) {
        for (UCHAR format : {IP_FORMAT_BGR24, IP_FORMAT_I420}) {
            Pipeline pipeline(format, size);
            pipeline.bayer = chartBayer(kCifWidth, kCifHeight, true);
            for (int frame = 0; frame < 80; ++frame) {  // white balance settles
                ASSERT_TRUE(pipeline.run());
            }
            const int w = pipeline.width(), h = pipeline.height();
            Bytes bottomUp(static_cast<std::size_t>(w) * h * 3);
            if (format == IP_FORMAT_I420) {
                ASSERT_TRUE(ProcessHelpers::I420toBGR24(pipeline.output.data(), bottomUp.data(), w, h));
            } else {
                bottomUp = pipeline.output;
            }
            const std::string name = std::string("image_process_chart_") + names[size] +
                                     (format == IP_FORMAT_I420 ? "_i420" : "_bgr24");
            EXPECT_FALSE(korval::testing::writeBgrBottomUpPng(name, w, h, bottomUp.data()).empty());
        }
    }
}

} // namespace
