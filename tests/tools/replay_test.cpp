// korval replay: a capture's USB trace played back through the driver gives
// the capture's frames again, byte for byte (two sizes and formats, and with
// properties changed while the stream runs); damaged traces, a recording of
// another device and requests the recording cannot answer are refused or
// named, never a crash.
#include "camera/device/descriptors.h"
#include "stream/StreamFormats.h"
#include "host/usb/replay_device.h"
#include "host/usb/usb_recording.h"
#include "host/usb/usbmon_pcap.h"
#include "tool_test_support.h"
#include "tools/korval/camera_properties.h"
#include "tools/korval/frame_pacer.h"
#include "tools/korval/machine_session.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace korval::tools_test {
namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

// The frames of a Y4M file of `frameBytes` bytes each.
Frames y4mFrames(const std::vector<std::uint8_t>& file, std::size_t frameBytes)
{
    static const std::string kFrame = "FRAME\n";
    Frames frames;
    auto at = std::find(file.begin(), file.end(), '\n');
    while (at != file.end() && static_cast<std::size_t>(file.end() - at) > kFrame.size() + frameBytes) {
        at += 1 + static_cast<std::ptrdiff_t>(kFrame.size());
        frames.emplace_back(at, at + static_cast<std::ptrdiff_t>(frameBytes));
        at += static_cast<std::ptrdiff_t>(frameBytes) - 1;
    }
    return frames;
}

class ReplayTest : public ToolTest {};

