// What the video generators share: the picture size and the timing rule. Every frame
// after the first lasts 30 ms; presentation times follow on from the previous frame
// and jump to the capture time when they lag it by 60 ms or more. The first sample
// starts at 0 and covers the movie up to its own slot. Frames older than the previous
// one are dropped.
#pragma once

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "recording/ISampleGenerator.h"

namespace orva {

class VideoSampleGenerator : public ISampleGenerator {
public:
    static constexpr uint64_t kFrameDuration = 30000;   // microseconds
    static constexpr uint64_t kResyncThreshold = 60000; // microseconds

    std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) final;
    const std::shared_ptr<const VideoFormatDescription>& formatDescription() const { return mFormatDescription; }

protected:
    VideoSampleGenerator(int32_t width, int32_t height, int32_t frameRate)
        : mWidth(width), mHeight(height), mFrameRate(frameRate)
    {
    }
    virtual std::shared_ptr<SampleBuffer> CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                                  const SampleTimingInfo& timing) = 0;

    int32_t mWidth;
    int32_t mHeight;
    int32_t mFrameRate; // kept; timing does not depend on it
    std::shared_ptr<const VideoFormatDescription> mFormatDescription;
    uint64_t mNextSlot = 0;
    uint64_t mLastTimestamp = 0;
};

} // namespace orva
