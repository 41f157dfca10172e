// What one emulated machine keeps besides its registry.
#pragma once

#include "host/kernel/dpc_processor.h"
#include "host/kernel/handle_table.h"
#include "host/kernel/platform.h"
#include "host/kernel/system_threads.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korval::host {

struct Platform::State {
    HandleTable handles;
    DpcProcessor dpcs;
    SystemThreads threads;

    mutable std::mutex mutex; // guards everything below
    std::uint8_t wdmMajor = 1;
    std::uint8_t wdmMinor = 0x20;
    std::map<const void*, std::string> deviceInstances;
    std::map<const void*, unsigned> deviceIndexes;
    std::vector<DeviceInterface> interfaces;
    std::map<std::string, std::pair<std::int32_t, int>> failures; // function -> status, calls left
};

// The failure a test armed for the next call of `function`, if any.
std::optional<NTSTATUS> takeInjectedFailure(const char* function);

PKTHREAD threadObjectOfHandle(HANDLE handle);
PKTHREAD currentThreadObject();
[[noreturn]] void terminateCurrentThread(NTSTATUS status);

} // namespace korval::host
