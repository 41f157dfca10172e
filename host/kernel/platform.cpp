#include "host/kernel/platform.h"

#include "host/kernel/bug_check.h"
#include "host/kernel/kernel_internal.h"
#include "host/kernel/platform_state.h"
#include "host/kernel/sandbox.h"

#include <atomic>

namespace korval::host {
namespace {

std::atomic<Platform*> currentPlatform{nullptr};
std::mutex fallbackMutex;

} // namespace

Platform::Platform(PlatformOptions options) : options_(std::move(options))
{
    systemClock().reset(options_.clockMode, options_.clockScale);
    if (!options_.machineDirectory.empty()) {
        std::filesystem::create_directories(options_.machineDirectory / "C");
        registry_.attachFile(options_.machineDirectory / kRegistryFileName);
    }
    state_ = std::make_unique<State>();
    previous_ = currentPlatform.exchange(this);
}

Platform::~Platform()
{
    state_->threads.waitForAll();
    state_->dpcs.flush();
    currentPlatform.store(previous_);
}

Platform& Platform::current()
{
    if (Platform* platform = currentPlatform.load()) {
        return *platform;
    }
    std::lock_guard lock(fallbackMutex);
    if (currentPlatform.load() == nullptr) {
        new Platform; // the machine of code that made none; it lives as long as the process
    }
    return *currentPlatform.load();
}

std::filesystem::path Platform::hostPath(std::string_view windowsPath) const
{
    const auto parsed = parseWindowsPath(windowsPath);
    if (!parsed.ok() || options_.machineDirectory.empty()) {
        return {};
    }
    std::filesystem::path path = options_.machineDirectory / std::string(1, parsed.drive);
    for (const auto& component : parsed.components) {
        path /= component;
    }
    return path;
}

void Platform::setWdmVersion(std::uint8_t major, std::uint8_t minor)
{
    std::lock_guard lock(state_->mutex);
    state_->wdmMajor = major;
    state_->wdmMinor = minor;
}

void Platform::failNextCalls(std::string_view function, std::int32_t status, int count)
{
    std::lock_guard lock(state_->mutex);
    state_->failures[std::string(function)] = {status, count};
}

std::size_t Platform::openHandleCount() const
{
    return state_->handles.size();
}

void Platform::checkNoHandleLeaks() const
{
    if (state_->handles.size() != 0) {
        bugCheck("handles still open:" + state_->handles.describeAll());
    }
}

std::size_t Platform::runningSystemThreads() const
{
    return state_->threads.running();
}

std::optional<NTSTATUS> takeInjectedFailure(const char* function)
{
    auto& state = Platform::current().state();
    std::lock_guard lock(state.mutex);
    const auto found = state.failures.find(function);
    if (found == state.failures.end() || found->second.second <= 0) {
        return std::nullopt;
    }
    const NTSTATUS status = found->second.first;
    if (--found->second.second == 0) {
        state.failures.erase(found);
    }
    return status;
}

} // namespace korval::host
