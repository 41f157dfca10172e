// Recordings read back: the usbmon trace the bus writes, the same records in
// pcapng and USBPcap's records, damaged files refused with the place named,
// and a recorded device answering in the camera's place.
#include "host/usb/replay_device.h"
#include "host/usb/usb_recording.h"
#include "host/usb/usbmon_pcap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace korval::host::testing {
namespace {

constexpr std::int64_t kMs = 10'000;

template <typename T>
void put(std::vector<std::uint8_t>& out, T value)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

TransferEvent controlSubmission(std::uint64_t id, SetupPacket setup, std::span<const std::uint8_t> data = {})
{
    TransferEvent event;
    event.id = id;
    event.setup = setup;
    event.endpoint = setup.deviceToHost() ? 0x80 : 0x00;
    event.length = setup.length;
    event.data = data;
    return event;
}

TransferEvent completion(std::uint64_t id, TransferType type, std::uint8_t endpoint,
                         std::span<const std::uint8_t> data, std::int64_t time)
{
    TransferEvent event;
    event.completion = true;
    event.id = id;
    event.type = type;
    event.endpoint = endpoint;
    event.data = data;
    event.length = static_cast<std::uint32_t>(data.size());
    event.time = time;
    return event;
}

const std::uint8_t kDevice[18] = {18, 1, 0x10, 0x01, 0, 0, 0, 8, 0x34, 0x12, 0x78, 0x56, 0, 1, 0, 0, 0, 1};
const std::uint8_t kRegister[2] = {0x5A, 0x00};
const std::uint8_t kBlock[3] = {1, 2, 3};
const std::uint8_t kVideo[10] = {0xFF, 0xFF, 0x00, 0xFF, 0x96, 0x64, 7, 8, 9, 10};
const std::uint8_t kButton[2] = {0x01, 0x00};

// A small session as the bus writes it: descriptor, a register read, a block
// write, a status report and two isochronous transfers of three packets.
std::vector<std::uint8_t> traceBytes()
{
    const auto path = std::filesystem::temp_directory_path() / ("korval-recording-" + std::to_string(::getpid()));
    UsbmonPcapWriter writer;
    std::string error;
    EXPECT_TRUE(writer.open(path.string(), error)) << error;
    writer.transfer(controlSubmission(1, {0x80, 0x06, 0x0100, 0, 18}));
    writer.transfer(completion(1, TransferType::Control, 0x80, kDevice, 1 * kMs));
    writer.transfer(controlSubmission(2, {0xC1, 0x03, 0, 0x00, 2}));
    writer.transfer(completion(2, TransferType::Control, 0x80, kRegister, 2 * kMs));
    writer.transfer(controlSubmission(3, {0x41, 0x01, 0, 0x02, 3}, kBlock));
    writer.transfer(completion(3, TransferType::Control, 0x00, {}, 3 * kMs));
    TransferEvent first = completion(4, TransferType::Isochronous, 0x85, kVideo, 12 * kMs);
    first.packets = {{0, 6, 0}, {6, 0, 0}, {6, 4, 0}};
    writer.transfer(first);
    writer.transfer(completion(5, TransferType::Interrupt, 0x83, kButton, 14 * kMs));
    TransferEvent second = completion(6, TransferType::Isochronous, 0x85, kVideo, 15 * kMs);
    second.packets = {{6, 4, 0}, {0, 0, 0}, {0, 2, static_cast<std::int32_t>(0xC0000001)}};
    writer.transfer(second);
    EXPECT_TRUE(writer.close(error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    return bytes;
}

// The same records as pcapng: a section, one interface, enhanced packet blocks.
std::vector<std::uint8_t> asPcapng(const std::vector<std::uint8_t>& pcap)
{
    std::vector<std::uint8_t> out;
    auto block = [&out](std::uint32_t type, const std::vector<std::uint8_t>& body) {
        const auto length = static_cast<std::uint32_t>(12 + (body.size() + 3) / 4 * 4);
        put(out, type);
        put(out, length);
        out.insert(out.end(), body.begin(), body.end());
        out.resize(out.size() + (length - 12 - body.size()));
        put(out, length);
    };
    std::vector<std::uint8_t> section;
    put<std::uint32_t>(section, 0x1A2B3C4D);
    put<std::uint16_t>(section, 1);
    put<std::uint16_t>(section, 0);
    put<std::int64_t>(section, -1);
    block(0x0A0D0D0A, section);
    std::vector<std::uint8_t> interface;
    put<std::uint16_t>(interface, 220);
    put<std::uint16_t>(interface, 0);
    put<std::uint32_t>(interface, 0x40000);
    block(1, interface);
    for (std::size_t at = 24; at + 16 <= pcap.size();) {
        std::uint32_t seconds, micros, length;
        std::memcpy(&seconds, &pcap[at], 4);
        std::memcpy(&micros, &pcap[at + 4], 4);
        std::memcpy(&length, &pcap[at + 8], 4);
        const std::uint64_t stamp = std::uint64_t{seconds} * 1'000'000 + micros;
        std::vector<std::uint8_t> body;
        put<std::uint32_t>(body, 0);
        put<std::uint32_t>(body, static_cast<std::uint32_t>(stamp >> 32));
        put<std::uint32_t>(body, static_cast<std::uint32_t>(stamp));
        put(body, length);
        put(body, length);
        body.insert(body.end(), pcap.begin() + static_cast<std::ptrdiff_t>(at + 16),
                    pcap.begin() + static_cast<std::ptrdiff_t>(at + 16 + length));
        block(6, body);
        at += 16 + length;
    }
    return out;
}

TEST(UsbRecording, TheBusTraceReadsBackAsPcapAndAsPcapng)
{
    const auto pcap = traceBytes();
    for (const auto& file : {pcap, asPcapng(pcap)}) {
        std::string error;
        const auto recording = readUsbRecording(file, error);
        ASSERT_TRUE(recording) << error;
        ASSERT_EQ(recording->transfers.size(), 9u);
        const RecordedTransfer& read = recording->transfers[2];
        ASSERT_TRUE(read.setup);
        EXPECT_EQ(read.setup->requestType, 0xC1);
        EXPECT_EQ(read.setup->length, 2);
        const RecordedTransfer& block = recording->transfers[4];
        EXPECT_EQ(block.data, std::vector<std::uint8_t>(std::begin(kBlock), std::end(kBlock)));
        const RecordedTransfer& video = recording->transfers[6];
        EXPECT_EQ(video.type, TransferType::Isochronous);
        EXPECT_EQ(video.endpoint, 0x85);
        EXPECT_EQ(video.address, UsbmonPcapWriter::kDeviceAddress);
        ASSERT_EQ(video.packets.size(), 3u);
        EXPECT_EQ(video.packets[2].offset, 6u);
        EXPECT_EQ(video.time, 12 * kMs);
        EXPECT_FALSE(recording->transfers[8].packets[2].ok);
    }
}

// USBPcap: the base header, a control stage byte or an isochronous packet table.
std::vector<std::uint8_t> usbPcapRecord(std::uint64_t irp, bool fromDevice, std::uint8_t endpoint,
                                        std::uint8_t transfer, const std::vector<std::uint8_t>& extra,
                                        const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> out;
    put<std::uint16_t>(out, static_cast<std::uint16_t>(27 + extra.size()));
    put(out, irp);
    put<std::uint32_t>(out, 0);
    put<std::uint16_t>(out, 0);
    out.push_back(fromDevice ? 1 : 0);
    put<std::uint16_t>(out, 1);
    put<std::uint16_t>(out, 7);
    out.push_back(endpoint);
    out.push_back(transfer);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<std::uint8_t> pcapOf(std::uint32_t linkType, const std::vector<std::vector<std::uint8_t>>& records)
{
    std::vector<std::uint8_t> file;
    for (std::uint32_t word : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 0x40000u, linkType}) {
        put(file, word);
    }
    std::uint32_t time = 0;
    for (const auto& record : records) {
        for (std::uint32_t word : {0u, time += 1000, static_cast<std::uint32_t>(record.size()),
                                   static_cast<std::uint32_t>(record.size())}) {
            put(file, word);
        }
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

TEST(UsbRecording, UsbPcapControlStagesAndIsochronousTablesArePairedIntoOneDevice)
{
    std::vector<std::uint8_t> table;
    for (std::uint32_t word : {0u, 2u, 0u, 0u, 3u, 0u, 3u, 2u, 0u}) {
        put(table, word);
    }
    const auto file = pcapOf(249, {
        usbPcapRecord(9, false, 0x80, 2, {0}, {0x80, 0x06, 0x00, 0x01, 0, 0, 18, 0}),
        usbPcapRecord(9, true, 0x80, 2, {3}, std::vector<std::uint8_t>(std::begin(kDevice), std::end(kDevice))),
        usbPcapRecord(4, true, 0x85, 0, table, {0xA, 0xB, 0xC, 0xD, 0xE}),
    });
    std::string error;
    const auto recording = readUsbRecording(file, error);
    ASSERT_TRUE(recording) << error;
    const auto devices = devicesOf(*recording);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].address, 7);
    EXPECT_EQ(devices[0].vendor, 0x1234);
    EXPECT_EQ(devices[0].product, 0x5678);
    EXPECT_EQ(devices[0].isochronousPackets, 2u);
    const ReplayScript script = scriptOf(*recording, 1, 7);
    EXPECT_EQ(script.packets.at(0x85), (std::vector<std::vector<std::uint8_t>>{{0xA, 0xB, 0xC}, {0xD, 0xE}}));
    EXPECT_EQ(script.descriptors.at(0x0100).size(), 18u);
}

std::vector<std::uint8_t> patched(std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t value)
{
    std::memcpy(&bytes[at], &value, sizeof(value));
    return bytes;
}

TEST(UsbRecording, DamagedAndHostileFilesAreRefusedWithThePlaceNamed)
{
    const auto good = traceBytes();
    const std::size_t record = 24 + 16; // the first record's usbmon header
    std::size_t video = 24;             // the first isochronous completion's record
    for (int i = 0; i < 6; ++i) {
        std::uint32_t length;
        std::memcpy(&length, &good[video + 8], 4);
        video += 16 + length;
    }
    const std::vector<std::uint8_t> cut(good.begin(), good.end() - 3);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        const char* message;
    } cases[] = {
        {"empty", {}, "too short"},
        {"not a capture", {'G', 'I', 'F', '8', '9', 'a'}, "not a pcap or pcapng"},
        {"cut in the file header", {good.begin(), good.begin() + 10}, "file header is cut short"},
        {"cut in the last record", cut, "cut short"},
        {"a record larger than any", patched(good, 24 + 8, 0x7FFFFFF0), "more than any USB record"},
        {"another link type", patched(good, 20, 1), "holds no USB traffic"},
        {"data beyond the record", patched(good, record + 36, 4000), "data bytes"},
        {"too many descriptors", patched(good, video + 16 + 60, 0x10000000), "isochronous descriptors"},
        {"a packet outside its data", patched(good, video + 16 + 64 + 4, 0xFFFFFFF0), "lies beyond"},
        {"a pcapng block of broken length", patched(asPcapng(good), 4, 13), "broken length"},
        {"a USBPcap header longer than its record", pcapOf(249, {{0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}),
         "do not fit"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(readUsbRecording(c.file, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

class ReplayDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        const auto recording = readUsbRecording(traceBytes(), error);
        ASSERT_TRUE(recording) << error;
        device_ = std::make_unique<ReplayDevice>(scriptOf(*recording, 1, 1), journal_);
    }
    std::vector<std::uint8_t> packet(std::uint64_t frame)
    {
        device_->startOfFrame(frame);
        std::uint8_t buffer[16] = {};
        const std::size_t bytes = device_->isochronousIn(0x85, buffer, sizeof(buffer));
        return {buffer, buffer + bytes};
    }
    std::shared_ptr<ReplayJournal> journal_ = std::make_shared<ReplayJournal>();
    std::unique_ptr<ReplayDevice> device_;
};

TEST_F(ReplayDeviceTest, ControlRequestsAreAnsweredByTheRecordedOneWithTheSameSetupPacket)
{
    EXPECT_EQ(device_->descriptor(1, 0).size(), 18u);
    std::uint8_t answer[2] = {0xCC, 0xCC};
    const ControlResult read = device_->control({0xC1, 0x03, 0, 0x00, 2}, answer);
    EXPECT_EQ(read.outcome, ControlOutcome::Ack);
    EXPECT_EQ(read.bytes, 2u);
    EXPECT_EQ(answer[0], 0x5A);
    EXPECT_EQ(device_->control({0xC1, 0x03, 0, 0x00, 2}, answer).outcome, ControlOutcome::Ack) << "asked again";
    std::uint8_t block[3] = {9, 9, 9};
    EXPECT_EQ(device_->control({0x41, 0x01, 0, 0x02, 3}, block).outcome, ControlOutcome::Ack);
    EXPECT_EQ(device_->control({0x41, 0x01, 5, 0x02, 3}, block).outcome, ControlOutcome::Ack) << "other values";
    EXPECT_EQ(journal_->looseWrites, 1u);
    EXPECT_EQ(journal_->unansweredCount, 0u);

    device_->startOfFrame(40);
    EXPECT_EQ(device_->control({0xC1, 0x03, 0, 0x13, 2}, answer).outcome, ControlOutcome::Stall);
    EXPECT_TRUE(device_->descriptor(3, 1).empty());
    ASSERT_EQ(journal_->unanswered.size(), 2u);
    EXPECT_NE(journal_->unanswered[0].find("bRequest 0x03 wValue 0x0000 wIndex 0x0013"), std::string::npos)
        << journal_->unanswered[0];
    EXPECT_NE(journal_->unanswered[0].find("at bus frame 40, after 0 of 6 recorded isochronous packets"),
              std::string::npos)
        << journal_->unanswered[0];
}

TEST_F(ReplayDeviceTest, PacketsPlayInOrderAndTheButtonReportWaitsForThePacketsBeforeIt)
{
    std::uint8_t report[2] = {};
    device_->startOfFrame(1);
    EXPECT_EQ(device_->isochronousIn(0x85, nullptr, 16), 0u);
    EXPECT_EQ(packet(2), std::vector<std::uint8_t>(kVideo, kVideo + 6)) << "a frame without a transfer loses nothing";
    EXPECT_TRUE(packet(3).empty());
    EXPECT_EQ(packet(4), std::vector<std::uint8_t>(kVideo + 6, kVideo + 10));
    EXPECT_FALSE(device_->interruptIn(0x83, report, 2)) << "recorded after the fourth packet";
    EXPECT_EQ(packet(5).size(), 4u);
    EXPECT_EQ(device_->interruptIn(0x83, report, 2), 2u);
    EXPECT_EQ(report[0], 0x01);
    EXPECT_FALSE(device_->interruptIn(0x83, report, 2)) << "each report is sent once";
    EXPECT_TRUE(packet(6).empty());
    EXPECT_TRUE(packet(7).empty()) << "a failed packet plays as an empty one";
    EXPECT_FALSE(device_->finished());
    EXPECT_TRUE(packet(8).empty()) << "after the end, empty packets";
    device_->startOfFrame(7 + ReplayDevice::kFramesAfterEnd);
    EXPECT_TRUE(device_->finished());
}

} // namespace
} // namespace korval::host::testing
