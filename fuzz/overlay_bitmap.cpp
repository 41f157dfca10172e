// Any pair of overlay bitmap files handed to LoadOverlayFrame: a frame is
// loaded exactly when both files are usable, and then its pixels are the
// files' bytes from their offsets; a refused frame leaves the one before it
// untouched. Either way the blend that follows stays inside its buffers.
//
// Input: 4 bytes picture-file length, 4 bytes mask-file length (both taken
// modulo a little over their buffers, so every size boundary is near), one
// flag byte (bit 0: ring-0 file services, bit 1: an I420 stream, bit 2: no
// mask file), then the start of the picture file and the start of the mask
// file, half the remaining bytes each; the files are padded to their lengths.
#include "runtime/FloatingPointState.h"
#include "driver/Driver.h"
#include "effects/VideoEffects.h"
#include "stream/OverlayFrames.h"

#include "host/kernel/platform.h"
#include "host/kernel/registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace korval::host;

constexpr std::uint32_t kPictureFileCapacity = 336896;
constexpr std::uint32_t kMaskFileCapacity = 134144;

std::uint32_t le32(const std::uint8_t* bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// One device with an open stream of the given format.
struct Stream {
    DeviceContext device{};
    PUCHAR work = nullptr;

    explicit Stream(bool i420)
    {
        InitializeDeviceState(&device);
        device.Stream = new StreamContext;
        StreamContext* stream = device.Stream;
        stream->IsI420 = i420 ? 1 : 0;
        stream->Effects = new VideoEffects;
        const ULONG format = i420 ? VE_FORMAT_I420 : VE_FORMAT_BGR24;
        VE_IMAGE_DESCRIPTION output = {24, 352, 288, 24, format, i420 ? 152064u : 304128u};
        VE_IMAGE_DESCRIPTION overlay = {24, 352, 288, 24, format, 304128};
        VE_IMAGE_DESCRIPTION mask = {24, 352, 288, 8, VE_FORMAT_BGR24, 101376};
        ULONG bytes = 0;
        CFloatingPointState floatingPoint; // as the pipeline's set-up
        stream->Effects->Setup(&output, &overlay, &mask, nullptr, &bytes);
        work = static_cast<PUCHAR>(KorvalAllocate(bytes));
        stream->Effects->Setup(&output, &overlay, &mask, work, &bytes);
        if (!AllocateOverlayBuffers(stream)) {
            std::abort();
        }
        device.CurOverlayFrame = 1;
    }

    Bytes buffer(OVERLAY_BUFFER which, std::size_t count) const
    {
        const PUCHAR data = device.Stream->OverlayBuffers[which];
        return Bytes(data, data + count);
    }
};

struct Machine {
    std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("korval-fuzz-overlay-" + std::to_string(::getpid()));
    std::unique_ptr<Platform> platform;
    std::unique_ptr<Stream> bgr;
    std::unique_ptr<Stream> i420;

    Machine()
    {
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory / "C" / "frames");
        platform = std::make_unique<Platform>(PlatformOptions{directory});
        const char* key = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame";
        platform->registry().setValue(key, "PATH", RegistryValue::string("C:\\frames"));
        platform->registry().setValue(key, "FN0001", RegistryValue::string("fuzz"));
        bgr = std::make_unique<Stream>(false);
        i420 = std::make_unique<Stream>(true);
    }

    void writeFile(const char* name, const Bytes& bytes) const
    {
        std::ofstream(directory / "C" / "frames" / name, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

Machine& machine()
{
    static Machine instance;
    return instance;
}

Bytes paddedFile(const std::uint8_t* head, std::size_t headBytes, std::uint32_t length)
{
    Bytes file(length, 0x5A);
    const std::size_t copied = headBytes < length ? headBytes : length;
    if (copied != 0) {
        std::memcpy(file.data(), head, copied);
    }
    return file;
}

// The pixels of a usable file (at least `required` of them), or none.
bool pixelsOf(const Bytes& file, std::uint32_t capacity, std::uint32_t required, Bytes* pixels)
{
    if (file.empty() || file.size() > capacity || file.size() < 14) {
        return false;
    }
    const std::uint32_t offset = le32(file.data() + 10);
    if (offset > file.size() || file.size() - offset < required) {
        return false;
    }
    pixels->assign(file.begin() + offset, file.begin() + offset + required);
    return true;
}

void blendStaysInside(Stream& stream)
{
    const std::size_t bytes = stream.device.Stream->IsI420 ? 152064 : 304128;
    Bytes source(bytes, 0x33), destination(bytes);
    CFloatingPointState floatingPoint; // as the pipeline's per-frame bracket
    if (!ApplyOverlayFrame(source.data(), static_cast<ULONG>(bytes), destination.data(), static_cast<ULONG>(bytes),
                           &stream.device)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 9) {
        return 0;
    }
    Machine& world = machine();
    const std::uint32_t pictureLength = le32(data) % (kPictureFileCapacity + 64);
    const std::uint32_t maskLength = le32(data + 4) % (kMaskFileCapacity + 64);
    const std::uint8_t flags = data[8];
    const std::uint8_t* heads = data + 9;
    const std::size_t half = (size - 9) / 2;
    const Bytes pictureFile = paddedFile(heads, half, pictureLength);
    const Bytes maskFile = paddedFile(heads + half, size - 9 - half, maskLength);
    world.writeFile("fuzzp3.bmp", pictureFile);
    world.writeFile("fuzzm3.bmp", maskFile);
    if (flags & 4) {
        std::filesystem::remove(world.directory / "C" / "frames" / "fuzzm3.bmp");
    }
    WdmLevel = (flags & 1) ? 1 : 4;
    Stream& stream = (flags & 2) ? *world.i420 : *world.bgr;

    const Bytes oldPicture = stream.buffer(OverlayPicture, OVERLAY_PICTURE_BYTES);
    const Bytes oldMask = stream.buffer(OverlayMask, OVERLAY_MASK_BYTES);
    Bytes picturePixels, maskPixels;
    const bool usable = pixelsOf(pictureFile, kPictureFileCapacity, OVERLAY_PICTURE_BYTES, &picturePixels) &&
                        !(flags & 4) && pixelsOf(maskFile, kMaskFileCapacity, OVERLAY_MASK_BYTES, &maskPixels);
    const bool loaded = LoadOverlayFrame(1, &stream.device);
    if (loaded != usable) {
        std::abort();
    }
    const Bytes newPicture = stream.buffer(OverlayPicture, OVERLAY_PICTURE_BYTES);
    const Bytes newMask = stream.buffer(OverlayMask, OVERLAY_MASK_BYTES);
    if (loaded ? (newPicture != picturePixels || newMask != maskPixels)
               : (newPicture != oldPicture || newMask != oldMask)) {
        std::abort();
    }
    blendStaysInside(stream);
    if (world.platform->openHandleCount() != 0) {
        std::abort();
    }
    return 0;
}
