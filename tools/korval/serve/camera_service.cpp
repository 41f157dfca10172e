#include "tools/korval/serve/camera_service.h"

#include "stream/StreamFormats.h"
#include "tools/korval/cli.h"
#include "tools/korval/hex_text.h"
#include "tools/korval/registry_defaults.h"
#include "tools/korval/serve/property_catalog.h"
#include "tools/korval/sample_overlays.h"
#include "tools/korval/serve/scene_source.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <iostream>
#include <system_error>

namespace korval::tools::serve {
namespace {

constexpr std::size_t kReadsInFlight = 2;
constexpr auto kStillWait = std::chrono::seconds(3);
constexpr auto kStillPoll = std::chrono::milliseconds(20);
constexpr auto kFailedReadPause = std::chrono::milliseconds(50);

std::unique_ptr<camera::Scene> sceneFromOption(const std::string& name)
{
    if (auto scene = camera::makeBuiltInScene(name)) {
        return scene;
    }
    std::string reason;
    auto scene = camera::loadPngScene(name, reason);
    if (!scene) {
        throw SessionError("--scene: cannot use '" + name + "': " + reason);
    }
    return scene;
}

std::optional<host::FormatBytes> chooseFormat(host::StreamClassDevice& device, int width, int height, bool i420)
{
    for (const auto& range : device.streamFormats(0)) {
        const auto& bitmap = range.as<KS_DATARANGE_VIDEO>().VideoInfoHeader.bmiHeader;
        const bool rangeI420 = bitmap.biCompression == CAPTURE_COMPRESSION_I420;
        if (bitmap.biWidth == width && bitmap.biHeight == height && rangeI420 == i420) {
            host::IntersectionResult answer = device.dataIntersection(0, range);
            if (answer.status == STATUS_SUCCESS) {
                return answer.format;
            }
        }
    }
    return std::nullopt;
}

bool runStream(host::StreamClassStream& stream, std::string& error)
{
    auto clock = host::MasterClock::create();
    if (NTSTATUS status = stream.setMasterClock(clock); status != STATUS_SUCCESS) {
        error = "the stream refused the master clock: " + hexText(static_cast<std::uint32_t>(status));
        return false;
    }
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
        if (NTSTATUS status = stream.setState(state); status != STATUS_SUCCESS) {
            error = "the stream refused state " + std::to_string(state) + ": " + hexText(static_cast<std::uint32_t>(status));
            return false;
        }
    }
    clock->restart();
    return true;
}

std::optional<std::filesystem::file_time_type> writeTime(const std::filesystem::path& path)
{
    std::error_code failure;
    auto time = std::filesystem::last_write_time(path, failure);
    return failure ? std::nullopt : std::optional(time);
}

// The user's settings as a fresh machine has them (every stored value after
// the tuning table and its checksum), as the next stream open reads them.
void storeFreshSettings(host::Registry& registry)
{
    for (const auto& [index, value] : registryDefaults()) {
        if (index > kChecksumIndex) {
            registry.setValue(kParametersKey, "A_" + std::to_string(index), host::RegistryValue::dword(value));
        }
    }
}

// The trace writer of --usb-trace, or null without the option.
std::unique_ptr<host::UsbmonPcapWriter> openTrace(const ServeOptions& options)
{
    if (options.usbTrace.empty()) {
        return nullptr;
    }
    auto trace = std::make_unique<host::UsbmonPcapWriter>();
    std::string error;
    if (!trace->open(options.usbTrace, error)) {
        throw SessionError(error, kExitFile);
    }
    return trace;
}

// A busy machine directory is waited for with a message on standard error.
SessionOptions sessionOptions(const ServeOptions& options, host::UsbmonPcapWriter* trace)
{
    SessionOptions session{options.machine, host::ClockMode::Real, {}};
    session.messages = &std::cerr;
    if (trace != nullptr) {
        session.taps.push_back(trace);
    }
    return session;
}

} // namespace

CameraService::CameraService(const ServeOptions& options)
    : trace_(openTrace(options)), session_(sessionOptions(options, trace_.get())),
      shape_{options.width, options.height, options.i420},
      scene_(options.scene)
{
    session_.camera().setSensorOptions(
        camera::sensorOptionsFor(options.sensor, options.lightKelvin, session_.camera().sensorOptions()));
    session_.camera().setScene(sceneFromOption(options.scene));
    installSampleOverlays(session_.platform().registry(), session_.machineDirectory());
    for (const auto& property : cameraProperties()) {
        limits_.push_back(propertyLimits(session_.device(), property));
    }
    std::string error;
    if (!openStream(shape_, error)) {
        throw SessionError(error);
    }
}

CameraService::~CameraService()
{
    shutdown();
}

