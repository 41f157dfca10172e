// Two overlay frames for a machine that has none, so that overlay-frame=1|2
// shows something in every command (capture, snapshot, process and the
// page's overlay picker alike): a border and a vignette, as the 352 x 288 bitmap
// pairs the driver loads (a 24-bit picture and an 8-bit mask of blend weights),
// in C:\Frames, named in the registry's Parameters\Frame key.
#pragma once

#include "host/kernel/registry.h"

#include <filesystem>

namespace korval::tools {

// Does nothing when the Frame key already names a folder ("PATH"); returns
// false when the files cannot be written (the machine then has no frames).
bool installSampleOverlays(host::Registry& registry, const std::filesystem::path& machineDirectory);

} // namespace korval::tools
