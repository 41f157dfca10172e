// A machine with an open capture stream for the overlay-frame tests: the
// emulated platform over a machine directory, a device with its stream
// context, a ready effects object and the overlay buffers; bitmap files are
// written into the machine's C: drive and named in the registry.
#pragma once

#include "support/floating_point_scope.h"
#include "driver/Driver.h"
#include "effects/EffectKernels.h"
#include "effects/VideoEffects.h"
#include "stream/OverlayFrames.h"

#include "host/kernel/platform.h"
#include "host/kernel/pool.h"
#include "support/random_bytes.h"
#include "support/test_directory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace korval::overlay_test {

using Bytes = std::vector<std::uint8_t>;
using namespace korval::host;

inline const char* const kFrameKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame";

// A bitmap file as the driver reads it: "BM", the file size, the pixel-data
// offset at byte 10, filler up to the offset (header and palette), the pixels.
inline Bytes bitmapFile(const Bytes& pixels, std::uint32_t offset = 54)
{
    Bytes file(offset, 0);
    file[0] = 'B';
    file[1] = 'M';
    const auto size = static_cast<std::uint32_t>(offset + pixels.size());
    for (int i = 0; i < 4; ++i) {
        file[2 + i] = static_cast<std::uint8_t>(size >> (8 * i));
        file[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    }
    for (std::uint32_t i = 14; i < offset; ++i) {
        file[i] = static_cast<std::uint8_t>(0xA0 + i % 7); // palette bytes that must not reach the picture
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

inline Bytes uniformPicture(std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    Bytes pixels(OVERLAY_PICTURE_BYTES);
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
    }
    return pixels;
}

using korval::testing::randomBytes;

// Mask weights by stored line: the bottom third 0, the middle 128, the top 255.
inline Bytes bandedMask()
{
    Bytes mask(OVERLAY_MASK_BYTES);
    for (ULONG line = 0; line < OVERLAY_HEIGHT; ++line) {
        const std::uint8_t weight = line < 96 ? 0 : line < 192 ? 128 : 255;
        std::fill_n(mask.begin() + line * OVERLAY_WIDTH, OVERLAY_WIDTH, weight);
    }
    return mask;
}

struct EffectsDeleter {
    void operator()(VideoEffects* effects) const { delete effects; }
};

class OverlayMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine_ = korval::testing::freshTestDirectory("korval-overlay");
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_});
        savedWdmLevel_ = WdmLevel;
        WdmLevel = 4;
        device_ = std::make_unique<DeviceContext>();
        InitializeDeviceState(device_.get());
        device_->Stream = new StreamContext;
        ASSERT_NE(device_->Stream, nullptr);
        std::filesystem::create_directories(machine_ / "C" / "frames");
        presetFolder("C:\\frames");
    }

    void TearDown() override
    {
        closeStream();
        delete device_->Stream;
        device_.reset();
        WdmLevel = savedWdmLevel_;
        checkNoPoolLeaks(KORVAL_POOL_TAG);
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    // What the pipeline set-up does for the overlay: a ready effects object for
    // the output picture and the overlay buffers.
    void openStream(ULONG width, ULONG height, bool i420, bool withEffects = true)
    {
        StreamContext* stream = device_->Stream;
        stream->IsI420 = i420 ? 1 : 0;
        stream->OutWidth = width;
        stream->OutHeight = height;
        if (withEffects) {
            setUpEffects(width, height, i420 ? VE_FORMAT_I420 : VE_FORMAT_BGR24);
        }
        ASSERT_TRUE(AllocateOverlayBuffers(stream));
    }

    void closeStream()
    {
        StreamContext* stream = device_->Stream;
        FreeOverlayBuffers(stream);
        if (stream->Effects != nullptr) {
            stream->Effects->Reset();
            delete stream->Effects;
            stream->Effects = nullptr;
        }
        KorvalFree(stream->EffectsWork);
        stream->EffectsWork = nullptr;
    }

    void setUpEffects(ULONG width, ULONG height, ULONG format)
    {
        StreamContext* stream = device_->Stream;
        stream->Effects = new VideoEffects;
        ASSERT_NE(stream->Effects, nullptr);
        const ULONG frameBytes = format == VE_FORMAT_I420 ? width * height * 3 / 2 : width * height * 3;
        VE_IMAGE_DESCRIPTION output = {24, width, height, 24, format, frameBytes};
        VE_IMAGE_DESCRIPTION overlay = {24, OVERLAY_WIDTH, OVERLAY_HEIGHT, 24, format, OVERLAY_PICTURE_BYTES};
        VE_IMAGE_DESCRIPTION mask = {24, OVERLAY_WIDTH, OVERLAY_HEIGHT, 8, VE_FORMAT_BGR24, OVERLAY_MASK_BYTES};
        ULONG bytes = 0;
        korval::testing::FloatingPointScope floatingPoint; // as the pipeline's set-up bracket
        ASSERT_EQ(stream->Effects->Setup(&output, &overlay, &mask, nullptr, &bytes), VE_SUCCESS);
        stream->EffectsWork = static_cast<PUCHAR>(KorvalAllocate(bytes));
        ASSERT_NE(stream->EffectsWork, nullptr);
        ASSERT_EQ(stream->Effects->Setup(&output, &overlay, &mask, stream->EffectsWork, &bytes), VE_SUCCESS);
    }

    void presetString(const std::string& name, const std::string& value)
    {
        platform_->registry().setValue(kFrameKey, name, RegistryValue::string(value));
    }
    void presetFolder(const std::string& folder) { presetString("PATH", folder); }
    void presetStem(ULONG frame, const std::string& stem)
    {
        char name[16];
        std::snprintf(name, sizeof(name), "FN%.4d", static_cast<int>(frame));
        presetString(name, stem);
    }

    // Writes a file into the machine's C: drive; relative uses '/' separators.
    void writeFile(const std::string& relative, const Bytes& bytes)
    {
        const auto path = machine_ / "C" / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }

    // Frame `frame` as stem `stem` in C:\frames, with the given picture and mask pixels.
    void installFrame(ULONG frame, const std::string& stem, const Bytes& picture, const Bytes& mask)
    {
        presetStem(frame, stem);
        writeFile("frames/" + stem + "p3.bmp", bitmapFile(picture, 54));
        writeFile("frames/" + stem + "m3.bmp", bitmapFile(mask, 1078));
    }

    Bytes buffer(OVERLAY_BUFFER which, std::size_t count) const
    {
        const PUCHAR data = device_->Stream->OverlayBuffers[which];
        return data == nullptr ? Bytes() : Bytes(data, data + count);
    }
    Bytes picture() const { return buffer(OverlayPicture, OVERLAY_PICTURE_BYTES); }
    Bytes mask() const { return buffer(OverlayMask, OVERLAY_MASK_BYTES); }
    Bytes pictureI420() const { return buffer(OverlayPictureI420, OVERLAY_I420_BYTES); }

    static Bytes i420Of(const Bytes& bgr)
    {
        Bytes i420(OVERLAY_I420_BYTES);
        VeBgrToI420Reference(bgr.data(), i420.data(), OVERLAY_WIDTH, OVERLAY_HEIGHT, FALSE);
        return i420;
    }

    BOOLEAN load(ULONG frame) { return LoadOverlayFrame(frame, device_.get()); }

    // Blends the current frame over source; the destination starts as `fill`.
    BOOLEAN apply(Bytes& source, Bytes& destination)
    {
        korval::testing::FloatingPointScope floatingPoint; // the pipeline's per-frame bracket
        return ApplyOverlayFrame(source.data(), static_cast<ULONG>(source.size()), destination.data(),
                                 static_cast<ULONG>(destination.size()), device_.get());
    }

    std::filesystem::path machine_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<DeviceContext> device_;
    ULONG savedWdmLevel_ = 0;
};

} // namespace korval::overlay_test
