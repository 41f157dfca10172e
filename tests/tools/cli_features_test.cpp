// The shared command line: formats through the driver's intersection, JSON
// for scripts, video on standard output, stills, and the completion script
// and man page made from the same option declarations.
#include "tool_test_support.h"

#include <png.h>

namespace {

using korval::tools_test::ToolTest;

std::size_t count(const std::string& text, const std::string& part)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

TEST_F(ToolTest, FormatsListsEveryOfferedFormatThroughTheIntersection)
{
    ASSERT_EQ(run({"formats"}), 0) << err_.str();
    EXPECT_EQ(count(out_.str(), "Size: "), 10u) << out_.str();
    EXPECT_NE(out_.str().find("Size: 640x480, 460800 bytes"), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("from 0.029s (35.000 fps) to 0.333s (3.000 fps)"), std::string::npos);
    // Named as a Windows capture application and a V4L2 user know them.
    EXPECT_EQ(count(out_.str(), "]: RGB24 (BGR, bottom-up; V4L2 'BGR3' upside down)"), 5u) << out_.str();
    EXPECT_EQ(count(out_.str(), "]: I420 (planar YUV 4:2:0, full range; V4L2 'YU12')"), 5u) << out_.str();
    ASSERT_EQ(run({"formats", "--json"}), 0);
    EXPECT_EQ(count(out_.str(), "\"intersection\":\"STATUS_SUCCESS (0x00000000)\""), 10u) << out_.str();
    EXPECT_EQ(out_.str().front(), '[');
}

TEST_F(ToolTest, JsonForScriptsAndTheSameOptionStyleEverywhere)
{
    ASSERT_EQ(run({"properties", "--json", "--set=hue=12"}), 0) << err_.str();
    EXPECT_NE(out_.str().find("{\"name\":\"hue\",\"value\":12,\"mode\":\"manual\",\"minimum\":0,\"maximum\":360"),
              std::string::npos)
        << out_.str();
    ASSERT_EQ(run({"info", "--json"}), 0);
    EXPECT_NE(out_.str().find("\"device_start\":\"STATUS_SUCCESS (0x00000000)\""), std::string::npos);
    ASSERT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out_.str().rfind("korval ", 0), 0u);
    EXPECT_EQ(run({"capture", "-n"}), 2);
    EXPECT_NE(err_.str().find("option '--frames' needs a value"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"capture", "--duration", "-1"}), 2);
    EXPECT_NE(err_.str().find("--duration: '-1'"), std::string::npos) << err_.str();
}

TEST_F(ToolTest, VideoOnStandardOutputWithTheSummaryOnStandardError)
{
    ASSERT_EQ(run({"capture", "-n", "3", "-s", "160x120", "--skip", "2", "-o", "-"}), 0) << err_.str();
    EXPECT_EQ(out_.str().rfind("YUV4MPEG2 W160 H120 F", 0), 0u);
    EXPECT_EQ(count(out_.str(), "FRAME\n"), 3u);
    EXPECT_NE(err_.str().find("captured 3 frames"), std::string::npos) << err_.str();
}

TEST_F(ToolTest, SnapshotKeepsTheDriversStillAsPng)
{
    ASSERT_EQ(run({"snapshot", "-q", "--skip", "3", "-s", "176x144", "-o", path("still.png")}), 0) << err_.str();
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path("still.png").c_str()));
    EXPECT_EQ(image.width, 176u);
    EXPECT_EQ(image.height, 144u);
    png_image_free(&image);
    ASSERT_EQ(run({"capture", "-q", "-n", "3", "--snapshot-at", "2", "-o", path("clip.y4m")}), 0) << err_.str();
    EXPECT_TRUE(std::filesystem::exists(path("clip-still.png")));
}

TEST_F(ToolTest, CompletionAndManualComeFromTheOptionDeclarations)
{
    ASSERT_EQ(run({"completion"}), 0);
    const std::string completion = out_.str();
    ASSERT_EQ(run({"man"}), 0);
    const std::string manual = out_.str();
    for (const char* command : {"capture", "formats", "info", "properties", "settings-checksum", "snapshot"}) {
        EXPECT_NE(completion.find(std::string("        ") + command + ")"), std::string::npos) << command;
        EXPECT_NE(manual.find(std::string(".SS ") + command), std::string::npos) << command;
    }
    for (const char* option : {"--snapshot-at", "--duration", "--skip", "--fps", "--no-wait", "--json"}) {
        EXPECT_NE(completion.find(option), std::string::npos) << option;
    }
    EXPECT_NE(completion.find("compgen -W \"640x480 352x288 320x240 176x144 160x120\""), std::string::npos);
    EXPECT_EQ(manual.rfind(".TH KORVAL 1", 0), 0u);
}

} // namespace

