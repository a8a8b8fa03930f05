#include "Cli.h"

#include <orva/RunLoop.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <fcntl.h>
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

// A whole token of digits (with an optional sign), decimal or 0x-hexadecimal.
std::optional<int64_t> wholeNumber(const std::string& text)
{
    if (text.empty() || text.size() > 24) return std::nullopt;
    size_t at = 0;
    const bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') at = 1;
    int base = 10;
    if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
        base = 16;
        at += 2;
    }
    if (at >= text.size()) return std::nullopt;
    for (size_t i = at; i < text.size(); ++i)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(text[i]))
                         : std::isdigit(static_cast<unsigned char>(text[i]))))
            return std::nullopt;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(text.c_str() + at, nullptr, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(INT64_MAX)) return std::nullopt;
    const auto value = static_cast<int64_t>(magnitude);
    return negative ? -value : value;
}

} // namespace

std::optional<std::string> Invocation::value(const std::string& name) const
{
    const auto it = mValues.find(name);
    if (it == mValues.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> Invocation::operand(size_t index) const
{
    if (index < mOperands.size()) return mOperands[index];
    return std::nullopt;
}

int Invocation::fail(int status, const char* format, ...) const
{
    std::fprintf(gErr, "orva %s: ", mCommand.name);
    va_list args;
    va_start(args, format);
    std::vfprintf(gErr, format, args);
    va_end(args);
    std::fputc('\n', gErr);
    std::fflush(gErr);
    return status;
}

std::optional<double> Invocation::seconds(const std::string& option, double fallback) const
{
    const auto text = value(option);
    if (!text) return fallback;
    char* end = nullptr;
    const double v = text->empty() ? 0 : std::strtod(text->c_str(), &end);
    if (text->empty() || *end != 0 || !std::isfinite(v) || !(v > 0) || v > 1e7) {
        fail(kExitUsage, "--%s is a positive number of seconds, such as 2.5, not \"%s\"", option.c_str(), text->c_str());
        return std::nullopt;
    }
    return v;
}

std::optional<int64_t> Invocation::integer(const std::string& text, const std::string& what, int64_t min,
                                           int64_t max) const
{
    const auto v = wholeNumber(text);
    if (!v || *v < min || *v > max) {
        fail(kExitUsage, "%s is a whole number from %lld to %lld, not \"%s\"", what.c_str(), static_cast<long long>(min),
             static_cast<long long>(max), text.c_str());
        return std::nullopt;
    }
    return v;
}

std::optional<std::pair<uint32_t, uint32_t>> Invocation::size(const std::string& text, const std::string& what,
                                                              uint32_t limit) const
{
    const size_t x = text.find('x');
    if (x != std::string::npos) {
        const auto w = wholeNumber(text.substr(0, x)), h = wholeNumber(text.substr(x + 1));
        const bool digits = text.find_first_not_of("0123456789x") == std::string::npos;
        if (digits && w && h && *w >= 1 && *h >= 1 && *w <= limit && *h <= limit)
            return std::pair{static_cast<uint32_t>(*w), static_cast<uint32_t>(*h)};
    }
    fail(kExitUsage, "%s is WIDTHxHEIGHT, each 1 to %u, such as 1280x720, not \"%s\"", what.c_str(), limit, text.c_str());
    return std::nullopt;
}

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
