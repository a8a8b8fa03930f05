// The benchmarks' main: Google Benchmark's runner with a context line of this
// project's own (the machine the figures come from: processor, cores, last-level
// cache, kernel) in place of the library's banner.
#include "CameraStream.h"
#include "RecordingMemory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

namespace {

std::string processorName()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown processor";
}

class Reporter : public benchmark::ConsoleReporter {
public:
    explicit Reporter(OutputOptions options) : ConsoleReporter(options) {}
    bool ReportContext(const Context&) override
    {
        utsname u{};
        ::uname(&u);
        std::fprintf(stdout, "machine: %s, %u cores, last-level cache %zu MiB, Linux %s\n", processorName().c_str(),
                     std::thread::hardware_concurrency(), orvabench::lastLevelCacheBytes() >> 20, u.release);
        return true;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (const char* side = std::getenv("ORVA_BENCH_MEMORY_CHILD")) return orvabench::runRecordingMemoryChild(side);
    bool console = true, color = ::isatty(STDOUT_FILENO) != 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--benchmark_format=", 0) == 0 && a != "--benchmark_format=console") console = false;
        if (a == "--benchmark_color=false") color = false;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!console) { // JSON or CSV as the library writes them
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    Reporter reporter(static_cast<benchmark::ConsoleReporter::OutputOptions>(
        benchmark::ConsoleReporter::OO_Tabular | (color ? benchmark::ConsoleReporter::OO_Color : 0)));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
