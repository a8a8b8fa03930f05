#include "platform/foundation/SystemLog.h"

#include "platform/foundation/ConsoleLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <sys/syscall.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

namespace orva {

namespace {
struct LogState {
    std::mutex mutex;
    std::map<uint64_t, SystemLog::Hook> hooks;
    uint64_t nextID = 1;
    bool echo = true;
    bool opened = false;
};
LogState& state()
{
    static auto* s = new LogState();
    return *s;
}
} // namespace

void SystemLog::log(const char* format, ...)
{
    char stackBuffer[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
    va_end(args);
    std::string line;
    if (n >= static_cast<int>(sizeof stackBuffer)) {
        line.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), format, copy);
        line.resize(static_cast<size_t>(n));
    } else if (n > 0) {
        line.assign(stackBuffer, static_cast<size_t>(n));
    }
    va_end(copy);
    write(line);
}

void SystemLog::write(const std::string& line)
{
    auto& s = state();
    std::map<uint64_t, Hook> hooks;
    bool echo;
    {
        std::lock_guard lock(s.mutex);
        if (!s.opened) {
            openlog(program_invocation_short_name, LOG_PID, LOG_USER);
            s.opened = true;
        }
        hooks = s.hooks;
        echo = s.echo;
    }
    syslog(LOG_NOTICE, "%s", line.c_str());
    if (!ConsoleLog::toSink(OrvaLogLevel::Info, line) && echo) {
        timeval tv{};
        gettimeofday(&tv, nullptr);
        tm local{};
        localtime_r(&tv.tv_sec, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::fprintf(stderr, "%s.%03ld %s[%d:%ld] %s\n", stamp, static_cast<long>(tv.tv_usec / 1000),
                     program_invocation_short_name, static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)),
                     line.c_str());
    }
    for (auto& [id, hook] : hooks) hook(line);
}

uint64_t SystemLog::addHook(Hook hook)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    const uint64_t id = s.nextID++;
    s.hooks[id] = std::move(hook);
    return id;
}

void SystemLog::removeHook(uint64_t id)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.hooks.erase(id);
}

void SystemLog::setEchoToStandardError(bool echo)
{
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.echo = echo;
}

} // namespace orva
