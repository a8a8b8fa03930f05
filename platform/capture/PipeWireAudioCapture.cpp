// The desktop's microphones through the sound server directly, for a capture library
// that offers no taps: the PipeWire layer's sources (one connection per process,
// made on first use; a daemon that is not there gives no devices, never a wait) and
// its taps. A device's unique ID is its source's path, the rule the system capture
// library's records are named by, so the level meter finds a record's device.
#include "platform/capture/AudioCaptureBackend.h"

#include <PipeWireSources.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace orva {

namespace {

using pipewire::PipeWireSources;

class PipeWireAudioCapture final : public AudioCaptureBackend {
public:
    std::vector<Device> devices() override
    {
        std::vector<Device> out;
        for (const auto& source : sources()->all()) {
            Device device;
            device.key = source.nodeName;
            device.uniqueID = source.path() + "#0";
            device.name = source.name.empty() ? source.nodeName : source.name;
            device.channels = std::clamp<uint32_t>(source.channels ? source.channels : 2, 1, 8);
            out.push_back(std::move(device));
        }
        return out;
    }

    uint32_t channelCount(const std::string& key) override
    {
        for (const auto& device : devices())
            if (device.key == key) return device.channels;
        return 0;
    }

    void* openTap(const std::string& key, TapCallback callback, void* context) override
    {
        auto owner = sources();
        void* tap = owner->openTap(key, callback, context);
        return tap ? new Tap{std::move(owner), tap} : nullptr;
    }

    void closeTap(void* handle) override
    {
        std::unique_ptr<Tap> tap(static_cast<Tap*>(handle));
        if (tap) tap->sources->closeTap(tap->tap);
    }

private:
    struct Tap {
        std::shared_ptr<PipeWireSources> sources;
        void* tap = nullptr;
    };

    std::shared_ptr<PipeWireSources> sources()
    {
        std::lock_guard lock(mMutex);
        if (!mSources || !mSources->connection()) mSources = PipeWireSources::connect(nullptr);
        return mSources;
    }

    std::mutex mMutex;
    std::shared_ptr<PipeWireSources> mSources;
};

} // namespace

AudioCaptureBackend& pipeWireAudioCapture()
{
    static auto* backend = new PipeWireAudioCapture(); // its loop thread may outlive static teardown
    return *backend;
}

} // namespace orva
