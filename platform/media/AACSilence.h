// A raw AAC packet (low complexity, no ADTS header) of 1024 silent frames, encoded for
// a rate and channel count by FFmpeg's AAC encoder: what fills a gap in an AAC track so
// that it decodes to digital silence. Made once per format and kept; any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace orva {

class AACSilence {
public:
    // Empty when the encoder cannot make one for this format.
    static const std::vector<uint8_t>& packet(uint32_t sampleRate, uint32_t channels);
};

} // namespace orva
