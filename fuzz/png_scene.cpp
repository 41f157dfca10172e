// Any file given to the camera as a PNG scene: it loads, or is refused with
// a message; a scene that loads renders a whole sensor picture.
#include "camera/sensor/scene.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/korval-fuzz-scene-" + std::to_string(::getpid()) + ".png";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::string error;
    auto scene = korval::camera::loadPngScene(path, error);
    if (scene == nullptr) {
        if (error.empty()) {
            std::abort(); // refused without saying why
        }
        return 0;
    }
    korval::camera::LinearImage image;
    image.rgb.assign(static_cast<std::size_t>(image.width) * image.height * 3, -1.0f);
    scene->render(0.0, image);
    for (float value : image.rgb) {
        if (!(value >= 0.0f)) {
            std::abort(); // a pixel left unrendered, or not a number
        }
    }
    return 0;
}
