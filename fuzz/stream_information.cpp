// The stream information request with any buffer size and any "A_64" format
// selection: the driver writes its descriptor only into a buffer that holds
// it, and never past the size it was given.
//
// Input: 4 bytes the "A_64" value, 2 bytes the buffer size (modulo 256).
#include "fuzz/fuzz_device.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6) {
        return 0;
    }
    auto& fuzz = korval::fuzz::fuzzDevice();
    const std::uint32_t selection = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    fuzz.platform.registry().setValue(korval::fuzz::kParameters, "A_64", korval::host::RegistryValue::dword(selection));
    const ULONG bufferSize = (data[4] | data[5] << 8) % 256;
    // Exact size, so that a write past it is a sanitizer error.
    auto buffer = std::make_unique<std::uint8_t[]>(bufferSize);
    const auto result = fuzz.device->sendAdapterSrb(SRB_GET_STREAM_INFO, [&](HW_STREAM_REQUEST_BLOCK& srb) {
        srb.CommandData.StreamBuffer = reinterpret_cast<PHW_STREAM_DESCRIPTOR>(buffer.get());
        srb.NumberOfBytesToTransfer = bufferSize;
    });
    (void)result;
    return 0;
}
