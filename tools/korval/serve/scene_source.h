// The scenes the page offers beyond the camera's built-in patterns: a PNG
// uploaded by the user, decoded exactly as '--scene FILE.png' decodes a file.
#pragma once

#include "camera/sensor/scene.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace korval::tools::serve {

constexpr std::size_t kMaxUploadBytes = 8u << 20;
// Larger pictures are refused before decoding: a small file may inflate hugely.
constexpr unsigned kMaxUploadSide = 4096;

// A scene from PNG file contents; null with `error` for anything else.
std::unique_ptr<camera::Scene> sceneFromPngBytes(std::string_view bytes, std::string& error);

} // namespace korval::tools::serve
