// Linear PCM samples: each buffer follows right after the previous one; a buffer from
// before the previous one is dropped; a gap of whole buffers in the capture times is
// filled with silence in the same sample, so the track keeps to the capture clock.
#pragma once

#include "platform/media/BlockBufferPool.h"

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "recording/ISampleGenerator.h"

namespace orva {

class PCMAudioSampleGenerator : public ISampleGenerator {
public:
    PCMAudioSampleGenerator(uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample);
    std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) override;
    uint64_t silentPackets() const override { return mSilentPackets; }
    const std::shared_ptr<const AudioFormatDescription>& formatDescription() const { return mFormatDescription; }

private:
    std::shared_ptr<const AudioFormatDescription> mFormatDescription;
    uint64_t mNextTime = 0;
    uint64_t mSilentPackets = 0;
    uint64_t mLastTimestamp = 0;
    const AudioStreamBasicDescription* mStreamDescription = nullptr;
    std::shared_ptr<BlockBufferPool> mBlocks = BlockBufferPool::create(); // sample memory, used again
};

} // namespace orva
