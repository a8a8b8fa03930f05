// Where the platform's audio capture gets its microphones and their sound: the
// desktop's sound server (PipeWire) on a real system, or the simulated device bus's
// own tap when the simulator stands behind the capture library's audio half. The
// choice is made once per process, from the capture library's own answer (asked by
// name at run time, so that the component needs no symbol beyond the device ABI).
//
// Threads: every member is thread-safe. A tap's callback runs on a thread of the
// backend's; closeTap returns once no callback of the tap runs (do not call it from
// inside the callback).
#pragma once

#include <cstdint>
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

// The two backends (for tests that want a particular one).
AudioCaptureBackend& simulatorAudioCapture();
AudioCaptureBackend& pipeWireAudioCapture();

} // namespace orva
