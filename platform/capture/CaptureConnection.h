// The link from a session's input to one of its outputs, with one channel object
// per audio channel of the input. Its channel list never changes after it is made,
// so any thread may read it while the session's capture thread updates the levels.
#pragma once

#include "platform/capture/AudioChannel.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace orva {

class CaptureDeviceInput;

class CaptureConnection {
public:
    CaptureConnection(std::shared_ptr<CaptureDeviceInput> input, uint32_t channels);

    const std::vector<std::shared_ptr<AudioChannel>>& audioChannels() const { return mChannels; }
    const std::shared_ptr<CaptureDeviceInput>& input() const { return mInput; }

    // Updates every channel's level from interleaved 16-bit frames (capture thread;
    // allocates nothing). Channels beyond the buffer's keep their level.
    void measure(const int16_t* samples, uint32_t frames, uint32_t channels);
    // Sets every channel to the silence level (the input's device is gone).
    void silence();

private:
    std::shared_ptr<CaptureDeviceInput> mInput;
    std::vector<std::shared_ptr<AudioChannel>> mChannels;
};

} // namespace orva
