#include "recording/VideoSampleGenerator.h"

#include <algorithm>
#include <cmath>

namespace orva {

namespace {

// Common frame rates whose period is a whole number of 1/90000 s.
constexpr int64_t kCommonPeriods[] = {750,  900,  1500,  1800,  1875,  3000,  3003,  3600,  3750, 4500,
                                      6000, 7500, 9000, 12000, 15000, 18000, 30000, 45000, 90000};
constexpr int kSwitchAfter = 5;        // frames that must agree before the period changes
constexpr uint64_t kLongestInterval = 500000; // a longer interval is a pause, not the rate

int64_t ticks(uint64_t microseconds)
{
    return static_cast<int64_t>((microseconds * VideoSampleGenerator::kTimescale + 500000) / 1000000);
}

// The nearest common period within 5 %; 0 when none is that near.
int64_t common(double periodTicks)
{
    int64_t best = 0;
    double bestError = 0.05;
    for (int64_t p : kCommonPeriods) {
        const double error = std::fabs(periodTicks - static_cast<double>(p)) / static_cast<double>(p);
        if (error < bestError) {
            best = p;
            bestError = error;
        }
    }
    return best;
}

int64_t snap(double periodTicks)
{
    const int64_t near = common(periodTicks);
    return near ? near : std::max<int64_t>(1, std::llround(periodTicks));
}

} // namespace

VideoSampleGenerator::VideoSampleGenerator(int32_t width, int32_t height, int32_t frameRate)
    : mWidth(width), mHeight(height), mFrameRate(frameRate),
      mPeriod(snap(static_cast<double>(kTimescale) / (frameRate > 0 ? frameRate : 30)))
{
}

bool VideoSampleGenerator::measure(uint64_t delta)
{
    if (delta == 0 || delta > kLongestInterval) return false;
    mDeltas[mDeltaCount % mDeltas.size()] = delta;
    ++mDeltaCount;
    const size_t n = std::min(mDeltaCount, mDeltas.size());
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += mDeltas[i];
    const double average = static_cast<double>(sum) / static_cast<double>(n) * kTimescale / 1e6;
    // Within 1 % of the period in use is the same rate while the window fills (30 and
    // 29.97 fps cannot be told apart over a few frames).
    // Over a full window the nearest common rate decides (29.97 against 30 fps).
    const bool same = n < mDeltas.size() &&
                      std::fabs(average - static_cast<double>(mPeriod)) < 0.01 * static_cast<double>(mPeriod);
    const int64_t measured = same ? mPeriod : snap(average);
    if (measured == mPeriod) {
        mCandidateRuns = 0;
        if (n >= 2) mConfirmed = true;
        return false;
    }
    // An uncommon rate needs a full window of intervals (a late frame among the first
    // few looks like one); a common rate is taken at once among the first frames, and
    // later only when it holds for a few frames, so that one late frame does not
    // change the clock.
    if (!common(average) && n < mDeltas.size()) return false;
    if (mFrames < 3) {
        // Among the first frames, two intervals that each agree with the rate (a
        // single late frame, or jitter that alternates, does not).
        if (n < 2) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::fabs(static_cast<double>(ticks(mDeltas[i]) - measured)) > 0.2 * static_cast<double>(measured))
                return false;
        mPeriod = measured;
        mConfirmed = true;
        return true;
    }
    mCandidateRuns = measured == mCandidate ? mCandidateRuns + 1 : 1;
    mCandidate = measured;
    if (mCandidateRuns >= kSwitchAfter) {
        mPeriod = measured;
        mCandidateRuns = 0;
        return true;
    }
    return false;
}

std::shared_ptr<SampleBuffer> VideoSampleGenerator::CreateSample(const uint8_t* data, uint32_t length,
                                                                 uint64_t timestamp)
{
    if (mLastTimestamp > timestamp) return nullptr; // older than the previous frame
    // A new rate starts a new row of slots at this frame's capture time.
    const bool switched = mNextSlot >= 0 && measure(timestamp - mLastTimestamp);
    mLastTimestamp = timestamp;
    int64_t pts = 0;
    if (mNextSlot >= 0) {
        const int64_t captured = ticks(timestamp);
        const int64_t expected = mLastPts + mPeriod;
        const int64_t resync = ticks(kResyncThreshold);
        // Until the rate is confirmed, a frame more than half a period late is taken as
        // the camera's own, slower rate showing (a 15 fps camera described as 30).
        const int64_t lateEnough = mConfirmed ? resync : std::min(resync, mPeriod / 2);
        if (switched || captured - expected >= lateEnough) {
            pts = std::max(captured, mLastPts + mPeriod / 2); // a pause, or a new rate: its capture time
        } else if (expected - captured >= resync) {
            // The slots ran ahead of the camera (a camera a little faster than its
            // rate). A picture that stands alone is dropped, which brings the slots
            // back; an H.264 frame others depend on is kept, half a period on.
            if (mDropsEarlyFrames) return nullptr;
            pts = std::max(captured, mLastPts + mPeriod / 2);
        } else {
            pts = expected;
        }
    }
    SampleTimingInfo timing;
    timing.decodeTimeStamp = MediaTime::invalid();
    timing.presentationTimeStamp = MediaTime::make(pts, kTimescale);
    timing.duration = MediaTime::make(mPeriod, kTimescale);
    auto sample = CreateVideoSampleBuffer(data, length, timing);
    if (sample) {
        mNextSlot = pts + mPeriod;
        mLastPts = pts;
        ++mFrames;
    }
    return sample;
}

} // namespace orva
