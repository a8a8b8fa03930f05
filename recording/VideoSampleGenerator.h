// What the video generators share: the picture size and the timing rule. Frames are
// placed one frame period apart, the period being the camera's delivered rate (30
// fps gives 1/30 s, 15 fps 1/15 s), measured from the capture times and taken as the
// nearest common rate: times are exact in the track's 1/90000 s timescale and capture
// jitter does not show. A frame 60 ms or more after its place (a pause) is placed at
// its capture time; one 60 ms or more before it (the slots ran ahead of a camera a
// little faster than its rate) is dropped when it stands alone (2vuy) and placed half
// a period after the previous frame otherwise (H.264). Capture times count from the
// session's start; the first sample starts the movie at 0 and lasts until the next.
// Frames older than the previous one are dropped.
#pragma once

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "recording/ISampleGenerator.h"

#include <array>

namespace orva {

class VideoSampleGenerator : public ISampleGenerator {
public:
    static constexpr int32_t kTimescale = 90000;        // the video track's clock
    static constexpr uint64_t kResyncThreshold = 60000; // microseconds

    std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) final;
    const std::shared_ptr<const VideoFormatDescription>& formatDescription() const { return mFormatDescription; }
    // The frame period in use, in 1/kTimescale s.
    int64_t framePeriod() const { return mPeriod; }

protected:
    VideoSampleGenerator(int32_t width, int32_t height, int32_t frameRate);
    virtual std::shared_ptr<SampleBuffer> CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                                  const SampleTimingInfo& timing) = 0;

    int32_t mWidth;
    int32_t mHeight;
    int32_t mFrameRate; // the period until the camera's own rate is measured
    std::shared_ptr<const VideoFormatDescription> mFormatDescription;
    int64_t mNextSlot = -1; // where the next frame goes, in 1/kTimescale s; -1 before the first
    uint64_t mLastTimestamp = 0;
    bool mDropsEarlyFrames = false; // frames stand alone: one may be dropped to catch up

private:
    // Takes a capture interval into the rate; true when the period changed.
    bool measure(uint64_t delta);

    int64_t mPeriod;
    int64_t mLastPts = 0;
    std::array<uint64_t, 16> mDeltas{}; // recent capture intervals, microseconds
    size_t mDeltaCount = 0;
    size_t mFrames = 0;
    int64_t mCandidate = 0;  // a period measured lately that differs from mPeriod
    int mCandidateRuns = 0;  // frames in a row that measured it
    bool mConfirmed = false; // two intervals have agreed with mPeriod
};

} // namespace orva