bool CameraService::openStream(const StreamShape& shape, std::string& error)
{
    auto format = chooseFormat(session_.device(), shape.width, shape.height, shape.i420);
    if (!format) {
        error = "the driver does not offer " + std::to_string(shape.width) + "x" + std::to_string(shape.height) +
                (shape.i420 ? " I420" : " RGB24") + " (see \"A_64\" in the machine's registry)";
        return false;
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    stream_ = session_.device().openStream(0, *format, &status);
    if (!stream_) {
        error = "the capture stream did not open: " + hexText(static_cast<std::uint32_t>(status));
        return false;
    }
    if (!runStream(*stream_, error)) {
        stream_->close();
        stream_.reset();
        return false;
    }
    stopPump_ = false;
    pump_ = std::thread([this, shape] { pumpFrames(shape); });
    return true;
}

void CameraService::closeStream()
{
    stopPump_ = true;
    if (pump_.joinable()) {
        pump_.join();
    }
    if (stream_) {
        stream_->setState(KSSTATE_STOP);
        stream_->close();
        stream_.reset();
    }
    frames_.streamRestarted();
}

// Keeps two reads in flight; ends after the reads in flight have finished, so
// that the stop that follows does not meet a frame in progress.
void CameraService::pumpFrames(StreamShape shape)
{
    const ULONG pixels = static_cast<ULONG>(shape.width * shape.height);
    const ULONG frameBytes = shape.i420 ? pixels * 3 / 2 : pixels * 3;
    std::deque<std::shared_ptr<host::StreamRead>> reads;
    while (!stopPump_) {
        while (reads.size() < kReadsInFlight) {
            reads.push_back(stream_->submitRead(frameBytes));
        }
        auto read = reads.front();
        reads.pop_front();
        read->wait();
        if (read->status() != STATUS_SUCCESS) {
            std::this_thread::sleep_for(kFailedReadPause); // a failing stream must not spin
            continue;
        }
        if (read->dataUsed().empty()) {
            frames_.countEmptyRead();
            continue;
        }
        const KS_FRAME_INFO* info = read->frameInfo();
        frames_.publish(read->dataUsed(), shape.width, shape.height, shape.i420, info ? info->DropCount : 0);
    }
    for (const auto& read : reads) {
        read->wait();
    }
}

void CameraService::shutdown()
{
    std::lock_guard lock(control_);
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    frames_.close();
    closeStream();
    changed(); // event streams wake and see the end
}

void CameraService::changed()
{
    {
        std::lock_guard lock(versionMutex_);
        ++version_;
    }
    versionChanged_.notify_all();
}

std::uint64_t CameraService::version() const
{
    std::lock_guard lock(versionMutex_);
    return version_;
}

std::uint64_t CameraService::waitForChange(std::uint64_t seen, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(versionMutex_);
    versionChanged_.wait_for(lock, timeout, [&] { return version_ != seen; });
    return version_;
}

nlohmann::json CameraService::counters() const
{
    const FrameCounters counters = frames_.counters();
    std::lock_guard lock(still_);
    return {{"frames", counters.frames}, {"rate", counters.rate}, {"dropped", counters.dropped},
            {"emptyReads", counters.emptyReads}, {"stills", stills_}};
}

nlohmann::json CameraService::summaryLocked() const
{
    char size[16];
    std::snprintf(size, sizeof(size), "%dx%d", shape_.width, shape_.height);
    return {{"stream", {{"size", size}, {"format", shape_.i420 ? "i420" : "rgb24"}, {"open", stream_ != nullptr}}},
            {"sizes", {"640x480", "352x288", "320x240", "176x144", "160x120"}},
            {"formats", {"i420", "rgb24"}},
            {"scene", scene_},
            {"scenes", {"bars", "chart", "moving"}},
            {"counters", counters()}};
}

nlohmann::json CameraService::summary()
{
    std::lock_guard lock(control_);
    return summaryLocked();
}

nlohmann::json CameraService::state()
{
    std::lock_guard lock(control_);
    nlohmann::json properties = nlohmann::json::array();
    const auto all = cameraProperties();
    for (std::size_t i = 0; i < all.size(); ++i) {
        properties.push_back(describeProperty(session_.device(), session_.platform().registry(), all[i], limits_[i]));
    }
    nlohmann::json state = summaryLocked();
    state["properties"] = std::move(properties);
    return state;
}

std::optional<ServiceError> CameraService::setProperty(const std::string& name, const std::string& value,
                                                       const std::string& mode, nlohmann::json& changed)
{
    const CameraProperty* property = findCameraProperty(name);
    if (property == nullptr) {
        return ServiceError{"unknown property '" + name + "'"};
    }
    const PropertyLimits& limits = limits_[static_cast<std::size_t>(property - cameraProperties().data())];
    std::lock_guard lock(control_);
    if (auto error = applyProperty(session_.device(), *property, limits, value, mode)) {
        return ServiceError{*error};
    }
    changed = describeProperty(session_.device(), session_.platform().registry(), *property, limits);
    this->changed();
    return std::nullopt;
}

// A fresh start's picture: the stream reopens on a fresh machine's settings,
// so every table the driver derives from them is built anew, as at a first open.
std::optional<ServiceError> CameraService::restoreDefaults()
{
    std::lock_guard lock(control_);
    if (shutDown_) {
        return ServiceError{"the server is stopping", false};
    }
    closeStream();
    storeFreshSettings(session_.platform().registry());
    std::string error;
    const bool opened = openStream(shape_, error);
    changed();
    if (!opened) {
        return ServiceError{error, false};
    }
    return std::nullopt;
}

std::optional<ServiceError> CameraService::restartStream(int width, int height, bool i420)
{
    std::lock_guard lock(control_);
    if (shutDown_) {
        return ServiceError{"the server is stopping", false};
    }
    const StreamShape previous = shape_;
    const auto settings = currentSettings();
    closeStream();
    std::string error;
    const bool opened = openStream({width, height, i420}, error);
    if (opened) {
        shape_ = {width, height, i420};
    } else {
        std::string ignored;
        openStream(previous, ignored);
    }
    auto carried = carrySettings(settings);
    changed();
    if (!opened) {
        return ServiceError{error, false};
    }
    return carried;
}

std::vector<CameraService::Setting> CameraService::currentSettings()
{
    std::vector<Setting> settings;
    const auto all = cameraProperties();
    for (std::size_t i = 0; i < all.size(); ++i) {
        NTSTATUS status = STATUS_SUCCESS;
        if (!limits_[i].canSet) {
            continue;
        }
        if (auto value = getCameraProperty(session_.device(), all[i], status)) {
            settings.push_back({&all[i], *value});
        }
    }
    return settings;
}

// A new stream starts from the stored settings: what the user set on the old
// one is set again, in the driver's own order.
std::optional<ServiceError> CameraService::carrySettings(const std::vector<Setting>& settings)
{
    std::string failed;
    for (const auto& [property, value] : settings) {
        NTSTATUS status = STATUS_SUCCESS;
        const auto now = getCameraProperty(session_.device(), *property, status);
        if (now && now->value == value.value && now->flags == value.flags) {
            continue;
        }
        status = setCameraProperty(session_.device(), *property, value);
        if (status != STATUS_SUCCESS) {
            failed += std::string(failed.empty() ? "" : ", ") + property->name + " (" + hexText(static_cast<std::uint32_t>(status)) + ")";
        }
    }
    if (failed.empty()) {
        return std::nullopt;
    }
    return ServiceError{"the stream restarted, but the driver refused to keep " + failed, false};
}

std::optional<ServiceError> CameraService::selectScene(const std::string& name)
{
    auto scene = camera::makeBuiltInScene(name);
    if (!scene) {
        return ServiceError{"scene '" + name + "' is neither bars, chart nor moving"};
    }
    std::lock_guard lock(control_);
    session_.camera().setScene(std::move(scene));
    scene_ = name;
    changed();
    return std::nullopt;
}

std::optional<ServiceError> CameraService::uploadScene(std::string_view pngBytes)
{
    std::string error;
    auto scene = sceneFromPngBytes(pngBytes, error);
    if (!scene) {
        return ServiceError{error};
    }
    std::lock_guard lock(control_);
    session_.camera().setScene(std::move(scene));
    scene_ = "upload";
    changed();
    return std::nullopt;
}

std::filesystem::path CameraService::stillPath()
{
    return session_.platform().hostPath("C:\\StiImg.dat");
}

std::optional<ServiceError> CameraService::takeSnapshot()
{
    std::lock_guard press(snapshot_);
    const auto path = stillPath();
    const auto before = writeTime(path);
    session_.camera().pressSnapshotButton();
    std::string error = "the driver wrote no still (is the stream running?)";
    const auto deadline = std::chrono::steady_clock::now() + kStillWait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kStillPoll);
        const auto now = writeTime(path);
        if (!now || now == before) {
            continue;
        }
        // The driver may still be writing: a short file is read again.
        if (auto picture = readStillFile(path, error)) {
            std::lock_guard lock(still_);
            stillPicture_ = std::move(picture);
            ++stills_;
            changed();
            return std::nullopt;
        }
    }
    return ServiceError{error, false};
}

std::optional<std::string> CameraService::stillPng() const
{
    std::lock_guard lock(still_);
    if (!stillPicture_) {
        return std::nullopt;
    }
    return pngFromRgb(stillPicture_->width, stillPicture_->height, stillPicture_->rgb);
}

} // namespace korval::tools::serve
