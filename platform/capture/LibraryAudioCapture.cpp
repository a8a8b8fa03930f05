// The microphones through the capture library's own taps (zedederadIvoTap.h): the
// simulated bus's, or the sound server's over the library's connection. The taps are
// an extension a library may lack, so they are referenced weakly: the component
// links and runs against a library that implements only the device ABI, and then
// reaches the sound server itself (PipeWireAudioCapture).
#include "platform/capture/AudioCaptureBackend.h"

#include <zedederadIvoTap.h>

#pragma weak ZITap_MicrophonePath
#pragma weak ZITap_MicrophoneName
#pragma weak ZITap_MicrophoneChannels
#pragma weak ZITap_Open
#pragma weak ZITap_Close

namespace orva {

namespace {

bool libraryHasTaps()
{
    return ZITap_MicrophonePath && ZITap_MicrophoneName && ZITap_MicrophoneChannels && ZITap_Open && ZITap_Close;
}

std::string text(const std::function<int32_t(char*, uint32_t)>& read)
{
    const int32_t length = read(nullptr, 0);
    if (length < 0) return {};
    std::string out(static_cast<size_t>(length) + 1, '\0');
    if (read(out.data(), static_cast<uint32_t>(out.size())) < 0) return {};
    out.resize(static_cast<size_t>(length));
    return out;
}

class LibraryAudioCapture final : public AudioCaptureBackend {
public:
    std::vector<Device> devices() override
    {
        std::vector<Device> out;
        for (uint32_t index = 0;; ++index) {
            if (ZITap_MicrophonePath(index, nullptr, 0) < 0) break;
            const std::string path =
                text([&](char* buffer, uint32_t size) { return ZITap_MicrophonePath(index, buffer, size); });
            Device device;
            device.key = path;
            device.uniqueID = path + "#0";
            device.name = text([&](char* buffer, uint32_t size) { return ZITap_MicrophoneName(path.c_str(), buffer, size); });
            device.channels = channelCount(path);
            out.push_back(std::move(device));
        }
        return out;
    }

    uint32_t channelCount(const std::string& key) override
    {
        const int32_t channels = ZITap_MicrophoneChannels(key.c_str());
        return channels > 0 ? static_cast<uint32_t>(channels) : 0;
    }

    void* openTap(const std::string& key, TapCallback callback, void* context) override
    {
        return callback ? ZITap_Open(key.c_str(), callback, context) : nullptr;
    }

    void closeTap(void* tap) override { ZITap_Close(tap); }
};

} // namespace

AudioCaptureBackend& AudioCaptureBackend::current()
{
    static AudioCaptureBackend& chosen = []() -> AudioCaptureBackend& {
        // Never destroyed: a meter's session stops on a global queue, which may still
        // be closing its tap while the process exits and runs static destructors.
        if (libraryHasTaps()) return *new LibraryAudioCapture();
        return pipeWireAudioCapture();
    }();
    return chosen;
}

} // namespace orva
