// Loading overlay frames from the registry and the machine's drive: what a
// good frame puts into the buffers, and the many ways a frame can be bad,
// none of which may disturb the frame already loaded.
#include "overlay_test_support.h"

#include "host/kernel/irql.h"
#include "stream/OverlayBitmap.h"
#include "stream/OverlayFileNames.h"

#include <functional>
#include <string>
#include <utility>

namespace korval::overlay_test {
namespace {

std::u16string stemName(ULONG frame)
{
    WCHAR name[16];
    FormatOverlayStemName(frame, name);
    return std::u16string(reinterpret_cast<const char16_t*>(name));
}

TEST(OverlayStemName, IsPrintfPercentPoint4d)
{
    EXPECT_EQ(stemName(0), u"FN0000");
    EXPECT_EQ(stemName(3), u"FN0003");
    EXPECT_EQ(stemName(12), u"FN0012");
    EXPECT_EQ(stemName(255), u"FN0255");
    EXPECT_EQ(stemName(12345), u"FN12345");
    EXPECT_EQ(stemName(0xFFFFFFFF), u"FN-0001");
    EXPECT_EQ(stemName(0x80000000), u"FN-2147483648");
}

TEST(OverlayBitmapPixels, StartAtTheOffsetAtByteTenAndRunToTheEnd)
{
    Bytes file = bitmapFile(Bytes(100, 7), 0x12345 & 0xFF); // offset 0x45
    BITMAP_PIXELS pixels = {};
    ASSERT_TRUE(FindBitmapPixels(file.data(), static_cast<ULONG>(file.size()), 100, &pixels));
    EXPECT_EQ(pixels.ulOffset, 0x45u);
    EXPECT_EQ(pixels.ulLength, 100u);
    EXPECT_FALSE(FindBitmapPixels(file.data(), static_cast<ULONG>(file.size()), 101, &pixels)) << "too few pixels";

    file[12] = 1; // offset 0x10045: beyond the end
    EXPECT_FALSE(FindBitmapPixels(file.data(), static_cast<ULONG>(file.size()), 0, &pixels));
    file[12] = 0;
    file[13] = 0xFF; // offset near 4 GiB: no wrap-around
    EXPECT_FALSE(FindBitmapPixels(file.data(), static_cast<ULONG>(file.size()), 0, &pixels));

    Bytes atEnd = bitmapFile({}, 20); // offset exactly at the end: no pixels
    ASSERT_TRUE(FindBitmapPixels(atEnd.data(), 20, 0, &pixels));
    EXPECT_EQ(pixels.ulLength, 0u);
    EXPECT_FALSE(FindBitmapPixels(atEnd.data(), 13, 0, &pixels)) << "no room for the offset field";
    EXPECT_FALSE(FindBitmapPixels(nullptr, 20, 0, &pixels));
}

class OverlayLoad : public OverlayMachine {
protected:
    void SetUp() override
    {
        OverlayMachine::SetUp();
        openStream(352, 288, false);
        firstPicture_ = randomBytes(OVERLAY_PICTURE_BYTES, 1);
        firstMask_ = randomBytes(OVERLAY_MASK_BYTES, 2);
        installFrame(1, "gold", firstPicture_, firstMask_);
        installFrame(2, "blue", uniformPicture(200, 10, 10), Bytes(OVERLAY_MASK_BYTES, 255));
    }

    void expectFirstFrameIntact(const std::string& what)
    {
        EXPECT_TRUE(picture() == firstPicture_) << what;
        EXPECT_TRUE(mask() == firstMask_) << what;
        EXPECT_TRUE(pictureI420() == i420Of(firstPicture_)) << what;
        EXPECT_TRUE(buffer(OverlayPictureFile, 336896) == Bytes(336896, 0)) << what << ": picture file cleared";
        EXPECT_TRUE(buffer(OverlayMaskFile, 134144) == Bytes(134144, 0)) << what << ": mask file cleared";
    }

