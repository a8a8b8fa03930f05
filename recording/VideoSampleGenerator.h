// What the video generators share: the picture size and the timing rule.
//
// Frames are placed on a grid of the format's declared frame period, counted in the
// track's 1/90000 s (30 fps is 3000, 29.97 fps 3003, 15 fps 6000), from the movie's
// start and in the camera's phase: the grid follows the average of its capture
// times, never more than three quarters of a period from them. Each frame takes the
// slot nearest its capture time, or the first free slot after the previous frame's
// when that one is taken; a frame late by less than three quarters of a period keeps
// the slot after the previous one. So capture jitter under half a period never
// shows; a missing frame, a pause or a camera running slower than declared (auto
// exposure halving the rate in the dark) makes the frame before last whole periods;
// and no frame is placed closer than one period to the one before. The first frame
// starts the movie at 0 and lasts until the next.
//
// Frames stamped closer than their period (a camera faster than declared) run ahead
// of their capture times: an uncompressed frame that would be placed more than
// kMostPeriodsAhead periods ahead is dropped, which brings the grid back; H.264
// frames, which later frames depend on, are never dropped. Frames older than the
// previous one are dropped.
#pragma once

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "recording/ISampleGenerator.h"

namespace orva {

class VideoSampleGenerator : public ISampleGenerator {
public:
    static constexpr int32_t kTimescale = 90000; // the video track's clock
    static constexpr int64_t kMostPeriodsAhead = 3;

    std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) final;
    const std::shared_ptr<const VideoFormatDescription>& formatDescription() const { return mFormatDescription; }
    // The grid's period, in 1/kTimescale s.
    int64_t framePeriod() const { return mPeriod; }
    // The period of a declared frame interval (100 ns units), or of a frame rate when
    // the interval is 0.
    static int64_t periodOf(uint32_t frameInterval, int32_t frameRate);

protected:
    VideoSampleGenerator(int32_t width, int32_t height, int32_t frameRate, uint32_t frameInterval);
    virtual std::shared_ptr<SampleBuffer> CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                                  const SampleTimingInfo& timing) = 0;

    int32_t mWidth;
    int32_t mHeight;
    int32_t mFrameRate;
    std::shared_ptr<const VideoFormatDescription> mFormatDescription;
    bool mDropsEarlyFrames = false; // frames stand alone: one may be dropped to catch up

private:
    int64_t centred(int64_t phase) const; // within half a period of 0

    const int64_t mPeriod;
    int64_t mLastSlot = -1;   // the slot of the last frame made; -1 before the first
    int64_t mPhase16 = 0;     // the camera's capture times against the grid, in 1/16 ticks
    uint64_t mLastTimestamp = 0;
    bool mAny = false;        // a frame was accepted (its timestamp is mLastTimestamp)
};

} // namespace orva
