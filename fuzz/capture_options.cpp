// Any command line given to 'korval capture': the options parse, or are
// refused with a message naming what is wrong; nothing else happens.
//
// Input: the arguments, separated by NUL bytes.
#include "tools/korval/capture_options.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args;
    if (size > 0) {
        args.emplace_back();
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::string error;
    const auto options = korval::tools::parseCaptureOptions(args, error);
    if (!options && error.empty()) {
        std::abort(); // refused without saying why
    }
    return 0;
}
