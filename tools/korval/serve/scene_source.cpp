#include "tools/korval/serve/scene_source.h"

#include <png.h>
#include <unistd.h>

#include <filesystem>

namespace korval::tools::serve {
namespace {

bool checkPngHeader(std::string_view bytes, std::string& error)
{
    if (bytes.size() > kMaxUploadBytes) {
        error = "the picture is larger than " + std::to_string(kMaxUploadBytes >> 20) + " MiB";
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0 ||
        png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
        error = "the upload is not a PNG picture";
        return false;
    }
    const bool fits = image.width <= kMaxUploadSide && image.height <= kMaxUploadSide;
    png_image_free(&image);
    if (!fits) {
        error = "the picture is larger than " + std::to_string(kMaxUploadSide) + " pixels on a side";
        return false;
    }
    return true;
}

// A file the server names itself, removed when it goes out of scope.
class ScratchFile {
public:
    explicit ScratchFile(std::string_view bytes)
    {
        std::string name = (std::filesystem::temp_directory_path() / "korval-scene-XXXXXX").string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            return;
        }
        path_ = name;
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        ::close(fd);
        complete_ = written == bytes.size();
    }
    ~ScratchFile()
    {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool ok() const { return complete_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool complete_ = false;
};

} // namespace

std::unique_ptr<camera::Scene> sceneFromPngBytes(std::string_view bytes, std::string& error)
{
    if (!checkPngHeader(bytes, error)) {
        return nullptr;
    }
    ScratchFile file(bytes);
    if (!file.ok()) {
        error = "cannot store the upload for decoding";
        return nullptr;
    }
    std::string reason;
    auto scene = camera::loadPngScene(file.path(), reason);
    if (!scene) {
        // The reason names the scratch file; the user knows it as the upload.
        for (std::size_t at; (at = reason.find(file.path())) != std::string::npos;) {
            reason.replace(at, file.path().size(), "upload");
        }
        error = reason;
    }
    return scene;
}

} // namespace korval::tools::serve
