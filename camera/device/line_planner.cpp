#include "camera/device/line_planner.h"

#include <algorithm>

namespace korval::camera {

LinePlanner::LinePlanner(double capacityBytes, double drainPerLine)
    : capacity_(capacityBytes), drainPerLine_(drainPerLine)
{
}

void LinePlanner::addOverhead(std::size_t bytes)
{
    level_ += static_cast<double>(bytes);
}

LineKind LinePlanner::choose(const std::uint8_t* line, std::size_t width)
{
    level_ = std::max(0.0, level_ - drainPerLine_);
    for (LineKind kind : {LineKind::Raw, LineKind::Step5, LineKind::Step9, LineKind::Step17}) {
        const std::size_t bytes = codedLineSize(line, width, kind);
        if (fits(bytes)) {
            level_ += static_cast<double>(bytes);
            return kind;
        }
    }
    level_ += 2.0;
    return LineKind::Dropped;
}

void LinePlanner::drainLines(int lines)
{
    level_ = std::max(0.0, level_ - drainPerLine_ * lines);
}

} // namespace korval::camera
