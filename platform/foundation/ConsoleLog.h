// The component's console lines: each through the host's log sink when it set one
// (include/orva/OrvaLog.h), else to the stream it is documented on. Any thread.
#pragma once

#include <orva/OrvaLog.h>

#include <string>

namespace orva {

class ConsoleLog {
public:
    enum class Stream { StandardOutput, StandardError };
    // A line, as printf would print it on the stream (the sink gets it without its
    // line ends).
    static void print(OrvaLogLevel level, Stream stream, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A system-log line: to the sink, when one is set (true); false to echo it.
    static bool toSink(OrvaLogLevel level, const std::string& line);
};

} // namespace orva
