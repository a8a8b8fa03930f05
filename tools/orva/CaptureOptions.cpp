#include "CaptureOptions.h"

#include "OutputFile.h"
#include "Terminal.h"
#include "UnplugWatch.h"

namespace cli {

std::optional<CaptureOptions> CaptureOptions::read(Invocation& invocation, int& status)
{
    CaptureOptions options;
    status = kExitUsage;
    const auto seconds = invocation.seconds("seconds", 5);
    if (!seconds || !UnplugWatch::validOption(invocation)) return std::nullopt;
    options.seconds = *seconds;
    options.outPath = invocation.value("out");
    status = kExitOk;
    if (options.outPath && !(options.destination = OutputFile::check(invocation, *options.outPath, status)))
        return std::nullopt;
    if (options.destination) OutputFile::tellAboutLeftovers(*options.destination);
    options.piped = options.destination && OutputFile::isStandardOutput(*options.destination);
    return options;
}

FILE* CaptureOptions::results() const
{
    return piped ? err() : out();
}

std::string CaptureOptions::into() const
{
    return destination ? " into " + where() : "";
}

std::string CaptureOptions::where() const
{
    return piped ? "standard output" : destination ? *outPath : "";
}

} // namespace cli
