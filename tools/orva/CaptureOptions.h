// What capture and capture-audio share on their command lines: how long to capture
// (--seconds), the unplug option, and where the stream goes (--out FILE, or - for
// standard output), checked before a device is touched. Main thread.
#pragma once

#include "Cli.h"

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

struct CaptureOptions {
    double seconds = 5;
    std::optional<std::string> outPath;     // as given
    std::optional<std::string> destination; // where it goes, checked
    bool piped = false;                     // standard output: results then go to standard error

    // Null after saying what is wrong (status is then the exit status).
    static std::optional<CaptureOptions> read(Invocation& invocation, int& status);
    // Where the summary goes: standard output, unless the stream has it.
    FILE* results() const;
    // "into FILE" or "into standard output" for the starting line; empty without --out.
    std::string into() const;
    // The summary's name for where the stream went; empty without --out.
    std::string where() const;
};

} // namespace cli
