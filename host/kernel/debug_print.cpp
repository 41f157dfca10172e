#include "host/kernel/debug_print.h"

#include "platform/Pool.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace korval::host {
namespace {

struct DebugLog {
    std::mutex mutex;
    std::vector<std::string> lines;
    bool echo = std::getenv("KORVAL_DBGPRINT") != nullptr;
};

DebugLog& log()
{
    static DebugLog* instance = new DebugLog;
    return *instance;
}

} // namespace

std::vector<std::string> debugLines()
{
    std::lock_guard lock(log().mutex);
    return log().lines;
}

std::string debugText()
{
    std::string text;
    for (const auto& line : debugLines()) {
        text += line;
    }
    return text;
}

void clearDebugLines()
{
    std::lock_guard lock(log().mutex);
    log().lines.clear();
}

void setDebugEcho(bool echo)
{
    std::lock_guard lock(log().mutex);
    log().echo = echo;
}

void appendDebugLine(std::string text)
{
    std::lock_guard lock(log().mutex);
    if (log().echo) {
        std::fputs(text.c_str(), stderr);
    }
    log().lines.push_back(std::move(text));
}

} // namespace korval::host

extern "C" ULONG KORVAL_IMAGE_ENTRY DbgPrint(PCSTR Format, ...)
{
    va_list args;
    va_start(args, Format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, Format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, Format, args);
    }
    va_end(args);
    korval::host::appendDebugLine(std::move(text));
    return 0;
}
