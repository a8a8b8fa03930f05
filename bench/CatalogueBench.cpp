// Reading a resolution catalogue and answering for every product in it, as
// `orva catalogue` lists one, at 7k, 14k and 28k cameras of three resolutions each
// (the last near the 16 MB a catalogue may have). Each camera has a PID of its own. In the same run and over the same bytes: a memchr-based scan that finds
// every element's start (the anchor: what touching the bytes costs). The cost per
// camera stays flat as the catalogue grows when the reading is linear.
#include "catalogue/CatalogueProducts.h"

#include <orva/SMResolutionInfo.h>
#include <orva/SMXMLReader.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string catalogueOf(size_t cameras)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Resolutions>\n";
    static const char* const kSizes[][2] = {{"1920", "1080"}, {"1280", "720"}, {"640", "480"}};
    for (size_t i = 0; i < cameras; ++i) {
        char head[96];
        std::snprintf(head, sizeof head, "  <Camera PID=\"%zX\" Name=\"Camera %zu\">\n", (i % 0xFFFF) + 1, i);
        xml += head;
        for (const auto& size : kSizes) {
            xml += "    <Resolution><SelectedWidth>";
            xml += size[0];
            xml += "</SelectedWidth><SelectedHeight>";
            xml += size[1];
            xml += "</SelectedHeight><FrameRate FMT=\"H264\">30</FrameRate><VideoSupported>YES</VideoSupported>"
                   "</Resolution>\n";
        }
        xml += "  </Camera>\n";
    }
    return xml + "</Resolutions>\n";
}

size_t memchrElements(const std::string& bytes)
{
    size_t count = 0;
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p))))) {
        count += p + 1 < end && p[1] != '/';
        ++p;
    }
    return count;
}

void BM_CatalogueEveryProduct_vs_MemchrScan(benchmark::State& state)
{
    const auto cameras = static_cast<size_t>(state.range(0));
    const std::string bytes = catalogueOf(cameras);
    double ours = 0, anchor = 0;
    size_t answered = 0, elements = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        const orva::Value root = orva::SMXMLReader::dictionaryForXMLData(bytes, nullptr);
        answered = 0;
        for (const auto& [product, catalogue] : orva::CatalogueProducts::of(root)) {
            const orva::SMResolutionInfo info(catalogue, product, "bench");
            answered += info.isResolutionPresent("H264", 1280, 720, false);
        }
        const double pass = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ours += pass;
        start = std::chrono::steady_clock::now();
        elements = memchrElements(bytes);
        benchmark::DoNotOptimize(elements);
        anchor += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(pass);
    }
    if (answered != cameras) state.SkipWithError("a camera was not answered");
    const double runs = static_cast<double>(state.iterations());
    state.counters["catalogue_MB"] = static_cast<double>(bytes.size()) / 1e6;
    state.counters["us_per_camera"] = ours / runs / static_cast<double>(cameras) * 1e6;
    state.counters["orva_MBps"] = static_cast<double>(bytes.size()) * runs / ours / 1e6;
    state.counters["memchr_scan_MBps"] = static_cast<double>(bytes.size()) * runs / anchor / 1e6;
    state.counters["orva_vs_memchr_scan"] = anchor / ours;
}

} // namespace

BENCHMARK(BM_CatalogueEveryProduct_vs_MemchrScan)
    ->Arg(7000)->Arg(14000)->Arg(28000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
