// Feeds arbitrary bytes as a camera frame through the start-code conversion, the unit
// search and the H.264 sample generator, as the movie creator does: nothing may read
// or write outside the frame.
#include "recording/CH264HeaderInfo.h"
#include "recording/H264BoxFormat.h"
#include "recording/H264SampleGenerator.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace orva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        (void)std::freopen("/dev/null", "w", stdout); // the conversion's error line
        return true;
    }();
    (void)quiet;
    // An exact-size copy, so the sanitizer sees any access past the end.
    std::vector<uint8_t> frame(data, data + size);
    auto* bytes = frame.empty() ? nullptr : frame.data();
    const auto length = static_cast<uint32_t>(frame.size());
    H264ConvertStreamToBoxFormat(bytes, length);
    uint32_t unitLength = 0;
    const uint8_t* unit = nullptr;
    for (uint8_t type : {1, 5, 7, 8}) (void)FindNALUnit(type, bytes, length, &unitLength, &unit);
    CH264HeaderInfo info;
    info.Collect(bytes, length);
    static H264SampleGenerator generator(64, 64, 30);
    static uint64_t timestamp = 0;
    timestamp += 33333;
    (void)generator.CreateSample(bytes, length, timestamp);
    return 0;
}
