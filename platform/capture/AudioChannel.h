// One audio channel of a capture connection and its level. The session's capture
// thread writes the level; any thread may read it without blocking.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

namespace orva {

class AudioChannel {
public:
    // The channel's average power over the last buffer, in dB full scale (0 is a
    // full-scale square wave, a full-scale sine is about -3); silence reads
    // kSilenceLevel. Before the first buffer, and when no buffer came for
    // kStallMicroseconds (the source stalled), it reads kSilenceLevel too: a meter
    // never freezes on an old level.
    float averagePowerLevel() const { return stalled() ? kSilenceLevel : mAveragePower.load(std::memory_order_relaxed); }
    // Whether buffers came and then stopped coming for kStallMicroseconds.
    bool stalled() const
    {
        const int64_t last = mUpdated.load(std::memory_order_relaxed);
        return last != 0 && now() - last > kStallMicroseconds;
    }

    static constexpr float kSilenceLevel = -120.0f;
    static constexpr int64_t kStallMicroseconds = 300000;

    // Set by the session from the captured signal.
    void setAveragePowerLevel(float level)
    {
        mAveragePower.store(level, std::memory_order_relaxed);
        mUpdated.store(now(), std::memory_order_relaxed);
    }

private:
    static int64_t now()
    {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
    }
    std::atomic<float> mAveragePower{kSilenceLevel};
    std::atomic<int64_t> mUpdated{0}; // monotonic microseconds of the last buffer; 0 before the first
};

} // namespace orva
