// Taps of the microphones for a level meter (zedederadIvoTap.h), over whichever
// implementation backs the audio half: the simulated bus's own taps, or the sound
// server's sources (the audio half's connection while it is initialised, one of the
// taps' own otherwise).
#include "zedederadIvoBackend.h"
#include "zedederadIvoSim.h"
#include "zedederadIvoTap.h"

#include "SystemLibrary.h"

#include <PipeWireSources.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace {

using orva::pipewire::PipeWireSources;
using orva::pipewire::SourceInfo;

bool simulated()
{
    return ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SIMULATOR;
}

int32_t copyOut(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(text.size());
}

std::shared_ptr<PipeWireSources> sources()
{
    if (auto own = zi::sys::SystemLibrary::instance().sources()) return own;
    static std::mutex mutex;
    static std::shared_ptr<PipeWireSources> taps; // kept for the process: its loop may outlive static teardown
    std::lock_guard lock(mutex);
    if (!taps || !taps->connection()) taps = PipeWireSources::connect(nullptr);
    return taps;
}

// Every source of the sound server, listed or not: a meter may watch any microphone.
std::optional<SourceInfo> source(const std::string& path)
{
    for (auto& s : sources()->all())
        if (s.path() == path || s.nodeName == path) return s;
    return std::nullopt;
}

struct Tap {
    ZITAP_CALLBACK callback = nullptr;
    void* context = nullptr;
    void* simulated = nullptr;                // a simulated bus's tap
    std::shared_ptr<PipeWireSources> sources; // or a sound server's
    void* server = nullptr;

    static void fromSimulator(void* self, const int16_t* samples, uint32_t frames, uint32_t channels, uint32_t, int64_t)
    {
        auto* tap = static_cast<Tap*>(self);
        tap->callback(tap->context, samples, frames, channels);
    }
};

} // namespace

extern "C" {

int32_t ZITap_MicrophonePath(uint32_t index, char* buffer, uint32_t size)
{
    if (simulated()) return ZISim_MicrophonePath(index, buffer, size);
    const auto all = sources()->all();
    return index < all.size() ? copyOut(all[index].path(), buffer, size) : -1;
}

int32_t ZITap_MicrophoneName(const char* path, char* buffer, uint32_t size)
{
    if (path == nullptr) return -1;
    if (simulated()) return ZISim_MicrophoneChannels(path) < 0 ? -1 : copyOut(std::string("Audio input ") + path, buffer, size);
    const auto found = source(path);
    return found ? copyOut(found->name.empty() ? found->nodeName : found->name, buffer, size) : -1;
}

int32_t ZITap_MicrophoneChannels(const char* path)
{
    if (path == nullptr) return -1;
    if (simulated()) return ZISim_MicrophoneChannels(path);
    const auto found = source(path);
    return found ? static_cast<int32_t>(std::clamp<uint32_t>(found->channels ? found->channels : 2, 1, 8)) : -1;
}

void* ZITap_Open(const char* path, ZITAP_CALLBACK callback, void* context)
{
    if (path == nullptr || callback == nullptr) return nullptr;
    auto tap = std::make_unique<Tap>();
    tap->callback = callback;
    tap->context = context;
    if (simulated()) {
        tap->simulated = ZISim_OpenTap(path, &Tap::fromSimulator, tap.get());
        return tap->simulated ? tap.release() : nullptr;
    }
    const auto found = source(path);
    if (!found) return nullptr;
    tap->sources = sources();
    tap->server = tap->sources->openTap(found->nodeName, callback, context);
    return tap->server ? tap.release() : nullptr;
}

void ZITap_Close(void* handle)
{
    std::unique_ptr<Tap> tap(static_cast<Tap*>(handle));
    if (!tap) return;
    if (tap->simulated) ZISim_CloseTap(tap->simulated);
    if (tap->server) tap->sources->closeTap(tap->server);
}

} // extern "C"
