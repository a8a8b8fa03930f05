#include "Cli.h"
#include "Terminal.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>

namespace cli {

namespace {

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
    std::fprintf(err(), "orva %s: ", mCommand.name);
    va_list args;
    va_start(args, format);
    std::vfprintf(err(), format, args);
    va_end(args);
    std::fputc('\n', err());
    std::fflush(err());
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

} // namespace cli
