// OpenCV's side of the comparison: the same job as CImageProcess::Process with
// the library's own functions, single-threaded: edge-aware demosaic, 3 x 3
// colour transform, unsharp mask from a 3 x 3 blur, per-channel lookup table,
// BGR to I420, and for VGA a crop enlarged bilinearly. Every destination is
// allocated before the timed loop, so the loop measures work, not allocation.
#include "bench/comparison.h"

#if KORVAL_HAVE_OPENCV

#include "imageprocess/CColorProcess.h"
#include "sys/imageprocess/ChartFrame.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace korval::bench {
namespace {

constexpr double kUnsharpAmount = 6.0 / 16.0;  // our default strength

cv::Mat bayerFrame()
{
    return cv::Mat(kSensorHeight, kSensorWidth, CV_8UC1, const_cast<std::uint8_t*>(sensorFrame().data()));
}

cv::Mat bgrPicture(const Bytes& picture, int width, int height)
{
    return cv::Mat(height, width, CV_8UC3, const_cast<std::uint8_t*>(picture.data()));
}

// Our composite colour matrix (R, G, B rows and columns), reordered for BGR.
cv::Mat colourMatrix()
{
    CColorProcess colour;
    colour.Open(kSensorWidth, kSensorHeight, 0, testing::defaultIpParameters().sColor);
    const double* rgb = colour.CompositeMatrix();
    cv::Mat matrix(3, 3, CV_32F);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            matrix.at<float>(i, j) = static_cast<float>(rgb[(2 - i) * 3 + (2 - j)]);
        }
    }
    return matrix;
}

// A gamma curve per channel, as a 1 x 256 three-channel table.
cv::Mat toneTable()
{
    cv::Mat table(1, 256, CV_8UC3);
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(i / 255.0, 0.7)));
        table.at<cv::Vec3b>(0, i) = cv::Vec3b(level, level, level);
    }
    return table;
}

struct Chain {
    cv::Mat matrix = colourMatrix();
    cv::Mat table = toneTable();
    cv::Mat demosaiced, coloured, blurred, sharpened, toned, enlarged, i420;

    void demosaic(const cv::Mat& bayer) { cv::demosaicing(bayer, demosaiced, cv::COLOR_BayerRG2BGR_EA); }
    void colour() { cv::transform(demosaiced, coloured, matrix); }
    void sharpen(const cv::Mat& picture)
    {
        cv::GaussianBlur(picture, blurred, cv::Size(3, 3), 0);
        cv::addWeighted(picture, 1.0 + kUnsharpAmount, blurred, -kUnsharpAmount, 0.0, sharpened);
    }
    void tone(const cv::Mat& picture) { cv::LUT(picture, table, toned); }
    void enlarge(const cv::Mat& picture)
    {
        const cv::Mat centre = picture(cv::Rect((kSensorWidth - 320) / 2, (kSensorHeight - 240) / 2, 320, 240));
        cv::resize(centre, enlarged, cv::Size(640, 480), 0.0, 0.0, cv::INTER_LINEAR);
    }
    void toI420(const cv::Mat& picture) { cv::cvtColor(picture, i420, cv::COLOR_BGR2YUV_I420); }

    void cif(const cv::Mat& bayer)
    {
        demosaic(bayer);
        colour();
        sharpen(coloured);
        tone(sharpened);
        toI420(toned);
    }

    void vga(const cv::Mat& bayer)
    {
        demosaic(bayer);
        colour();
        sharpen(coloured);
        tone(sharpened);
        enlarge(toned);
        toI420(enlarged);
    }
};

template <typename Step>
void run(benchmark::State& state, Step step)
{
    Chain chain;
    step(chain);  // allocates every destination once
    for (auto _ : state) {
        step(chain);
        benchmark::ClobberMemory();
    }
}

void demosaic(benchmark::State& state)
{
    run(state, [](Chain& c) { c.demosaic(bayerFrame()); });
}

void colourTransform(benchmark::State& state)
{
    Chain chain;
    chain.demosaic(bayerFrame());
    chain.colour();
    for (auto _ : state) {
        chain.colour();
        benchmark::ClobberMemory();
    }
}

void demosaicColour(benchmark::State& state)
{
    run(state, [](Chain& c) {
        c.demosaic(bayerFrame());
        c.colour();
    });
}

void sharpen(benchmark::State& state)
{
    run(state, [](Chain& c) { c.sharpen(bgrPicture(sensorPicture(), kSensorWidth, kSensorHeight)); });
}

void tone(benchmark::State& state)
{
    run(state, [](Chain& c) { c.tone(bgrPicture(sensorPicture(), kSensorWidth, kSensorHeight)); });
}

void toI420Cif(benchmark::State& state)
{
    run(state, [](Chain& c) { c.toI420(bgrPicture(sensorPicture(), kSensorWidth, kSensorHeight)); });
}

void enlargeVga(benchmark::State& state)
{
    run(state, [](Chain& c) { c.enlarge(bgrPicture(sensorPicture(), kSensorWidth, kSensorHeight)); });
}

void toI420Vga(benchmark::State& state)
{
    Chain source;
    source.enlarge(bgrPicture(sensorPicture(), kSensorWidth, kSensorHeight));
    run(state, [&](Chain& c) { c.toI420(source.enlarged); });
}

void chainCif(benchmark::State& state)
{
    run(state, [](Chain& c) { c.cif(bayerFrame()); });
}

void chainVga(benchmark::State& state)
{
    run(state, [](Chain& c) { c.vga(bayerFrame()); });
}

} // namespace

std::string comparisonOpenCvVersion()
{
    cv::setNumThreads(0);  // every function runs on the calling thread
    return CV_VERSION;
}

OpenCvSide openCvSide()
{
    return {demosaic, demosaicColour, colourTransform, sharpen, tone,
            toI420Cif, enlargeVga, toI420Vga, chainCif, chainVga};
}

} // namespace korval::bench

#else

namespace korval::bench {

std::string comparisonOpenCvVersion() { return {}; }

OpenCvSide openCvSide() { return {}; }

} // namespace korval::bench

#endif
