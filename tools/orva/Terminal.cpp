#include "Terminal.h"

#include <orva/RunLoop.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <unistd.h>

namespace cli {

namespace {

FILE* gOut = stdout;
FILE* gErr = stderr;
std::atomic<bool> gInterrupted{false};

void onSignal(int)
{
    gInterrupted.store(true);
}

} // namespace

FILE* out()
{
    return gOut;
}

FILE* err()
{
    return gErr;
}

void setUpOutput()
{
    // The component's console lines reach the log sink main() sets, not the streams.
    gOut = stdout;
    gErr = stderr;
    std::setvbuf(gErr, nullptr, _IONBF, 0);
}

Progress::Progress(const Invocation& invocation)
{
    if (invocation.flag("quiet"))
        mEnabled = false;
    else
        mEnabled = invocation.flag("progress") || ::isatty(::fileno(gErr));
}

void Progress::show(const char* format, ...)
{
    if (!mEnabled) return;
    std::fputc('\r', gErr);
    va_list args;
    va_start(args, format);
    std::vfprintf(gErr, format, args);
    va_end(args);
    std::fputs("\033[K", gErr);
    std::fflush(gErr);
    mShown = true;
}

void Progress::finish()
{
    if (!mShown) return;
    std::fputc('\n', gErr);
    mShown = false;
}

void installInterruptHandler()
{
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr); // the terminal went away: finish the movie all the same
}

bool interrupted()
{
    return gInterrupted.load();
}

bool runFor(double seconds, double interval, const std::function<void(double elapsed)>& tick,
            const std::function<bool()>& stop)
{
    installInterruptHandler();
    auto& loop = orva::RunLoop::current();
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    double lastTick = 0;
    auto ticker = loop.scheduledTimer(interval, true, [&](orva::Timer&) {
        lastTick = std::min(elapsed(), seconds);
        if (tick) tick(lastTick);
        if (interrupted() || (stop && stop())) loop.stop();
    });
    // The end comes at its moment, not at the next tick.
    auto end = loop.scheduledTimer(seconds, false, [&](orva::Timer&) { loop.stop(); });
    // Interrupts and stop conditions are looked at more often than progress is shown.
    auto watch = loop.scheduledTimer(0.02, true, [&](orva::Timer&) {
        if (interrupted() || (stop && stop())) loop.stop();
    });
    loop.run();
    ticker->invalidate();
    end->invalidate();
    watch->invalidate();
    // The closing tick, unless a tick has just shown the end (a run of 0.3 s at 0.1 s
    // intervals shows three, not four).
    const double finished = std::min(elapsed(), seconds);
    if (tick && finished - lastTick > interval / 2) tick(finished);
    return interrupted();
}

} // namespace cli
