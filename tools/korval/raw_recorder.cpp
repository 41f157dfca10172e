#include "tools/korval/raw_recorder.h"

namespace korval::tools {

void RawRecorder::frameOnBus(std::vector<std::uint8_t>&& frame)
{
    std::lock_guard lock(mutex_);
    last_ = std::move(frame);
}

bool RawRecorder::taken(std::int64_t time, bool developed, std::string& error)
{
    RawFrame frame;
    {
        std::lock_guard lock(mutex_);
        if (!last_) {
            return true;
        }
        frame.bytes = std::move(*last_);
        last_.reset();
    }
    frame.time = time;
    return !developed || (frame.bytes[0] & kUnusableFrame) != 0 || writer_.write(frame, error);
}

} // namespace korval::tools
