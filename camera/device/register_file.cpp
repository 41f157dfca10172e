#include "camera/device/register_file.h"

namespace korval::camera {
namespace {

// Power-on contents: a 30 frame-per-second timing that the sensor can run.
constexpr std::array<std::pair<std::uint8_t, std::uint8_t>, 12> kPowerOn = {{
    {0x02, 3}, {0x03, 0x12}, {0x04, 0x0D}, {0x05, 0x00}, {0x06, 0x6F}, {0x07, 0x03},
    {0x08, 45}, {0x0B, 100}, {0x0C, 100}, {0x0D, 100}, {0x0E, 10}, {0x4A, 54},
}};

constexpr std::array<int, 4> kLineClocks = {444, 467, 489, 512};

} // namespace

RegisterFile::RegisterFile()
{
    for (const auto& [address, value] : kPowerOn) {
        written_[address] = value;
        active_[address] = value;
    }
}

bool RegisterFile::exists(unsigned address)
{
    return address <= 0x1B || (address >= 0x40 && address <= 0x4B);
}

bool RegisterFile::writable(unsigned address)
{
    return exists(address) || address == kBatchCommitRegister;
}

bool RegisterFile::write(unsigned address, std::uint8_t value)
{
    if (!writable(address)) {
        return false;
    }
    if (address == kBatchCommitRegister) {
        if (value == 1 && armed_) {
            active_ = written_;
            ++batches_;
        }
        armed_ = false;
        return true;
    }
    written_[address] = value;
    if (address == kBatchArmRegister) {
        armed_ = value == 1;
    }
    if (address == kVideoControlRegister || address == kIndicatorRegister) {
        active_[address] = value;
    }
    return true;
}

bool RegisterFile::read(unsigned address, std::uint8_t& value) const
{
    if (!exists(address)) {
        return false;
    }
    value = address == kOrientationRegister ? orientation_ : written_[address];
    return true;
}

SensorSettings RegisterFile::settings() const
{
    const auto& r = active_;
    SensorSettings s;
    s.clockDivider = r[0x02] & 0x7F;
    s.frameLines = (r[0x03] << 4) | (r[0x04] & 0x0F);
    s.exposureStartLine = (r[0x05] << 1) | ((r[0x07] >> 1) & 1);
    s.fineDelay = (r[0x06] << 1) | (r[0x07] & 1);
    s.shortExposure = r[0x08];
    s.gainIndex = {r[0x0A] & 0x0F, r[0x09] & 0x0F, r[0x09] >> 4};
    s.digitalGain = {r[0x0B], r[0x0C], r[0x0D]};
    s.gain = r[0x0E] & 0x1F;
    s.lineClocks = kLineClocks[r[0x18] & 0x03];
    s.rateValue = r[0x4A];
    return s;
}

} // namespace korval::camera
