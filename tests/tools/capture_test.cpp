// Whole captures through the driver on the fast clock: the files they leave
// and the machine directory they keep.
#include "tool_test_support.h"
#include "tools/korval/y4m_writer.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using korval::tools_test::ToolTest;

class CaptureTest : public ToolTest {
protected:
    // Checks the Y4M container and returns the frames' bytes.
    std::vector<std::vector<std::uint8_t>> y4mFrames(const std::string& file, int width, int height)
    {
        const std::vector<std::uint8_t> bytes = readFile(file);
        const std::string start = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F";
        EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin())) << file;
        const std::string header = korval::tools::y4mHeader(width, height);
        const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 3 / 2;
        std::vector<std::vector<std::uint8_t>> frames;
        for (std::size_t at = header.size(); at < bytes.size(); at += 6 + frameBytes) {
            EXPECT_EQ(std::string(bytes.begin() + at, bytes.begin() + at + 6), "FRAME\n");
            if (bytes.size() < at + 6 + frameBytes) {
                ADD_FAILURE() << "truncated frame";
                break;
            }
            frames.emplace_back(bytes.begin() + at + 6, bytes.begin() + at + 6 + frameBytes);
        }
        return frames;
    }

    // A PNG's size and pixels (R G B), read back with libpng.
    static bool readPng(const std::string& file, int& width, int& height, std::vector<std::uint8_t>& rgb)
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> handle(std::fopen(file.c_str(), "rb"), std::fclose);
        if (!handle) {
            return false;
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_stdio(&image, handle.get())) {
            return false;
        }
        image.format = PNG_FORMAT_RGB;
        rgb.resize(PNG_IMAGE_SIZE(image));
        width = static_cast<int>(image.width);
        height = static_cast<int>(image.height);
        return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
    }

    static bool hasPicture(const std::vector<std::uint8_t>& plane)
    {
        const auto [low, high] = std::minmax_element(plane.begin(), plane.end());
        return *high > 60 && *high - *low > 40;
    }
};

TEST_F(CaptureTest, Y4mAtTwoSizesHoldsRealPictures)
{
    for (const auto& [size, width, height] : {std::tuple{"352x288", 352, 288}, std::tuple{"176x144", 176, 144}}) {
        const std::string file = path(std::string("capture-") + size + ".y4m");
        ASSERT_EQ(run({"capture", "--frames", "3", "--size", size, "--output", file}), 0) << err_.str();
        EXPECT_NE(out_.str().find("captured 3 frames"), std::string::npos) << out_.str();
        const auto frames = y4mFrames(file, width, height);
        ASSERT_EQ(frames.size(), 3u);
        const std::vector<std::uint8_t> luma(frames.back().begin(), frames.back().begin() + width * height);
        EXPECT_TRUE(hasPicture(luma)) << size << ": the colour bars are not all black";
    }
}

TEST_F(CaptureTest, PngPerFrameForBothFormats)
{
    for (const char* format : {"rgb24", "i420"}) {
        const std::string pattern = path(std::string(format) + "_%02d.png");
        ASSERT_EQ(run({"capture", "--frames", "2", "--format", format, "--size", "160x120", "--scene", "chart",
                       "--output", pattern}),
                  0)
            << err_.str();
        for (int index = 0; index < 2; ++index) {
            int width = 0, height = 0;
            std::vector<std::uint8_t> rgb;
            const std::string file = path(std::string(format) + "_0" + std::to_string(index) + ".png");
            ASSERT_TRUE(readPng(file, width, height, rgb)) << file;
            EXPECT_EQ(width, 160);
            EXPECT_EQ(height, 120);
            EXPECT_TRUE(hasPicture(rgb)) << file;
        }
    }
}

TEST_F(CaptureTest, RgbAndI420PicturesAreTheSameWayUp)
{
    // The chart's bottom row holds the grey patches, its top row colours: a
    // flipped RGB24 picture would put the greys at the top.
    for (const char* format : {"rgb24", "i420"}) {
        ASSERT_EQ(run({"capture", "--frames", "2", "--format", format, "--scene", "chart", "--output",
                       path(std::string(format) + ".png")}),
                  0)
            << err_.str();
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgb;
        ASSERT_TRUE(readPng(path(std::string(format) + "_0001.png"), width, height, rgb));
        // The second-left patch of the bottom row is light grey: R, G and B close together and bright.
        const std::size_t at = (static_cast<std::size_t>(height) * 7 / 8 * width + width * 3 / 12) * 3;
        const int r = rgb[at], g = rgb[at + 1], b = rgb[at + 2];
        EXPECT_GT(std::min({r, g, b}), 60) << format;
        EXPECT_LT(std::max({r, g, b}) - std::min({r, g, b}), 60) << format << " is upside down";
    }
}

TEST_F(CaptureTest, MachineDirectoryKeepsTheRegistry)
{
    const std::string machine = path("machine");
    ASSERT_EQ(run({"capture", "--frames", "1", "--machine", machine, "--output", path("one.y4m")}), 0) << err_.str();
    const std::vector<std::uint8_t> registry = readFile(machine + "/registry.reg");
    const std::string text(registry.begin(), registry.end());
    EXPECT_NE(text.find("Windows Registry Editor Version 5.00"), std::string::npos);
    EXPECT_NE(text.find("\"A_64\"=dword:00432105"), std::string::npos) << text;

    // A machine that offers only 640x480 (n = 1, resolution 0) keeps that choice.
    std::ofstream(machine + "/registry.reg", std::ios::trunc)
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\n"
           "\"A_64\"=dword:00000001\n";
    EXPECT_EQ(run({"capture", "--frames", "1", "--machine", machine, "--output", path("two.y4m")}), 1);
    EXPECT_NE(err_.str().find("does not offer 352x288 I420"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"capture", "--frames", "1", "--size", "640x480", "--machine", machine, "--output",
                   path("two.y4m")}),
              0)
        << err_.str();
}

TEST_F(CaptureTest, FailuresNameTheFileAndExitNonZero)
{
    EXPECT_EQ(run({"capture", "--scene", path("absent.png"), "--output", path("x.y4m")}), 3);
    EXPECT_NE(err_.str().find("absent.png"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"capture", "--output", path("no/such/dir/x.y4m")}), 3);
    EXPECT_NE(err_.str().find("no/such/dir/x.y4m"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"capture", "--output", path("no/such/dir/f%02d.png")}), 3);
    EXPECT_NE(err_.str().find("no/such/dir"), std::string::npos) << err_.str();

    std::ofstream(path("broken.png")) << "not a picture";
    EXPECT_EQ(run({"capture", "--scene", path("broken.png"), "--output", path("x.y4m")}), 3);
    EXPECT_NE(err_.str().find("broken.png"), std::string::npos) << err_.str();

    std::filesystem::create_directories(path("bad"));
    std::ofstream(path("bad/registry.reg")) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\nnonsense\n";
    EXPECT_EQ(run({"capture", "--machine", path("bad"), "--output", path("x.y4m")}), 3);
    EXPECT_NE(err_.str().find("registry.reg"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"capture", "--frames"}), 2);
    EXPECT_NE(err_.str().find("--frames"), std::string::npos);
    EXPECT_EQ(run({"capture", "--help"}), 0);
    EXPECT_NE(out_.str().find("usage: korval capture"), std::string::npos);
}

} // namespace
