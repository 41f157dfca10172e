#include "tools/korval/raw_frames.h"

#include "host/wire/wire_frames.h"
#include "tools/korval/output_files.h"

#include <cstring>
#include <filesystem>

namespace korval::tools {
namespace {

constexpr std::size_t kRecordHeaderBytes = 12;

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
    temporary_ = temporaryNameFor(path);
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
        discardTemporary(file_, temporary_);
    }
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
    if (!file_) {
        error = "--raw: cannot write to '" + temporary_ + "'";
        return false;
    }
    std::error_code failure;
    std::filesystem::rename(temporary_, path_, failure);
    if (failure) {
        error = "--raw: cannot replace '" + path_ + "': " + failure.message();
        return false;
    }
    finished_ = true;
    return true;
}

bool RawFrameReader::open(const std::string& path, std::string& error)
{
    path_ = path;
    in_.open(path, std::ios::binary);
    if (!in_) {
        error = "cannot open raw frame file '" + path + "'";
        return false;
    }
    const std::size_t magicBytes = sizeof(kRawFramesMagic) - 1;
    char magic[sizeof(kRawFramesMagic)] = {};
    in_.read(magic, static_cast<std::streamsize>(magicBytes));
    if (static_cast<std::size_t>(in_.gcount()) != magicBytes || std::memcmp(magic, kRawFramesMagic, magicBytes) != 0) {
        error = "'" + path + "' is not a raw frame file (made by 'korval capture --raw')";
        return false;
    }
    return true;
}

std::optional<RawFrame> RawFrameReader::next()
{
    if (ended_) {
        return std::nullopt;
    }
    ended_ = true; // until a whole frame has been read
    char header[kRecordHeaderBytes];
    in_.read(header, sizeof(header));
    const auto got = static_cast<std::size_t>(in_.gcount());
    const std::string frame = "frame " + std::to_string(read_);
    if (got == 0) {
        return std::nullopt;
    }
    if (got < sizeof(header)) {
        problem_ = frame + " is cut short in its record header";
        return std::nullopt;
    }
    std::uint32_t length = 0;
    RawFrame raw;
    std::memcpy(&length, header, 4);
    std::memcpy(&raw.time, header + 4, 8);
    if (length < 2 * host::kWireHeaderBytes || length > host::kLargestWireFrame) {
        problem_ = frame + " has an impossible length " + std::to_string(length) + " (a raw frame has 20 to " +
                   std::to_string(host::kLargestWireFrame) + " bytes)";
        return std::nullopt;
    }
    raw.bytes.resize(length);
    in_.read(reinterpret_cast<char*>(raw.bytes.data()), length);
    if (static_cast<std::size_t>(in_.gcount()) != length) {
        problem_ = frame + " is cut short: " + std::to_string(in_.gcount()) + " of its " + std::to_string(length) +
                   " bytes";
        return std::nullopt;
    }
    ++read_;
    ended_ = false;
    return raw;
}

} // namespace korval::tools