    Bytes firstPicture_;
    Bytes firstMask_;
};

TEST_F(OverlayLoad, TakesThePixelsFromTheOffsetAndConvertsThePictureToI420)
{
    ASSERT_TRUE(load(1));
    EXPECT_TRUE(picture() == firstPicture_);
    EXPECT_TRUE(mask() == firstMask_) << "the 1024-byte palette is skipped";
    EXPECT_TRUE(pictureI420() == i420Of(firstPicture_)) << "line order of the file kept";

    ASSERT_TRUE(load(2));
    EXPECT_TRUE(picture() == uniformPicture(200, 10, 10));
    EXPECT_TRUE(mask() == Bytes(OVERLAY_MASK_BYTES, 255));
}

TEST_F(OverlayLoad, FrameTwelveIsNamedByFN0012)
{
    presetStem(12, "gold");
    EXPECT_TRUE(load(12));
    platform_->registry().deleteValue(kFrameKey, "FN0012");
    presetString("FN12", "gold");
    EXPECT_FALSE(load(12));
}

TEST_F(OverlayLoad, FolderMayBeGivenInEitherDriveFormAtEveryWdmLevel)
{
    const std::pair<const char*, BOOLEAN> folders[] = {
        {"C:\\frames", TRUE},
        {"\\DosDevices\\C:\\frames", TRUE},
        {"\\??\\c:\\FRAMES", TRUE}, // names compare without case, as on Windows
        {"C:\\frames\\", TRUE},       // a closing separator is not doubled
        {"C:\\frames\\\\", FALSE},   // but an empty name in the path is refused
    };
    for (ULONG level : {4u, 2u, 1u, 0u}) {
        WdmLevel = level;
        for (const auto& [folder, loads] : folders) {
            presetFolder(folder);
            EXPECT_EQ(load(1), loads) << folder << " at level " << level;
        }
    }
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(OverlayLoad, RingZeroServicesTakeOnlyAsciiNames)
{
    writeFile("r\xC3\xA4hmen/goldp3.bmp", bitmapFile(firstPicture_));
    writeFile("r\xC3\xA4hmen/goldm3.bmp", bitmapFile(firstMask_));
    presetFolder("C:\\r\xC3\xA4hmen"); // "rähmen"
    EXPECT_TRUE(load(1)) << "the kernel's calls take any name";
    WdmLevel = 1;
    EXPECT_FALSE(load(1));
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(OverlayLoad, FullLengthNamesLoadAndLongerOnesAreRefused)
{
    const std::string folder127 = "C:\\" + std::string(124, 'f');
    const std::string stem29(29, 's');
    std::filesystem::create_directories(machine_ / "C" / std::string(124, 'f'));
    presetFolder(folder127);
    presetStem(7, stem29);
    writeFile(std::string(124, 'f') + "/" + stem29 + "p3.bmp", bitmapFile(firstPicture_));
    writeFile(std::string(124, 'f') + "/" + stem29 + "m3.bmp", bitmapFile(firstMask_));
    EXPECT_TRUE(load(7)) << "127-character folder, 29-character stem";

    presetStem(7, stem29 + "s");
    EXPECT_FALSE(load(7)) << "30-character stem";
    presetStem(7, stem29);
    presetFolder(folder127 + "f");
    EXPECT_FALSE(load(7)) << "128-character folder";
}

TEST_F(OverlayLoad, BadFramesAreRefusedAndKeepTheLoadedOne)
{
    const std::vector<std::pair<std::string, std::function<void()>>> damages = {
        {"no PATH value", [&] { platform_->registry().deleteValue(kFrameKey, "PATH"); }},
        {"empty PATH", [&] { presetFolder(""); }},
        {"no stem value", [&] { platform_->registry().deleteValue(kFrameKey, "FN0002"); }},
        {"empty stem", [&] { presetStem(2, ""); }},
        {"PATH of another type",
         [&] { platform_->registry().setValue(kFrameKey, "PATH", RegistryValue::dword(0x3A43)); }},
        {"missing folder", [&] { presetFolder("C:\\nowhere"); }},
        {"missing picture file", [&] { std::filesystem::remove(machine_ / "C/frames/bluep3.bmp"); }},
        {"missing mask file", [&] { std::filesystem::remove(machine_ / "C/frames/bluem3.bmp"); }},
        {"picture is a directory",
         [&] {
             std::filesystem::remove(machine_ / "C/frames/bluep3.bmp");
             std::filesystem::create_directories(machine_ / "C/frames/bluep3.bmp");
         }},
        {"empty picture file", [&] { writeFile("frames/bluep3.bmp", {}); }},
        {"empty mask file", [&] { writeFile("frames/bluem3.bmp", {}); }},
        {"picture file one byte larger than its buffer",
         [&] { writeFile("frames/bluep3.bmp", bitmapFile(Bytes(336896 - 54 + 1, 9))); }},
        {"mask file one byte larger than its buffer",
         [&] { writeFile("frames/bluem3.bmp", bitmapFile(Bytes(134144 - 54 + 1, 9))); }},
        {"picture shorter than its header", [&] { writeFile("frames/bluep3.bmp", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0}); }},
        {"picture offset beyond the end",
         [&] {
             Bytes file = bitmapFile(uniformPicture(1, 2, 3));
             file[12] = 0x10; // offset 0x100036
             writeFile("frames/bluep3.bmp", file);
         }},
        {"mask offset 0xFFFFFFFF",
         [&] {
             Bytes file = bitmapFile(Bytes(OVERLAY_MASK_BYTES, 1));
             file[10] = file[11] = file[12] = file[13] = 0xFF;
             writeFile("frames/bluem3.bmp", file);
         }},
        {"picture pixels one byte short",
         [&] { writeFile("frames/bluep3.bmp", bitmapFile(Bytes(OVERLAY_PICTURE_BYTES - 1, 5))); }},
        {"mask pixels one byte short",
         [&] { writeFile("frames/bluem3.bmp", bitmapFile(Bytes(OVERLAY_MASK_BYTES - 1, 5))); }},
        {"stem climbing out of the folder",
         [&] {
             writeFile("outside/bluep3.bmp", bitmapFile(uniformPicture(1, 2, 3)));
             writeFile("outside/bluem3.bmp", bitmapFile(Bytes(OVERLAY_MASK_BYTES, 1)));
             presetStem(2, "..\\outside\\blue");
         }},
        {"stem naming a subfolder",
         [&] {
             writeFile("frames/sub/bluep3.bmp", bitmapFile(uniformPicture(1, 2, 3)));
             writeFile("frames/sub/bluem3.bmp", bitmapFile(Bytes(OVERLAY_MASK_BYTES, 1)));
             presetStem(2, "sub/blue");
         }},
        {"stem naming a stream", [&] { presetStem(2, "blue:x"); }},
        {"folder climbing out of the drive", [&] { presetFolder("C:\\frames\\..\\..\\..\\frames"); }},
        {"folder on a drive the machine lacks", [&] { presetFolder("D:\\frames"); }},
        {"relative folder", [&] { presetFolder("frames"); }},
    };
    for (const auto& [what, damage] : damages) {
        ASSERT_TRUE(load(1)) << what;
        damage();
        EXPECT_FALSE(load(2)) << what;
        expectFirstFrameIntact(what);
        // Mend the machine for the next case.
        presetFolder("C:\\frames");
        std::filesystem::remove_all(machine_ / "C/frames/bluep3.bmp");
        installFrame(2, "blue", uniformPicture(200, 10, 10), Bytes(OVERLAY_MASK_BYTES, 255));
    }
    EXPECT_EQ(platform_->openHandleCount(), 0u) << "every opened file is closed";
}

TEST_F(OverlayLoad, FilesFillingTheirBuffersExactlyLoad)
{
    // Trailing bytes beyond the 352 × 288 pixels are taken along and ignored.
    Bytes pictureFile = bitmapFile(uniformPicture(9, 8, 7));
    pictureFile.resize(336896, 0xEE);
    Bytes maskFile = bitmapFile(Bytes(OVERLAY_MASK_BYTES, 77), 1078);
    maskFile.resize(134144, 0xEE);
    presetStem(3, "full");
    writeFile("frames/fullp3.bmp", pictureFile);
    writeFile("frames/fullm3.bmp", maskFile);
    ASSERT_TRUE(load(3));
    EXPECT_TRUE(picture() == uniformPicture(9, 8, 7));
    EXPECT_TRUE(mask() == Bytes(OVERLAY_MASK_BYTES, 77));
}

TEST_F(OverlayLoad, RefusedAboveThePassiveLevelWithoutTouchingFiles)
{
    ASSERT_TRUE(load(1));
    EXPECT_FALSE(runAtIrql(DISPATCH_LEVEL, [&] { return load(2); }));
    EXPECT_TRUE(picture() == firstPicture_);
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(OverlayLoad, InjectedFileFailuresAreRefusals)
{
    ASSERT_TRUE(load(1));
    for (const char* function : {"ZwCreateFile", "ZwReadFile"}) {
        platform_->failNextCalls(function, STATUS_ACCESS_DENIED);
        EXPECT_FALSE(load(2)) << function;
        EXPECT_TRUE(picture() == firstPicture_) << function;
    }
    WdmLevel = 1;
    platform_->failNextCalls("R0_OpenCreateFile", STATUS_ACCESS_DENIED);
    EXPECT_FALSE(load(2));
    EXPECT_TRUE(load(2));
    EXPECT_EQ(platform_->openHandleCount(), 0u);
}

TEST_F(OverlayLoad, WithoutAReadyEffectsObjectTheI420PictureIsZero)
{
    ASSERT_TRUE(load(1));
    device_->Stream->Effects->Reset(); // conversion refused: wrong state
    ASSERT_TRUE(load(2));
    EXPECT_TRUE(picture() == uniformPicture(200, 10, 10));
    EXPECT_TRUE(pictureI420() == Bytes(OVERLAY_I420_BYTES, 0));
}

TEST_F(OverlayLoad, ClosedStreamRefusesLoadsAndBlends)
{
    ASSERT_TRUE(load(1));
    closeStream();
    EXPECT_FALSE(load(1));
    device_->CurOverlayFrame = 1;
    Bytes source(352 * 288 * 3, 1), destination(352 * 288 * 3, 2);
    EXPECT_FALSE(apply(source, destination));
    StreamContext* stream = device_->Stream;
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        EXPECT_EQ(stream->OverlayBuffers[i], nullptr);
        EXPECT_EQ(stream->OverlayBufferSizes[i], 0u);
    }
    FreeOverlayBuffers(stream); // a second release is harmless
    EXPECT_FALSE(LoadOverlayFrame(1, nullptr));
    DeviceContext noStream = {};
    EXPECT_FALSE(LoadOverlayFrame(1, &noStream));
}

TEST_F(OverlayLoad, BuffersComeZeroedWithTheirSizesAndAllOrNone)
{
    StreamContext* stream = device_->Stream;
    const ULONG expected[OVERLAY_BUFFER_COUNT] = {336896, 134144, 336896, 134144, 184832};
    for (ULONG i = 0; i < OVERLAY_BUFFER_COUNT; ++i) {
        ASSERT_NE(stream->OverlayBuffers[i], nullptr);
        EXPECT_EQ(stream->OverlayBufferSizes[i], expected[i]);
        EXPECT_TRUE(Bytes(stream->OverlayBuffers[i], stream->OverlayBuffers[i] + expected[i]) ==
                    Bytes(expected[i], 0));
    }
    const auto before = poolCounters(KORVAL_POOL_TAG).outstandingBlocks;
    EXPECT_TRUE(AllocateOverlayBuffers(stream)) << "present buffers are kept";
    EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).outstandingBlocks, before);

    FreeOverlayBuffers(stream);
    EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).outstandingBlocks, before - OVERLAY_BUFFER_COUNT);
    for (std::uint64_t failing = 1; failing <= OVERLAY_BUFFER_COUNT; ++failing) {
        failPoolAllocation(failing);
        EXPECT_FALSE(AllocateOverlayBuffers(stream)) << "allocation " << failing << " fails";
        failPoolAllocation(0);
        EXPECT_EQ(stream->OverlayBuffers[0], nullptr);
        EXPECT_EQ(poolCounters(KORVAL_POOL_TAG).outstandingBlocks, before - OVERLAY_BUFFER_COUNT);
    }
    EXPECT_TRUE(AllocateOverlayBuffers(stream));
    EXPECT_FALSE(AllocateOverlayBuffers(nullptr));
}

} // namespace
} // namespace korval::overlay_test