namespace {

using korval::tools_test::ToolTest;

TEST_F(ToolTest, RawFramesDevelopAgainLikeTheCaptureOrWithOtherSettings)
{
    ASSERT_EQ(run({"capture", "-q", "-n", "4", "--scene", "chart", "--raw", path("take.raw"), "-o", path("take.y4m")}),
              0)
        << err_.str();
    ASSERT_EQ(run({"process", path("take.raw"), "-o", path("again.y4m")}), 0) << err_.str();
    EXPECT_NE(out_.str().find("developed 4 of 4 raw frames"), std::string::npos) << out_.str();
    const auto lastFrame = [&](const std::string& name) {
        const auto bytes = readFile(path(name));
        return std::vector<std::uint8_t>(bytes.end() - 352 * 288 * 3 / 2, bytes.end());
    };
    EXPECT_TRUE(lastFrame("take.y4m") == lastFrame("again.y4m")) << "the same settings give the same picture";
    ASSERT_EQ(run({"process", path("take.raw"), "--set", "saturation=0", "-o", path("grey.y4m")}), 0);
    EXPECT_FALSE(lastFrame("take.y4m") == lastFrame("grey.y4m"));
    // A slow output (large PNGs) gets the last frame too.
    EXPECT_EQ(run({"process", path("take.raw"), "-s", "640x480", "-f", "rgb24", "-o", path("big_%d.png")}), 0)
        << err_.str();

    std::ofstream(path("broken.raw"), std::ios::binary) << "KORVAL RAW FRAMES 1\n" << std::string(12, '\xFF');
    EXPECT_EQ(run({"process", path("broken.raw")}), 3);
    EXPECT_NE(err_.str().find("frame 0 has an impossible length"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"process", path("take.y4m")}), 3);
    EXPECT_NE(err_.str().find("is not a raw frame file"), std::string::npos) << err_.str();
}

} // namespace

namespace {

using korval::tools_test::ToolTest;

// Damaged raw frame files: refused at the first bytes, or developed as far as
// they go, with the frames lost named and exit status 5.
TEST_F(ToolTest, ProcessNamesTheFramesItCouldNotDevelopAndKeepsTheRest)
{
    ASSERT_EQ(run({"capture", "-q", "-n", "3", "--raw", path("take.raw"), "-o", path("take.y4m")}), 0) << err_.str();
    const auto take = readFile(path("take.raw"));
    const std::size_t firstFrameEnd = 20 + 12 + (take[20] | take[21] << 8 | take[22] << 16);
    auto damaged = take;
    for (std::size_t i = firstFrameEnd + 100; i < firstFrameEnd + 2100; ++i) {
        damaged[i] = static_cast<std::uint8_t>(i * 7919 % 251);
    }
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int status;
        const char* message;
        bool output;
    } cases[] = {
        {"zeros.raw", std::vector<std::uint8_t>(1 << 20, 0), 3, "is not a raw frame file", false},
        {"header.raw", {take.begin(), take.begin() + 20}, 3, "holds no raw frames", false},
        {"cut.raw", {take.begin(), take.begin() + firstFrameEnd + 500}, 5, "frame 1 is cut short", true},
        {"damaged.raw", damaged, 5, "frame 1 skipped: the driver could not develop it", true},
    };
    for (const Case& c : cases) {
        std::ofstream(path(c.name), std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
        EXPECT_EQ(run({"process", path(c.name), "-o", path("out.y4m")}), c.status) << c.name;
        EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.name << ": " << err_.str();
        EXPECT_EQ(std::filesystem::exists(path("out.y4m")), c.output) << c.name;
        std::filesystem::remove(path("out.y4m"));
    }
    EXPECT_EQ(run({"process", "/dev/zero", "-o", path("out.y4m")}), 3) << "refused at its first bytes";
}

} // namespace

namespace {

using korval::tools_test::ToolTest;

// The trace of a capture as Wireshark's reader decodes it: one line per record
// with device address, endpoint, transfer type, URB type, request and packets.
std::string tsharkFields(const std::string& file)
{
    const std::string command = "tshark -r '" + file +
                                "' -T fields -e usb.device_address -e usb.endpoint_address -e usb.transfer_type "
                                "-e usb.urb_type -e usb.setup.bRequest -e usb.iso.numdesc 2>&1";
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
            text.append(buffer, got);
        }
        ::pclose(pipe);
    }
    return text;
}

TEST_F(ToolTest, UsbTraceIsReadByWiresharkWithTheVendorRequestsAndIsochronousPackets)
{
    ASSERT_EQ(run({"capture", "-q", "-n", "3", "--usb-trace", path("trace.pcap"), "-o", path("c.y4m")}), 0)
        << err_.str();
    const auto trace = readFile(path("trace.pcap"));
    ASSERT_GE(trace.size(), 24u);
    EXPECT_EQ(trace[20], 220) << "link type: usbmon, memory-mapped header";
    if (std::system("tshark -v > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed";
    }
    const std::string fields = tsharkFields(path("trace.pcap"));
    EXPECT_EQ(fields.find("tshark:"), std::string::npos) << fields.substr(0, 400);
    struct Expected {
        const char* line;
        const char* what;
    } expected[] = {
        {"1\t0x00\t0x02\t'S'\t0\t", "a register write (vendor request 0x00)"},
        {"1\t0x00\t0x02\t'S'\t1\t", "a register block write (vendor request 0x01)"},
        {"1\t0x80\t0x02\t'S'\t6\t", "GET_DESCRIPTOR"},
        {"1\t0x85\t0x00\t'S'\t\t16,16", "an isochronous submission of 16 packets"},
        {"1\t0x85\t0x00\t'C'\t\t16,16", "an isochronous completion of 16 packets"},
        {"1\t0x83\t0x01\t'S'\t", "the status pipe's interrupt transfer"},
    };
    for (const Expected& e : expected) {
        EXPECT_NE(fields.find(std::string("\n") + e.line), std::string::npos) << e.what;
    }
}

} // namespace
