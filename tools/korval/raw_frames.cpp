#include "tools/korval/raw_frames.h"

#include "driver/DeviceContext.h"
#include "stream/StreamContext.h"
#include "usb/CUsbCamera.h"

#include <cstring>
#include <filesystem>
#include <iterator>
#include <unistd.h>

namespace korval::tools {
namespace {

// A raw frame is never larger than the transport's frame buffer (about 100 kB);
// anything far beyond is a damaged file.
constexpr std::uint32_t kLargestRawFrame = 1u << 20;

template <typename T>
void append(std::string& out, T value)
{
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

} // namespace

bool RawFrameWriter::open(const std::string& path, std::string& error)
{
    path_ = path;
    temporary_ = path + ".korval-" + std::to_string(::getpid()) + ".part";
    file_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!file_) {
        error = "--raw: cannot create '" + path + "'";
        temporary_.clear();
        return false;
    }
    file_ << kRawFramesMagic;
    return true;
}

RawFrameWriter::~RawFrameWriter()
{
    if (!temporary_.empty() && !finished_) {
        file_.close();
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

bool RawFrameWriter::keepProcessed(DeviceContext& device, std::int64_t time, std::string& error)
{
    CUsbCamera& usb = *device.Usb;
    const PUCHAR processed = device.Stream->RawFrame;
    RawFrame frame;
    frame.time = time;
    {
        // The pipeline keeps no length; the transport's buffer it was copied
        // from has it. A frame already overwritten there is not kept.
        const KIRQL oldIrql = KfAcquireSpinLock(&usb.RawFrameLock);
        for (ULONG index = 0; processed != nullptr && index < RAW_FRAME_COUNT; ++index) {
            const ULONG length = usb.FrameLength[index];
            if (length != 0 && length <= device.Stream->RawFrameSize &&
                std::memcmp(usb.FrameBuffer[index], processed, length) == 0) {
                frame.bytes.assign(processed, processed + length);
                break;
            }
        }
        KfReleaseSpinLock(&usb.RawFrameLock, oldIrql);
    }
    return frame.bytes.empty() || write(frame, error);
}

bool RawFrameWriter::write(const RawFrame& frame, std::string& error)
{
    std::string record;
    append(record, static_cast<std::uint32_t>(frame.bytes.size()));
    append(record, static_cast<std::int64_t>(frame.time));
    record.append(reinterpret_cast<const char*>(frame.bytes.data()), frame.bytes.size());
    if (!file_.write(record.data(), static_cast<std::streamsize>(record.size()))) {
        error = "--raw: cannot write to '" + temporary_ + "'";
        return false;
    }
    ++kept_;
    return true;
}

bool RawFrameWriter::finish(std::string& error)
{
    file_.close();
    std::error_code failure;
    std::filesystem::rename(temporary_, path_, failure);
    if (failure) {
        error = "--raw: cannot replace '" + path_ + "': " + failure.message();
        return false;
    }
    finished_ = true;
    return true;
}

std::optional<std::vector<RawFrame>> readRawFrames(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open raw frame file '" + path + "'";
        return std::nullopt;
    }
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string magic = kRawFramesMagic;
    if (content.compare(0, magic.size(), magic) != 0) {
        error = "'" + path + "' is not a raw frame file (made by 'korval capture --raw')";
        return std::nullopt;
    }
    std::vector<RawFrame> frames;
    for (std::size_t at = magic.size(); at < content.size();) {
        std::uint32_t length = 0;
        RawFrame frame;
        if (content.size() - at < 12) {
            error = "'" + path + "': frame " + std::to_string(frames.size()) + " is cut short";
            return std::nullopt;
        }
        std::memcpy(&length, content.data() + at, 4);
        std::memcpy(&frame.time, content.data() + at + 4, 8);
        at += 12;
        if (length < 20 || length > kLargestRawFrame || content.size() - at < length) {
            error = "'" + path + "': frame " + std::to_string(frames.size()) + " has an impossible length " +
                    std::to_string(length);
            return std::nullopt;
        }
        frame.bytes.assign(content.begin() + static_cast<std::ptrdiff_t>(at),
                           content.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        frames.push_back(std::move(frame));
    }
    return frames;
}

} // namespace korval::tools
