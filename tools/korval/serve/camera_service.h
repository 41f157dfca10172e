// The emulated machine behind the page: the virtual camera, the driver and its
// open capture stream, with a thread that keeps two reads in flight and hands
// every delivered frame to the frame hub. Every call that talks to the driver
// is serialized here, so a property change never meets a stream restart.
#pragma once

#include "host/usb/usbmon_pcap.h"
#include "tools/korval/machine_session.h"
#include "tools/korval/serve/frame_hub.h"
#include "tools/korval/serve/image_encoding.h"
#include "tools/korval/serve/property_catalog.h"
#include "tools/korval/serve/serve_options.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace korval::tools::serve {

// A refusal for the user (HTTP 400) or a failure of the machine (503).
struct ServiceError {
    std::string reason;
    bool badRequest = true;
};

class CameraService {
public:
    // Starts the machine and the stream; throws SessionError with a message for the user.
    explicit CameraService(const ServeOptions& options);
    ~CameraService();
    CameraService(const CameraService&) = delete;
    CameraService& operator=(const CameraService&) = delete;

    FrameHub& frames() { return frames_; }

    // Everything the page shows, with every property (slow: one request each).
    nlohmann::json state();
    // Stream, scene and counters without the properties.
    nlohmann::json summary();
    nlohmann::json counters() const;
    // On success `changed` is the property as it is now.
    std::optional<ServiceError> setProperty(const std::string& name, const std::string& value,
                                            const std::string& mode, nlohmann::json& changed);
    // Reopens the stream on a fresh machine's settings: a fresh start's picture.
    std::optional<ServiceError> restoreDefaults();
    // The user's settings carry over to the new stream.
    std::optional<ServiceError> restartStream(int width, int height, bool i420);
    std::optional<ServiceError> selectScene(const std::string& name);
    std::optional<ServiceError> uploadScene(std::string_view pngBytes);
    // Presses the camera's button and waits for the still the driver writes.
    std::optional<ServiceError> takeSnapshot();
    // The newest still as PNG; nothing before the first snapshot.
    std::optional<std::string> stillPng() const;

    // Counts every change a page shows (properties, stream, scene, stills).
    std::uint64_t version() const;
    // The version once it differs from `seen`, or the current one after `timeout`.
    std::uint64_t waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout);

    // Stops the stream and the frame thread; the hub closes. Idempotent.
    void shutdown();

private:
    struct StreamShape {
        int width = 352;
        int height = 288;
        bool i420 = true;
    };

    struct Setting {
        const CameraProperty* property;
        PropertyValue value;
    };

    std::vector<Setting> currentSettings();
    std::optional<ServiceError> carrySettings(const std::vector<Setting>& settings);
    bool openStream(const StreamShape& shape, std::string& error);
    void closeStream();
    void pumpFrames(StreamShape shape);
    std::filesystem::path stillPath();

    nlohmann::json summaryLocked() const;
    void changed();

    // --usb-trace: made before the session and closed after it, so that the
    // trace holds everything from the camera's plug-in to its removal.
    std::unique_ptr<host::UsbmonPcapWriter> trace_;
    MachineSession session_;
    std::vector<PropertyLimits> limits_; // in the order of cameraProperties()
    FrameHub frames_;
    std::mutex control_; // driver calls and stream changes, one at a time
    std::unique_ptr<host::StreamClassStream> stream_;
    std::thread pump_;
    std::atomic<bool> stopPump_{false};
    StreamShape shape_;
    std::string scene_;
    bool shutDown_ = false;

    std::mutex snapshot_; // one press at a time
    mutable std::mutex still_;
    std::optional<RgbPicture> stillPicture_;
    std::uint64_t stills_ = 0;

    mutable std::mutex versionMutex_;
    std::condition_variable versionChanged_;
    std::uint64_t version_ = 1;
};

} // namespace korval::tools::serve
