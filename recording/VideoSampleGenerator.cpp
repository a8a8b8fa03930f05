#include "recording/VideoSampleGenerator.h"

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

// A capture time in 1/90000 s.
int64_t ticks(uint64_t microseconds)
{
    return static_cast<int64_t>((microseconds * VideoSampleGenerator::kTimescale + 500000) / 1000000);
}

} // namespace

int64_t VideoSampleGenerator::centred(int64_t phase) const
{
    return phase > mPeriod / 2 ? phase - mPeriod : phase;
}

int64_t VideoSampleGenerator::periodOf(uint32_t frameInterval, int32_t frameRate)
{
    // 100 ns units to 1/90000 s: 333333 is 3000, 333667 is 3003, 666667 is 6000.
    if (frameInterval > 0) return std::max<int64_t>(1, std::llround(frameInterval * 9.0 / 1000.0));
    return std::max<int64_t>(1, std::llround(static_cast<double>(kTimescale) / (frameRate > 0 ? frameRate : 30)));
}

VideoSampleGenerator::VideoSampleGenerator(int32_t width, int32_t height, int32_t frameRate, uint32_t frameInterval)
    : mWidth(width), mHeight(height), mFrameRate(frameRate), mPeriod(periodOf(frameInterval, frameRate))
{
}

std::shared_ptr<SampleBuffer> VideoSampleGenerator::CreateSample(const uint8_t* data, uint32_t length,
                                                                 uint64_t timestamp)
{
    if (mAny && mLastTimestamp > timestamp) return nullptr; // older than the previous frame
    mLastTimestamp = timestamp;
    const int64_t captured = ticks(timestamp);
    if (!mAny) mPhase16 = 16 * centred(captured % mPeriod);
    mAny = true;
    const int64_t phase = mPhase16 / 16;
    const int64_t onGrid = captured - phase;
    // The nearest slot, or the first free one after the previous frame's.
    int64_t slot = onGrid >= 0 ? (onGrid + mPeriod / 2) / mPeriod : 0;
    if (mLastSlot >= 0 && slot == mLastSlot + 2 && onGrid - (mLastSlot + 1) * mPeriod <= 3 * mPeriod / 4)
        slot = mLastSlot + 1; // late, not a frame after a missing one
    if (mLastSlot >= 0 && slot <= mLastSlot) {
        slot = mLastSlot + 1;
        if (mDropsEarlyFrames && slot * mPeriod - onGrid > kMostPeriodsAhead * mPeriod) return nullptr;
    } else {
        // The phase follows the camera slowly (an eighth of each frame's offset), so
        // jitter averages out. A camera slower than declared moves it on until it
        // wraps (past three quarters of a period, so jitter near the middle does not
        // make it), and a slot is left out: the frame before lasts two periods.
        mPhase16 += 2 * (onGrid - slot * mPeriod);
        if (mPhase16 > 16 * (3 * mPeriod / 4)) mPhase16 -= 16 * mPeriod;
        mPhase16 = std::max(mPhase16, -16 * (mPeriod / 2));
    }
    SampleTimingInfo timing;
    timing.decodeTimeStamp = MediaTime::invalid();
    // The first frame starts the movie and lasts until the next one's slot.
    timing.presentationTimeStamp = MediaTime::make(mLastSlot < 0 ? 0 : slot * mPeriod, kTimescale);
    timing.duration = MediaTime::make(mPeriod, kTimescale);
    auto sample = CreateVideoSampleBuffer(data, length, timing);
    if (sample) mLastSlot = slot;
    return sample;
}

} // namespace orva
