// Each microphone channel's peak level (dB full scale), held for 1.5 s and then let
// fall to the level: the mark a level bar shows beside the level. Main thread.
#pragma once

#include <algorithm>
#include <vector>

namespace cli {

class PeakHold {
public:
    static constexpr double kFloor = -60, kHoldSeconds = 1.5;

    // The levels of one meter tick, at `now` seconds.
    void update(const std::vector<float>& levels, double now)
    {
        mPeaks.resize(levels.size(), kFloor);
        mPeakTimes.resize(levels.size(), now);
        for (size_t i = 0; i < levels.size(); ++i)
            if (levels[i] >= mPeaks[i] || now - mPeakTimes[i] > kHoldSeconds) {
                mPeaks[i] = std::max<double>(levels[i], kFloor);
                mPeakTimes[i] = now;
            }
    }
    const std::vector<double>& peaks() const { return mPeaks; }

private:
    std::vector<double> mPeaks, mPeakTimes;
};

} // namespace cli
