// The controller's byte registers 0x00-0x1B and 0x40-0x4B. Writes land in the
// written image at once; the sensor works from the active image, which takes
// the written one as a batch when 1 is written to 0x13 and then to 0x1C.
// Registers 0x40 and 0x41 (video enable, indicator) act at once.
#pragma once

#include <array>
#include <cstdint>

namespace korval::camera {

constexpr std::uint8_t kBatchArmRegister = 0x13;
constexpr std::uint8_t kBatchCommitRegister = 0x1C;
constexpr std::uint8_t kVideoControlRegister = 0x40;
constexpr std::uint8_t kIndicatorRegister = 0x41;
constexpr std::uint8_t kOrientationRegister = 0x00;

// The timing and gain values that the sensor reads from the active image.
struct SensorSettings {
    int clockDivider = 3;
    int lineClocks = 444;
    int frameLines = 301;
    int exposureStartLine = 1;
    int fineDelay = 223;
    int shortExposure = 45;
    int gain = 10;                                   // analogue gain 1 + gain / 10
    std::array<int, 3> gainIndex = {0, 0, 0};        // R, G, B: factor 1 + index / 8
    std::array<int, 3> digitalGain = {100, 100, 100}; // R, G, B: 128 = 1.0
    int rateValue = 54;
};

class RegisterFile {
public:
    RegisterFile();

    static bool exists(unsigned address);
    // A register that accepts writes: the file plus the commit register 0x1C.
    static bool writable(unsigned address);

    // Returns false (the device stalls) for an address that does not exist.
    bool write(unsigned address, std::uint8_t value);
    bool read(unsigned address, std::uint8_t& value) const;

    std::uint8_t written(unsigned address) const { return written_[address & 0x7F]; }
    std::uint8_t active(unsigned address) const { return active_[address & 0x7F]; }

    bool videoEnabled() const { return (written_[kVideoControlRegister] & 0x01) != 0; }
    bool indicatorOn() const { return (written_[kIndicatorRegister] & 0x02) != 0; }
    std::uint32_t batchesTaken() const { return batches_; }
    void setOrientation(std::uint8_t value) { orientation_ = value; }

    SensorSettings settings() const;

private:
    std::array<std::uint8_t, 0x80> written_{};
    std::array<std::uint8_t, 0x80> active_{};
    std::uint8_t orientation_ = 0x00;
    bool armed_ = false;
    std::uint32_t batches_ = 0;
};

} // namespace korval::camera