TEST_F(ReplayTest, TheTraceOfACaptureReplaysToTheSameFramesAtTwoSizes)
{
    struct Case {
        const char* size;
        const char* format;
        std::size_t frameBytes;
        bool all; // without -n: every frame of the recording
    } cases[] = {{"352x288", "i420", 352 * 288 * 3 / 2, true}, {"176x144", "rgb24", 176 * 144 * 3, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const bool y4m = std::string(c.format) == "i420";
        const std::string original = path(y4m ? "a.y4m" : "a_%04d.png"), again = path(y4m ? "b.y4m" : "b_%04d.png");
        ASSERT_EQ(run({"capture", "-q", "-n", "6", "-s", c.size, "-f", c.format, "--usb-trace", path("t.pcap"), "-o",
                       original}),
                  0)
            << err_.str();
        std::vector<std::string> replay = {"replay", path("t.pcap"), "-s", c.size, "-f", c.format, "-o", again};
        if (!c.all) {
            replay.insert(replay.end(), {"-n", "6"});
        }
        ASSERT_EQ(run(replay), 0) << err_.str();
        EXPECT_NE(out_.str().find("replayed"), std::string::npos) << out_.str();
        if (y4m) {
            const Frames before = y4mFrames(readFile(original), c.frameBytes);
            const Frames after = y4mFrames(readFile(again), c.frameBytes);
            ASSERT_EQ(before.size(), 6u);
            ASSERT_GE(after.size(), before.size()) << "every frame of the recording";
            EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
        } else {
            for (int i = 0; i <= 6; ++i) {
                char name[16];
                std::snprintf(name, sizeof(name), "_%04d.png", i);
                EXPECT_EQ(std::filesystem::exists(path(std::string("b") + name)), i < 6);
                if (i < 6) {
                    EXPECT_EQ(readFile(path(std::string("a") + name)), readFile(path(std::string("b") + name)));
                }
            }
        }
        std::filesystem::remove(path("t.pcap"));
    }
}

// Captures `count` frames in lockstep from the virtual camera (or `device`),
// changing two properties after frame `changeAt`, as an application would.
// One read at a time: the change is made while the clock still stands at that
// frame and no read waits in the driver, so it meets the same next frame in
// both runs.
Frames captureChanging(const std::filesystem::path& machine, std::function<std::unique_ptr<host::UsbDevice>()> device,
                       host::BusTap* tap, int count, int changeAt)
{
    tools::FramePacer pacer;
    tools::SessionOptions options{machine, host::ClockMode::Scaled, {}};
    options.device = std::move(device);
    options.pacer = &pacer;
    if (tap != nullptr) {
        options.taps.push_back(tap);
    }
    tools::MachineSession session(options);
    std::optional<host::FormatBytes> format;
    for (const auto& range : session.device().streamFormats(0)) {
        const auto& bitmap = range.as<KS_DATARANGE_VIDEO>().VideoInfoHeader.bmiHeader;
        if (!format && bitmap.biWidth == 352 && bitmap.biCompression == CAPTURE_COMPRESSION_I420) {
            format = session.device().dataIntersection(0, range).format;
        }
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto stream = session.device().openStream(0, *format, &status);
    EXPECT_NE(stream, nullptr) << status;
    if (!stream) {
        return {};
    }
    auto clock = host::MasterClock::create();
    stream->setMasterClock(clock);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        EXPECT_EQ(stream->setState(state), STATUS_SUCCESS);
    }
    Frames frames;
    for (int empty = 0; static_cast<int>(frames.size()) < count && empty < 40;) {
        auto read = stream->submitRead(352 * 288 * 3 / 2);
        read->wait();
        if (read->dataUsed().empty()) {
            pacer.readCompleted();
            ++empty;
            continue;
        }
        frames.emplace_back(read->dataUsed().begin(), read->dataUsed().end());
        if (static_cast<int>(frames.size()) == changeAt) {
            for (auto [name, value] : {std::pair{"white-balance", 5000L}, std::pair{"saturation", 0L}}) {
                const tools::CameraProperty* property = tools::findCameraProperty(name);
                const tools::PropertyValue manual{static_cast<LONG>(value), 2};
                EXPECT_EQ(tools::setCameraProperty(session.device(), *property, manual), STATUS_SUCCESS) << name;
            }
        }
        pacer.readCompleted();
    }
    pacer.setLockstep(false);
    stream->setState(KSSTATE_STOP);
    stream->close();
    return frames;
}

TEST_F(ReplayTest, PropertiesChangedWhileStreamingGiveTheSameFramesFromTheRecording)
{
    host::UsbmonPcapWriter trace;
    std::string error;
    ASSERT_TRUE(trace.open(path("t.pcap"), error)) << error;
    const Frames original = captureChanging(dir_ / "first", {}, &trace, 8, 3);
    ASSERT_TRUE(trace.close(error)) << error;
    ASSERT_EQ(original.size(), 8u);
    EXPECT_NE(original[1], original[5]) << "the change shows in the picture";

    const auto recording = host::readUsbRecordingFile(path("t.pcap"), error);
    ASSERT_TRUE(recording) << error;
    auto journal = std::make_shared<host::ReplayJournal>();
    const Frames replayed = captureChanging(
        dir_ / "second",
        [&] { return std::make_unique<host::ReplayDevice>(host::scriptOf(*recording, 1, 1), journal); }, nullptr, 8,
        3);
    EXPECT_EQ(journal->unansweredCount, 0u) << (journal->unanswered.empty() ? "" : journal->unanswered[0]);
    ASSERT_EQ(replayed.size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
        EXPECT_EQ(original[i], replayed[i]) << "frame " << i;
    }
}

// The usbmon records of a pcap file, each patched in place by `edit`.
void editRecords(std::vector<std::uint8_t>& file, const std::function<void(std::uint8_t* record)>& edit)
{
    for (std::size_t at = 24; at + 16 <= file.size();) {
        std::uint32_t length;
        std::memcpy(&length, &file[at + 8], 4);
        edit(&file[at + 16]);
        at += 16 + length;
    }
}

void writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

TEST_F(ReplayTest, DamagedTracesOtherDevicesAndUnansweredRequestsAreRefusedOrNamed)
{
    ASSERT_EQ(run({"capture", "-q", "-n", "2", "--usb-trace", path("t.pcap"), "-o", path("a.y4m")}), 0) << err_.str();
    const auto good = readFile(path("t.pcap"));

    auto corrupt = good;
    corrupt[0] ^= 0xFF;
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    auto other = good;
    const auto ours = camera::buildDeviceDescriptor();
    for (auto it = other.begin(); (it = std::search(it, other.end(), ours.begin(), ours.end())) != other.end();) {
        it[8] = 0x6D;
        it[9] = 0x04; // vendor 0x046d
        it += static_cast<std::ptrdiff_t>(ours.size());
    }
    auto unanswerable = good;
    editRecords(unanswerable, [](std::uint8_t* record) {
        if (record[8] == 'S' && record[9] == 2 && record[14] == 0 && record[40] == 0x41 && record[41] == 0x01) {
            record[41] = 0x0F; // the block writes are not in the recording any more
        }
    });
    auto noVideo = good; // its isochronous transfers become bulk ones
    editRecords(noVideo, [](std::uint8_t* record) { record[9] = record[9] == 0 ? 3 : record[9]; });
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>& file;
        int status;
        const char* message;
    } cases[] = {
        {"corrupt.pcap", corrupt, 3, "not a pcap or pcapng"},
        {"cut.pcap", cut, 3, "cut short"},
        {"other.pcap", other, 3, "is a recording of USB device 046d:"},
        {"novideo.pcap", noVideo, 3, "holds no isochronous video of the camera"},
        {"unanswerable.pcap", unanswerable, 1, "cannot answer the request bmRequestType 0x41 bRequest 0x01"},
    };
    for (const Case& c : cases) {
        writeFile(path(c.name), c.file);
        EXPECT_EQ(run({"replay", path(c.name), "-o", path("b.y4m")}), c.status) << c.name << ": " << err_.str();
        EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.name << ": " << err_.str();
        EXPECT_NE(err_.str().find(c.name), std::string::npos) << "the file is named: " << err_.str();
    }
    EXPECT_NE(err_.str().find("at bus frame"), std::string::npos) << err_.str();
    // An unnamed device 2 streams twice the camera's video: the camera, named by its ids, is played.
    auto again = good, twoDevices = good;
    editRecords(again, [](std::uint8_t* record) { record[11] = record[9] == 0 ? 2 : record[11]; });
    twoDevices.insert(twoDevices.end(), again.begin() + 24, again.end());
    twoDevices.insert(twoDevices.end(), again.begin() + 24, again.end());
    writeFile(path("two.pcap"), twoDevices);
    EXPECT_EQ(run({"replay", path("two.pcap"), "-n", "2", "-o", path("c.y4m")}), 0) << err_.str();
}

} // namespace
} // namespace korval::tools_test
