// Turns one captured buffer and its timestamp (microseconds from the recording's
// first sample) into one timed media sample for the movie. A generator belongs to one
// recording and is called under the movie creator's lock.
#pragma once

#include <cstdint>
#include <memory>

namespace orva {

class SampleBuffer;

class ISampleGenerator {
public:
    virtual ~ISampleGenerator() = default;
    // Null when the buffer makes no sample (out of order, not yet decodable, …).
    virtual std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) = 0;
    // Audio: packets of silence put where capture times showed sound missing (each
    // sample carries how long its own silence lasts).
    virtual uint64_t silentPackets() const { return 0; }
};

} // namespace orva
