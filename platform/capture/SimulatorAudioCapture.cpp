// The simulated device bus's microphones, through its tap. The component does not
// link against the simulator: its functions are looked up by name in the capture
// library already loaded, and this backend is only chosen when they are there.
#include "platform/capture/AudioCaptureBackend.h"

#include <dlfcn.h>

#include <cstdint>

namespace orva {

namespace {

using TapCallback = void (*)(void*, const int16_t*, uint32_t, uint32_t, uint32_t, int64_t);

struct SimulatorFunctions {
    int32_t (*microphonePath)(uint32_t, char*, uint32_t) = nullptr;
    int32_t (*microphoneChannels)(const char*) = nullptr;
    void* (*openTap)(const char*, TapCallback, void*) = nullptr;
    void (*closeTap)(void*) = nullptr;

    SimulatorFunctions()
    {
        microphonePath = reinterpret_cast<decltype(microphonePath)>(dlsym(RTLD_DEFAULT, "ZISim_MicrophonePath"));
        microphoneChannels =
            reinterpret_cast<decltype(microphoneChannels)>(dlsym(RTLD_DEFAULT, "ZISim_MicrophoneChannels"));
        openTap = reinterpret_cast<decltype(openTap)>(dlsym(RTLD_DEFAULT, "ZISim_OpenTap"));
        closeTap = reinterpret_cast<decltype(closeTap)>(dlsym(RTLD_DEFAULT, "ZISim_CloseTap"));
    }
    bool complete() const { return microphonePath && microphoneChannels && openTap && closeTap; }
};

const SimulatorFunctions& simulator()
{
    static const SimulatorFunctions functions;
    return functions;
}

// A tap's callback and context, behind the simulator's own callback shape.
struct Tap {
    void* handle = nullptr;
    AudioCaptureBackend::TapCallback callback = nullptr;
    void* context = nullptr;

    static void received(void* self, const int16_t* samples, uint32_t frames, uint32_t channels, uint32_t, int64_t)
    {
        auto* tap = static_cast<Tap*>(self);
        tap->callback(tap->context, samples, frames, channels);
    }
};

class SimulatorAudioCapture final : public AudioCaptureBackend {
public:
    std::vector<Device> devices() override
    {
        std::vector<Device> out;
        if (!simulator().complete()) return out;
        for (uint32_t index = 0;; ++index) {
            const int32_t length = simulator().microphonePath(index, nullptr, 0);
            if (length < 0) break;
            std::string path(static_cast<size_t>(length) + 1, '\0');
            if (simulator().microphonePath(index, path.data(), static_cast<uint32_t>(path.size())) < 0) break;
            path.resize(static_cast<size_t>(length));
            Device device;
            device.key = path;
            device.uniqueID = "zi-audio-in:" + path + "#0";
            device.name = "Audio input " + path;
            device.channels = channelCount(path);
            out.push_back(std::move(device));
        }
        return out;
    }

    uint32_t channelCount(const std::string& key) override
    {
        if (!simulator().complete()) return 0;
        const int32_t channels = simulator().microphoneChannels(key.c_str());
        return channels > 0 ? static_cast<uint32_t>(channels) : 0;
    }

    void* openTap(const std::string& key, TapCallback callback, void* context) override
    {
        if (!simulator().complete() || !callback) return nullptr;
        auto* tap = new Tap{nullptr, callback, context};
        tap->handle = simulator().openTap(key.c_str(), &Tap::received, tap);
        if (!tap->handle) {
            delete tap;
            return nullptr;
        }
        return tap;
    }

    void closeTap(void* handle) override
    {
        auto* tap = static_cast<Tap*>(handle);
        if (!tap) return;
        simulator().closeTap(tap->handle);
        delete tap;
    }
};

} // namespace

AudioCaptureBackend& simulatorAudioCapture()
{
    // Never destroyed: a meter's session stops on a global queue, which may still be
    // closing its tap while the process exits and runs static destructors.
    static auto* backend = new SimulatorAudioCapture();
    return *backend;
}

AudioCaptureBackend& AudioCaptureBackend::current()
{
    // The capture library says which implementation backs its audio half; a library
    // that does not say is a system one.
    static AudioCaptureBackend& chosen = [&]() -> AudioCaptureBackend& {
        auto active = reinterpret_cast<uint32_t (*)(uint32_t)>(dlsym(RTLD_DEFAULT, "ZI_Active_Backend"));
        constexpr uint32_t kAudioHalf = 2, kSimulator = 1;
        if (active && active(kAudioHalf) == kSimulator && simulator().complete()) return simulatorAudioCapture();
        return pipeWireAudioCapture();
    }();
    return chosen;
}

} // namespace orva
