// H.264 samples from box-format frames: the format description (with its avcC) is
// made from the first frames that carry both parameter sets; each sample then holds
// only the frame's picture units (types 0 to 5), marked as a key frame when one is
// an IDR slice.
#pragma once

#include "platform/media/BlockBufferPool.h"

#include "recording/CH264HeaderInfo.h"
#include "recording/VideoSampleGenerator.h"

namespace orva {

class H264SampleGenerator : public VideoSampleGenerator {
public:
    H264SampleGenerator(int32_t width, int32_t height, int32_t frameRate, uint32_t frameInterval = 0)
        : VideoSampleGenerator(width, height, frameRate, frameInterval)
    {
    }

protected:
    std::shared_ptr<SampleBuffer> CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                          const SampleTimingInfo& timing) override;

private:
    void CreateVideoFormat();
    CH264HeaderInfo mHeaderInfo;
    std::shared_ptr<BlockBufferPool> mBlocks = BlockBufferPool::create(); // sample memory, used again
};

} // namespace orva
