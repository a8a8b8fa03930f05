#include "platform/foundation/ConsoleLog.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace orva {

namespace {

std::mutex& sinkMutex()
{
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<OrvaLogSink>& currentSink()
{
    static auto* s = new std::shared_ptr<OrvaLogSink>;
    return *s;
}
std::shared_ptr<OrvaLogSink> sink()
{
    std::lock_guard lock(sinkMutex());
    return currentSink();
}

} // namespace

void OrvaSetLogSink(OrvaLogSink newSink)
{
    auto next = newSink ? std::make_shared<OrvaLogSink>(std::move(newSink)) : nullptr;
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(next);
}

void ConsoleLog::print(OrvaLogLevel level, Stream stream, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    const std::string text(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
    // The sink gets the line without the line ends around it; a stream, the text as it is.
    const size_t first = text.find_first_not_of('\n'), last = text.find_last_not_of('\n');
    if (toSink(level, first == std::string::npos ? std::string() : text.substr(first, last - first + 1))) return;
    FILE* out = stream == Stream::StandardOutput ? stdout : stderr;
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

bool ConsoleLog::toSink(OrvaLogLevel level, const std::string& line)
{
    const auto s = sink();
    if (!s) return false;
    (*s)(level, line);
    return true;
}

} // namespace orva
