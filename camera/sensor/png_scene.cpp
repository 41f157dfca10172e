// A PNG picture as a scene: read with libpng into 8-bit RGB, scaled to the
// sensor by area averaging over source pixels, converted to linear light.
#include "camera/sensor/scene.h"

#if !defined(KORVAL_NO_LIBPNG)
#include <png.h>
#endif

#include <algorithm>

namespace korval::camera {
namespace {

struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

#if defined(KORVAL_NO_LIBPNG)
bool readPng(const std::string& path, RgbPicture&, std::string& error)
{
    error = "cannot read PNG '" + path + "': this 32-bit build has no PNG reader";
    return false;
}
#else
bool readPng(const std::string& path, RgbPicture& picture, std::string& error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        error = "cannot read PNG '" + path + "': " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    if (image.width == 0 || image.height == 0 || image.width > 16384 || image.height > 16384) {
        png_image_free(&image);
        error = "PNG '" + path + "' has an unsupported size";
        return false;
    }
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
        error = "cannot decode PNG '" + path + "': " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}
#endif

class PictureScene final : public Scene {
public:
    explicit PictureScene(LinearImage image) : image_(std::move(image)) {}
    void render(double, LinearImage& out) const override { out.rgb = image_.rgb; }

private:
    LinearImage image_;
};

LinearImage scaleToSensor(const RgbPicture& picture)
{
    LinearImage out;
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0.0F);
    for (int y = 0; y < out.height; ++y) {
        const int sy0 = y * picture.height / out.height;
        const int sy1 = std::max(sy0 + 1, (y + 1) * picture.height / out.height);
        for (int x = 0; x < out.width; ++x) {
            const int sx0 = x * picture.width / out.width;
            const int sx1 = std::max(sx0 + 1, (x + 1) * picture.width / out.width);
            double sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy) {
                for (int sx = sx0; sx < sx1; ++sx) {
                    const std::uint8_t* s =
                        &picture.rgb[(static_cast<std::size_t>(sy) * picture.width + sx) * 3];
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += linearFromSrgb(s[c]);
                    }
                }
            }
            const double count = static_cast<double>((sy1 - sy0) * (sx1 - sx0));
            float* p = out.pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<float>(sum[c] / count);
            }
        }
    }
    return out;
}

} // namespace

std::unique_ptr<Scene> loadPngScene(const std::string& path, std::string& error)
{
    RgbPicture picture;
    if (!readPng(path, picture, error)) {
        return nullptr;
    }
    return std::make_unique<PictureScene>(scaleToSensor(picture));
}

} // namespace korval::camera
