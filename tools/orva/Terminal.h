// Where the orva command-line host's output goes, its progress line, and how a
// command waits: turning the main thread's run loop until its time is up, a condition
// holds or the user interrupts. Main thread only.
#pragma once

#include "Cli.h"

#include <cstdio>
#include <functional>

namespace cli {

// Where the CLI's own output goes: results, and messages with progress.
FILE* out();
FILE* err();
// Sets both up: results on standard output, messages unbuffered on standard error.
void setUpOutput();

// A progress line on standard error, rewritten in place; shown on a terminal, or
// always with --progress, never with --quiet.
class Progress {
public:
    explicit Progress(const Invocation& invocation);
    ~Progress() { finish(); }
    void show(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends the line (when one was shown).
    void finish();

private:
    bool mEnabled = false;
    bool mShown = false;
};

// Ctrl-C, SIGTERM and SIGHUP set a flag that interrupted() reads.
void installInterruptHandler();
bool interrupted();
// Turns this thread's run loop for `seconds` of wall-clock time (ending at that
// moment, not at a tick), or until interrupted or `stop` answers true; calls `tick`
// with the seconds elapsed every `interval`. Answers whether it was interrupted.
bool runFor(double seconds, double interval, const std::function<void(double elapsed)>& tick,
            const std::function<bool()>& stop = {});

} // namespace cli
