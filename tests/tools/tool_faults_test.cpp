// The korval program run as a user would, against the faults it once had:
// settings that never reached the picture, crashes on unusable machine
// directories, destroyed output, Ctrl-C, a lying Y4M header, values silently
// lost, and unnamed status codes.
#include "korval_program.h"
#include "tool_test_support.h"
#include "tools/korval/y4m_writer.h"

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using korval::tools_test::KorvalProgram;
using korval::tools_test::ProgramRun;
using korval::tools_test::ToolTest;

class ToolFaultsTest : public ToolTest {
protected:
    ProgramRun korval(const std::vector<std::string>& args) { return KorvalProgram(dir_).run(args); }

    std::string capture(const std::string& machine, const std::string& name, int frames = 2)
    {
        const ProgramRun run =
            korval({"capture", "-y", "-n", std::to_string(frames), "--machine", machine, "-o", path(name)});
        EXPECT_EQ(run.status, 0) << run.err;
        return pictures(path(name));
    }

    // The first frame of a Y4M file. Later frames depend on when the camera's
    // frames arrived (auto exposure and white balance adapt to the frames
    // read), and the header's rate is measured, so neither repeats exactly.
    static std::string pictures(const std::string& file)
    {
        const auto bytes = readFile(file);
        const std::string text(bytes.begin(), bytes.end());
        const std::size_t first = text.find("FRAME\n");
        return first == std::string::npos ? std::string() : text.substr(first, text.find("FRAME\n", first + 1) - first);
    }

    static std::string registryText(const std::string& values)
    {
        return "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\n" +
               values;
    }

    void writeRegistry(const std::string& machine, const std::string& text)
    {
        std::filesystem::create_directories(machine);
        std::ofstream(machine + "/registry.reg", std::ios::binary) << text;
    }
};

