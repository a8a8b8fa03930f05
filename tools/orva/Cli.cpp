#include <cstdio>
#include "Cli.h"

#include <orva/RunLoop.h>

#include <algorithm>
#include <chrono>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace cli {

std::optional<std::string> Args::option(const std::string& name)
{
    for (size_t i = 0; i < mArgs.size(); ++i) {
        if (mArgs[i] != "--" + name) continue;
        if (i + 1 >= mArgs.size()) {
            error = "option --" + name + " needs a value";
            mArgs.erase(mArgs.begin() + static_cast<std::ptrdiff_t>(i));
            return std::nullopt;
        }
        std::string value = mArgs[i + 1];
        mArgs.erase(mArgs.begin() + static_cast<std::ptrdiff_t>(i), mArgs.begin() + static_cast<std::ptrdiff_t>(i + 2));
        return value;
    }
    return std::nullopt;
}

bool Args::flag(const std::string& name, const char* shortName)
{
    for (size_t i = 0; i < mArgs.size(); ++i)
        if (mArgs[i] == "--" + name || (shortName && mArgs[i] == std::string("-") + shortName)) {
            mArgs.erase(mArgs.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    return false;
}

std::vector<std::string> Args::positional() const
{
    std::vector<std::string> out;
    for (auto& a : mArgs)
        if (a.rfind("--", 0) != 0) out.push_back(a);
    return out;
}

std::optional<std::string> Args::leftoverOption() const
{
    for (auto& a : mArgs)
        if (a.rfind("--", 0) == 0) return a;
    return std::nullopt;
}

std::optional<double> parseSeconds(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != 0 || !(v > 0) || v > 1e7) return std::nullopt;
    return v;
}

bool readSeconds(const std::string& command, const std::string& option, const std::optional<std::string>& text,
                 double& seconds)
{
    if (!text) return true;
    const auto value = parseSeconds(*text);
    if (!value) {
        std::fprintf(stderr, "orva %s: --%s wants a positive number, not \"%s\"\n", command.c_str(), option.c_str(),
                     text->c_str());
        return false;
    }
    seconds = *value;
    return true;
}

void runFor(double seconds, double interval, const std::function<void(double elapsed)>& tick,
            const std::function<bool()>& stop)
{
    installInterruptHandler();
    auto& loop = orva::RunLoop::current();
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    auto timer = loop.scheduledTimer(interval, true, [&](orva::Timer&) {
        const double now = std::min(elapsed(), seconds);
        if (tick) tick(now);
        if (now >= seconds || interrupted() || (stop && stop())) loop.stop();
    });
    loop.run();
    timer->invalidate();
}

namespace {
std::atomic<bool> gInterrupted{false};
void onSignal(int)
{
    gInterrupted.store(true);
}
} // namespace

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

} // namespace cli
