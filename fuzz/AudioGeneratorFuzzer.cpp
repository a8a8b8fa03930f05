// Feeds arbitrary buffers to the PCM and AAC sample generators as a microphone's
// capture would: the input is cut into buffers, each with a timestamp taken from the
// input (so gaps, repeats and steps back all occur). Nothing may read or write outside
// a buffer, and the generators must not allocate without bound.
#include "recording/AACAudioSampleGenerator.h"
#include "recording/PCMAudioSampleGenerator.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace orva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const uint8_t shape = data[0];
    const uint32_t rates[] = {8000, 16000, 44100, 48000};
    const uint32_t rate = rates[shape & 3];
    const uint16_t channels = static_cast<uint16_t>(1 + ((shape >> 2) & 1));
    PCMAudioSampleGenerator pcm(rate, channels, 16);
    AACAudioSampleGenerator aac(48000, channels);
    uint64_t timestamp = 0;
    size_t at = 1;
    while (at + 3 <= size) {
        // Each buffer: a step in time (in ms, may be zero), a length, the bytes.
        const uint8_t step = data[at];
        const uint16_t length = static_cast<uint16_t>(data[at + 1] | (data[at + 2] << 8)) & 0x0FFF;
        at += 3;
        const size_t n = std::min<size_t>(length, size - at);
        std::vector<uint8_t> buffer(data + at, data + at + n); // exact size for the sanitizer
        at += n;
        timestamp = step == 0xFF ? timestamp - std::min<uint64_t>(timestamp, 20000) : timestamp + step * 1000u;
        (void)pcm.CreateSample(buffer.empty() ? nullptr : buffer.data(), static_cast<uint32_t>(buffer.size()), timestamp);
        (void)aac.CreateSample(buffer.empty() ? nullptr : buffer.data(), static_cast<uint32_t>(buffer.size()), timestamp);
    }
    return 0;
}
