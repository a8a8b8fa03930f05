// Uncompressed 4:2:2 ('2vuy') samples: each frame is copied into a fresh picture of
// the generator's size, as rows of width × 2 bytes. The pictures come from a pool of
// the generator's own, so their memory is used again once the writer is done with them.
#pragma once

#include "recording/VideoSampleGenerator.h"

#include <memory>

namespace orva {

class PixelBufferPool;

class UncompressedSampleGenerator : public VideoSampleGenerator {
public:
    UncompressedSampleGenerator(int32_t width, int32_t height, int32_t frameRate, uint32_t frameInterval = 0);

protected:
    std::shared_ptr<SampleBuffer> CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                          const SampleTimingInfo& timing) override;

private:
    std::shared_ptr<PixelBufferPool> mPictures;
};

} // namespace orva
