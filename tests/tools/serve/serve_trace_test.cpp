// serve --usb-trace: the page's session is traced from the camera's plug-in
// to its removal, in a file the recording reader (and Wireshark) reads.
#include "host/usb/usb_recording.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/serve/camera_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace korval::serve_test {
namespace {

TEST(ServeTrace, TheSessionIsTracedFromPlugInToRemovalAndAnUnwritableTraceIsRefused)
{
    const auto dir = std::filesystem::temp_directory_path() / ("korval-serve-trace-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    tools::serve::ServeOptions options;
    options.usbTrace = (dir / "serve.pcap").string();
    {
        tools::serve::CameraService service(options);
        service.shutdown();
    }
    std::string error;
    const auto recording = host::readUsbRecordingFile(options.usbTrace, error);
    ASSERT_TRUE(recording) << error;
    const auto& transfers = recording->transfers;
    EXPECT_TRUE(std::any_of(transfers.begin(), transfers.end(), [](const host::RecordedTransfer& transfer) {
        return transfer.setup && (transfer.setup->requestType & 0x60) == 0x40;
    })) << "the register writes of the stream's open";

    options.usbTrace = (dir / "missing" / "serve.pcap").string();
    try {
        tools::serve::CameraService refused(options);
        ADD_FAILURE() << "a trace that cannot be created";
    } catch (const tools::SessionError& failure) {
        EXPECT_NE(std::string(failure.what()).find("missing/serve.pcap"), std::string::npos) << failure.what();
        EXPECT_EQ(failure.exitCode(), 3);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace korval::serve_test
