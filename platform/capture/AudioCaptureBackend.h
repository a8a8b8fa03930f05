// Where the platform's audio capture gets its microphones and their sound: the
// capture library's taps (its simulated bus's or its sound server's microphones,
// whichever backs its audio half), or, with a library that offers no taps, the
// desktop's sound server (PipeWire) directly. The choice is made once per process.
//
// Threads: every member is thread-safe. A tap's callback runs on a thread of the
// backend's; closeTap returns once no callback of the tap runs (do not call it from
// inside the callback).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orva {

class AudioCaptureBackend {
public:
    struct Device {
        std::string key;      // what the backend opens the device by
        std::string uniqueID; // stable for the device's life; contains its record's path
        std::string name;
        uint32_t channels = 0;
    };
    // Interleaved 16-bit frames of one buffer (about 10 ms). Called once with no
    // frames (samples null) when the device is lost; nothing comes after that.
    using TapCallback = void (*)(void* context, const int16_t* samples, uint32_t frames, uint32_t channels);

    static AudioCaptureBackend& current();
    virtual ~AudioCaptureBackend() = default;

    virtual std::vector<Device> devices() = 0;
    // 0 when the device is gone.
    virtual uint32_t channelCount(const std::string& key) = 0;
    // Null when the device is gone.
    virtual void* openTap(const std::string& key, TapCallback callback, void* context) = 0;
    virtual void closeTap(void* tap) = 0;
};

// The sound server reached directly: what a library without taps leaves.
AudioCaptureBackend& pipeWireAudioCapture();

} // namespace orva
