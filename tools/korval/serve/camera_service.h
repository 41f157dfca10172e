// The emulated machine behind the page: the virtual camera, the driver and its
// open capture stream, with a thread that keeps two reads in flight and hands
// every delivered frame to the frame hub. Every call that talks to the driver
// is serialized here, so a property change never meets a stream restart.
#pragma once

#include "tools/korval/machine_session.h"
#include "tools/korval/serve/frame_hub.h"
#include "tools/korval/serve/image_encoding.h"
#include "tools/korval/serve/property_catalog.h"
#include "tools/korval/serve/serve_options.h"

#include <nlohmann/json.hpp>

#include <atomic>
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
    std::optional<ServiceError> restoreDefaults();
    std::optional<ServiceError> restartStream(int width, int height, bool i420);
    std::optional<ServiceError> selectScene(const std::string& name);
    std::optional<ServiceError> uploadScene(std::string_view pngBytes);
    // Presses the camera's button and waits for the still the driver writes.
    std::optional<ServiceError> takeSnapshot();
    // The newest still as PNG; nothing before the first snapshot.
    std::optional<std::string> stillPng() const;

    // Stops the stream and the frame thread; the hub closes. Idempotent.
    void shutdown();

private:
    struct StreamShape {
        int width = 352;
        int height = 288;
        bool i420 = true;
    };

    bool openStream(const StreamShape& shape, std::string& error);
    void closeStream();
    void pumpFrames(StreamShape shape);
    std::filesystem::path stillPath();

    nlohmann::json summaryLocked() const;

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
};

} // namespace korval::tools::serve
