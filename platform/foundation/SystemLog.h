// The system log: each line goes to syslog(3) and, like the platform's logger, to
// standard error with a time stamp and the process name (or, instead, to the host's
// log sink when it set one: include/orva/OrvaLog.h). Callable from any thread;
// a line is written whole. Tests and hosts can capture lines through a hook, which
// runs on the logging thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orva {

class SystemLog {
public:
    using Hook = std::function<void(const std::string& line)>;

    static void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void write(const std::string& line);

    [[nodiscard]] static uint64_t addHook(Hook hook);
    static void removeHook(uint64_t id);
    // Standard error echo (default on); syslog always receives the line.
    static void setEchoToStandardError(bool echo);
};

} // namespace orva
