#include "recording/VideoSampleGenerator.h"

namespace orva {

std::shared_ptr<SampleBuffer> VideoSampleGenerator::CreateSample(const uint8_t* data, uint32_t length,
                                                                 uint64_t timestamp)
{
    if (mLastTimestamp > timestamp) return nullptr; // older than the previous frame
    mLastTimestamp = timestamp;
    const uint64_t c = timestamp < mNextSlot + kResyncThreshold ? mNextSlot : timestamp;
    SampleTimingInfo timing;
    timing.decodeTimeStamp = MediaTime::invalid();
    if (mNextSlot == 0) {
        timing.presentationTimeStamp = MediaTime::make(0, 1000000);
        timing.duration = MediaTime::make(static_cast<int64_t>(c + kFrameDuration), 1000000);
    } else {
        timing.presentationTimeStamp = MediaTime::make(static_cast<int64_t>(c), 1000000);
        timing.duration = MediaTime::make(static_cast<int64_t>(kFrameDuration), 1000000);
    }
    auto sample = CreateVideoSampleBuffer(data, length, timing);
    if (sample) mNextSlot = c + kFrameDuration;
    return sample;
}

} // namespace orva
