// One audio channel of a capture connection and its level. The session's capture
// thread writes the level; any thread may read it without blocking.
#pragma once

#include <atomic>

namespace orva {

class AudioChannel {
public:
    // The channel's average power over the last buffer, in dB full scale (0 is a
    // full-scale square wave, a full-scale sine is about -3); silence reads
    // kSilenceLevel. Before the first buffer it reads kSilenceLevel too.
    float averagePowerLevel() const { return mAveragePower.load(std::memory_order_relaxed); }

    static constexpr float kSilenceLevel = -120.0f;

    // Set by the session from the captured signal.
    void setAveragePowerLevel(float level) { mAveragePower.store(level, std::memory_order_relaxed); }

private:
    std::atomic<float> mAveragePower{kSilenceLevel};
};

} // namespace orva