TEST_F(ToolFaultsTest, PropertySetsChangeTheCapturedPicture)
{
    const std::string baseline = capture(path("plain"), "plain.y4m");
    for (const char* set : {"saturation=0", "contrast=60", "hue=90", "gamma=20", "sharpness=16", "brightness=400",
                            "mirror=1", "flip=0"}) {
        const std::string machine = path(std::string("m-") + set);
        ASSERT_EQ(korval({"properties", "--machine", machine, "--set", set}).status, 0) << set;
        EXPECT_TRUE(capture(machine, "set.y4m") != baseline) << set << " changed nothing in the picture";
    }
    // The installed table reproduces the built-in tuning: declaring it invalid changes nothing but warns.
    const std::string invalid = path("invalid");
    capture(invalid, "first.y4m");
    const auto stored = readFile(invalid + "/registry.reg");
    std::string text(stored.begin(), stored.end());
    text.replace(text.find("\"A_65\"=dword:") + 13, 8, "00000001");
    writeRegistry(invalid, text);
    const ProgramRun run = korval({"capture", "-n", "2", "--machine", invalid, "-o", path("invalid.y4m")});
    EXPECT_NE(run.err.find("tuning table"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("is 0x00000001, not"), std::string::npos) << run.err;
    EXPECT_TRUE(pictures(path("invalid.y4m")) == baseline) << "an invalid table changed the picture";
}

TEST_F(ToolFaultsTest, ChecksumWrittenOverAnIncompleteTableStillOpensTheStream)
{
    const std::string machine = path("old");
    writeRegistry(machine, registryText("\"A_64\"=dword:00432105\n\"A_113\"=dword:00000008\n\"A_135\"=dword:0000001e\n"));
    const ProgramRun written = korval({"settings-checksum", machine + "/registry.reg", "--write"});
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_NE(written.out.find("filled missing tuning values"), std::string::npos) << written.out;
    EXPECT_EQ(korval({"settings-checksum", machine + "/registry.reg"}).status, 0);
    capture(machine, "after.y4m", 2);
}

TEST_F(ToolFaultsTest, UnusableMachineDirectoriesGiveMessagesNotCrashes)
{
    // A listing reads a UTF-16 registry file and leaves it byte for byte.
    const std::string unicode = path("unicode");
    const std::u16string wide = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters]\r\n"
                                u"\"A_77\"=dword:00000100\r\n";
    std::filesystem::create_directories(unicode);
    std::ofstream(unicode + "/registry.reg", std::ios::binary)
        .write(reinterpret_cast<const char*>(wide.data()), static_cast<std::streamsize>(wide.size() * 2));
    const auto before = readFile(unicode + "/registry.reg");
    const ProgramRun listing = korval({"properties", "--machine", unicode});
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_NE(listing.out.find("brightness              256"), std::string::npos) << listing.out;
    EXPECT_EQ(readFile(unicode + "/registry.reg"), before);

    // An immutable directory: listings work, changes are refused with exit 3 naming it.
    const std::string locked = path("immutable");
    capture(locked, "x.y4m", 1);
    const int fd = ::open(locked.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = FS_IMMUTABLE_FL;
    const bool immutable = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (!immutable) {
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    // Where neither holds (root on a file system without the flag), there is nothing to test.
    const bool writable = std::ofstream(locked + "/probe").good();
    std::filesystem::remove(locked + "/probe");
    EXPECT_EQ(korval({"properties", "--machine", locked}).status, 0);
    const ProgramRun set = korval({"properties", "--machine", locked, "--set", "hue=5"});
    const ProgramRun written = korval({"capture", "-n", "1", "--machine", locked, "-o", path("y.y4m")});
    flags = 0;
    if (immutable) {
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    if (writable) {
        GTEST_SKIP() << "cannot make a directory read-only here";
    }
    EXPECT_EQ(set.status, 3) << set.err;
    EXPECT_EQ(written.status, 3) << written.err;
    EXPECT_NE(written.err.find(locked), std::string::npos) << written.err;
}

TEST_F(ToolFaultsTest, BusyMachineDirectoryIsRefusedWithNoWait)
{
    const std::string machine = path("busy");
    std::filesystem::create_directories(machine);
    const int fd = ::open((machine + "/.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const ProgramRun run = korval({"properties", "--machine", machine, "--set", "hue=5", "--no-wait"});
    ::close(fd);
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.err.find("in use by another korval"), std::string::npos) << run.err;
}

TEST_F(ToolFaultsTest, FailedCaptureKeepsTheOldOutputAndNamesTheStatus)
{
    const std::string machine = path("nobandwidth");
    writeRegistry(machine, registryText("\"A_113\"=dword:00000000\n"));
    std::ofstream(path("keep.y4m")) << "earlier capture";
    const ProgramRun run = korval({"capture", "-y", "--machine", machine, "-o", path("keep.y4m")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("STATUS_INVALID_PARAMETER (0xC000000D)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\"A_113\""), std::string::npos) << run.err;
    const auto kept = readFile(path("keep.y4m"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "earlier capture");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 4) << "no temporary file left";

    std::filesystem::create_directories(path("folder.y4m"));
    const ProgramRun folder = korval({"capture", "-o", path("folder.y4m")});
    EXPECT_EQ(folder.status, 3);
    EXPECT_NE(folder.err.find("it is a folder"), std::string::npos) << folder.err;
}

// Ctrl-C, SIGTERM, SIGHUP (the terminal or the ssh session gone) and SIGPIPE
// alike finish the capture: the video is put in place with its measured rate.
TEST_F(ToolFaultsTest, StopSignalsEndTheCaptureKeepingWhatWasCaptured)
{
    for (int signal : {SIGINT, SIGHUP, SIGPIPE}) {
        KorvalProgram program(dir_);
        const std::string output = path("long.y4m");
        program.start({"capture", "-y", "-n", "100000", "-o", output});
        const std::string part = output + ".korval-" + std::to_string(program.pid()) + ".part";
        ASSERT_TRUE(KorvalProgram::waitUntil(
            [&] {
                std::error_code missing;
                const auto size = std::filesystem::file_size(part, missing);
                return !missing && size > 3u * 152070u;
            },
            60));
        program.signal(signal);
        const ProgramRun run = program.finish();
        EXPECT_EQ(run.status, 130) << strsignal(signal) << ": " << run.err;
        EXPECT_NE(run.err.find("interrupted by SIG"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\r'), std::string::npos) << "a progress line in a file: " << run.err;
        EXPECT_NE(run.out.find("captured "), std::string::npos) << "the summary: " << run.out;
        EXPECT_FALSE(std::filesystem::exists(part));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::temp_directory_path() /
                                             ("korval-machine-" + std::to_string(program.pid()) + "-0")));
        EXPECT_GT(std::filesystem::file_size(output), 3u * 152064u);
        const auto bytes = readFile(output);
        const std::string header(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\n'));
        EXPECT_EQ(header.find(" F30:1 "), std::string::npos) << "the measured rate is written: " << header;
    }
}

// ffprobe, a real consumer, reads what the header says: size, the measured
// rate and the full colour range.
TEST_F(ToolFaultsTest, FfprobeReadsSizeRateAndColourRange)
{
    ASSERT_EQ(korval({"capture", "-n", "20", "-s", "176x144", "-o", path("probe.y4m")}).status, 0);
    const auto bytes = readFile(path("probe.y4m"));
    const std::string header(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\n'));
    const std::string rate = header.substr(header.find(" F") + 2, header.find(' ', header.find(" F") + 2) -
                                                                      header.find(" F") - 2);
    const std::string command = "ffprobe -v error -show_entries stream=width,height,r_frame_rate,color_range "
                                "-of default=nw=1 '" + path("probe.y4m") + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::string probed;
    for (char buffer[256]; std::fgets(buffer, sizeof(buffer), pipe.get());) {
        probed += buffer;
    }
    EXPECT_NE(probed.find("width=176\nheight=144\n"), std::string::npos) << probed;
    EXPECT_NE(probed.find("color_range=pc\n"), std::string::npos) << probed;
    // ffprobe reduces a fraction with large terms to a near one (190000:40049 reads as 19/4).
    const auto fraction = [](const std::string& text, char separator) {
        const auto at = text.find(separator);
        return std::stod(text.substr(0, at)) / std::stod(text.substr(at + 1));
    };
    const auto probedRate = probed.find("r_frame_rate=");
    ASSERT_NE(probedRate, std::string::npos) << probed;
    const double headerRate = fraction(rate, ':');
    EXPECT_NEAR(fraction(probed.substr(probedRate + 13, probed.find('\n', probedRate) - probedRate - 13), '/'),
                headerRate, headerRate / 100) << probed << header;
    EXPECT_EQ(header.find("F30:1"), std::string::npos) << "the camera does not deliver 30 frames a second";
}

TEST_F(ToolFaultsTest, ValuesAreStoredAsGivenOrRefusedWithTheRange)
{
    const std::string machine = path("values");
    ASSERT_EQ(korval({"properties", "--machine", machine, "--set", "white-balance=5000"}).status, 0);
    const ProgramRun listed = korval({"properties", "--machine", machine});
    EXPECT_NE(listed.out.find("white-balance           5000   manual"), std::string::npos) << listed.out;

    const ProgramRun refused = korval({"properties", "--machine", machine, "--set", "mains-frequency=55"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("from 50 to 60 in steps of 10"), std::string::npos) << refused.err;

    writeRegistry(machine, registryText("\"A_109\"=dword:00000037\n\"A_83\"=\"high\"\n"));
    const ProgramRun flagged = korval({"properties", "--machine", machine});
    EXPECT_NE(flagged.out.find("! mains-frequency"), std::string::npos) << flagged.out;
    EXPECT_NE(flagged.out.find("! saturation"), std::string::npos) << flagged.out;
    EXPECT_NE(flagged.err.find("2 stored value(s)"), std::string::npos) << flagged.err;
}

// An output that exists is refused before anything is written unless -y
// says to replace it, whether it was named or is the default; two options
// naming one file (by its name or through a link) are refused.
TEST_F(ToolFaultsTest, OutputsAreNeverReplacedSilentlyNorWrittenTwice)
{
    ASSERT_EQ(korval({"capture", "-n", "2", "-o", path("keep.y4m")}).status, 0);
    const auto valid = readFile(path("keep.y4m"));
    std::filesystem::create_symlink(path("keep.y4m"), path("alias.raw"));
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"capture", "-n", "3", "--raw", path("keep.y4m"), "-o", path("keep.y4m")}, 2, "are the same file"},
        {{"capture", "-n", "3", "-y", "--raw", path("alias.raw"), "-o", path("keep.y4m")}, 2, "are the same file"},
        {{"capture", "-n", "3", "--snapshot-at", "1", "-y", "-o", path("keep.y4m"), "--usb-trace",
          path("keep-still.png")},
         2, "are the same file"},
        {{"capture", "-n", "3", "-o", path("keep.y4m")}, 3, "exists already: -y replaces it"},
        {{"snapshot", "-o", path("taken.png")}, 3, "korval snapshot: --output"},
    };
    std::ofstream(path("taken.png")) << "an earlier still";
    for (const Case& c : cases) {
        const ProgramRun run = korval(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[1] << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(readFile(path("keep.y4m")) == valid) << "the earlier video was touched";
    }
    // The default name too (run where the default lands), and the pictures of a PNG pattern.
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const ProgramRun first = korval({"capture", "-n", "1"});
    const ProgramRun second = korval({"capture", "-n", "1"});
    const ProgramRun replaced = korval({"capture", "-n", "1", "-y"});
    std::ofstream("shot_0001.png") << "not a picture of ours";
    const ProgramRun pictures = korval({"capture", "-n", "2", "-f", "rgb24", "-o", "shot_%04d.png"});
    std::filesystem::current_path(here);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 3) << second.err;
    EXPECT_NE(second.err.find("capture.y4m' exists already"), std::string::npos) << second.err;
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(pictures.status, 3) << pictures.err;
    EXPECT_NE(pictures.err.find("shot_0001.png"), std::string::npos) << pictures.err;
    EXPECT_FALSE(std::filesystem::exists(path("shot_0000.png"))) << "written before the refusal";
}

// Overlay frames work alike in capture, snapshot and process: a machine
// without frames of its own gets the sample frames; a frame the driver cannot
// load is refused saying where it looked.
TEST_F(ToolFaultsTest, OverlayFramesWorkInEveryCommand)
{
    const std::string plain = capture(path("plain"), "plain.y4m", 1);
    for (const char* frame : {"overlay-frame=1", "overlay-frame=2"}) {
        const std::string machine = path(std::string("m-") + frame);
        const ProgramRun run = korval({"capture", "-n", "1", "--machine", machine, "--set", frame, "-o",
                                       path(std::string(frame) + ".y4m")});
        EXPECT_EQ(run.status, 0) << frame << ": " << run.err;
        EXPECT_TRUE(pictures(path(std::string(frame) + ".y4m")) != plain) << frame << " changed nothing";
        EXPECT_TRUE(std::filesystem::exists(machine + "/C/Frames"));
    }
    const ProgramRun still = korval({"snapshot", "--skip", "1", "--set", "overlay-frame=1", "-o", path("s.png")});
    EXPECT_EQ(still.status, 0) << still.err;
    ASSERT_EQ(korval({"capture", "-n", "2", "--raw", path("take.raw"), "-o", path("take.y4m")}).status, 0);
    const ProgramRun developed = korval({"process", path("take.raw"), "--set", "overlay-frame=2", "-o", path("p.y4m")});
    // 5: a frame of the recording did not decode, which is not the overlay's doing.
    EXPECT_TRUE(developed.status == 0 || developed.status == 5) << developed.err;
    EXPECT_EQ(developed.err.find("overlay"), std::string::npos) << developed.err;

    const std::string empty = path("empty");
    writeRegistry(empty, "Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame]\n"
                         "\"PATH\"=\"C:\\\\Nowhere\"\n\"FN0001\"=\"gone\"\n");
    const ProgramRun missing = korval({"capture", "-n", "1", "--machine", empty, "--set", "overlay-frame=1", "-o",
                                       path("missing.y4m")});
    EXPECT_EQ(missing.status, 1) << missing.err;
    EXPECT_NE(missing.err.find("STATUS_UNSUCCESSFUL"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("p3.bmp"), std::string::npos) << missing.err;
}

// For scripts: --json failures are a JSON object too, and 'info --json'
// carries what 'info' shows.
TEST_F(ToolFaultsTest, JsonForFailuresAndAllOfInfo)
{
    struct Case {
        std::vector<std::string> args;
        const char* object;
    } cases[] = {
        {{"capture", "--json", "--bogus"},
         "{\"command\":\"capture\",\"exit_status\":2,\"error\":\"unknown option '--bogus'\"}\n"},
        {{"properties", "--json", "--set", "hue=9999"}, "{\"command\":\"properties\",\"exit_status\":2,"},
        {{"formats", "--json", "--machine", path("busy"), "--no-wait"}, "\"exit_status\":4,"},
    };
    std::filesystem::create_directories(path("busy"));
    const int fd = ::open(path("busy/.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    for (const Case& c : cases) {
        const ProgramRun run = korval(c.args);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.out.find(c.object), std::string::npos) << run.out;
    }
    ::close(fd);
    const ProgramRun info = korval({"info", "--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* field : {"\"pixel_path\":", "\"processor\":{\"sse2\":", "\"device_extension_size\":",
                              "\"stream_descriptor\":", "\"camera\":{\"alternate_setting\":0",
                              "\"status_channel_running\":true", "\"still_interfaces\":[{", "\"create_file_name\":",
                              "\"power_d3\":", "\"formats\":[{"}) {
        EXPECT_NE(info.out.find(field), std::string::npos) << field << " in " << info.out;
    }
}

} // namespace
