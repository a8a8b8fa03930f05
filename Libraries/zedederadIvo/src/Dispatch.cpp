// The exported ABI: each call goes to the implementation chosen for its half.
#include "Backend.h"
#include "zedederadIvoBackend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zi {

namespace {

std::mutex gMutex; // guards the choice
std::atomic<const Backend*> gVideo{nullptr};
std::atomic<const Backend*> gAudio{nullptr};

const Backend* fromEnvironment()
{
#ifdef ZI_SYSTEM_ONLY
    return &kSystemBackend;
#else
    const char* simulate = std::getenv("ORVA_SIMULATE");
    const bool wanted = simulate && *simulate && std::strcmp(simulate, "0") != 0;
    return wanted ? &kSimulatorBackend : &kSystemBackend;
#endif
}

const Backend& chosen(std::atomic<const Backend*>& slot)
{
    if (const Backend* backend = slot.load(std::memory_order_acquire)) return *backend;
    std::lock_guard lock(gMutex);
    const Backend* backend = slot.load(std::memory_order_relaxed);
    if (!backend) {
        backend = fromEnvironment();
        slot.store(backend, std::memory_order_release);
    }
    return *backend;
}

} // namespace

const Backend& VideoBackend()
{
    return chosen(gVideo);
}

const Backend& AudioBackend()
{
    return chosen(gAudio);
}

} // namespace zi

extern "C" {

#define ZI_FORWARD(result, name, parameters, arguments, half)                                                      \
    ZI_EXPORT result name parameters { return zi::half##Backend().name arguments; }
ZI_ABI_LIFECYCLE(ZI_FORWARD)
ZI_ABI_FUNCTIONS(ZI_FORWARD)
#undef ZI_FORWARD

ZI_EXPORT int32_t VCI_Close_Device(void* handle)
{
    const zi::Backend& video = zi::VideoBackend();
    const zi::Backend& audio = zi::AudioBackend();
    if (&audio != &video && audio.ownsHandle(handle)) return audio.VCI_Close_Device(handle);
    return video.VCI_Close_Device(handle);
}

#ifndef ZI_SYSTEM_ONLY
ZI_EXPORT int32_t ZI_Select_Backend(uint32_t halves, uint32_t backend)
{
    if ((halves & ZI_HALF_BOTH) == 0 || (halves & ~uint32_t{ZI_HALF_BOTH}) != 0) return ZI_ERR_INVALID_ARG;
    const zi::Backend* table = backend == ZI_BACKEND_SYSTEM      ? &zi::kSystemBackend
                               : backend == ZI_BACKEND_SIMULATOR ? &zi::kSimulatorBackend
                                                                 : nullptr;
    if (!table) return ZI_ERR_INVALID_ARG;
    std::lock_guard lock(zi::gMutex);
    const zi::Backend* video = zi::gVideo.load();
    const zi::Backend* audio = zi::gAudio.load();
    if (((halves & ZI_HALF_VIDEO) && video && video != table && video->initialised(true)) ||
        ((halves & ZI_HALF_AUDIO) && audio && audio != table && audio->initialised(false)))
        return ZI_ERR_BUSY;
    if (halves & ZI_HALF_VIDEO) zi::gVideo.store(table, std::memory_order_release);
    if (halves & ZI_HALF_AUDIO) zi::gAudio.store(table, std::memory_order_release);
    return ZI_OK;
}

ZI_EXPORT uint32_t ZI_Active_Backend(uint32_t half)
{
    const zi::Backend& backend = half == ZI_HALF_AUDIO ? zi::AudioBackend() : zi::VideoBackend();
    return &backend == &zi::kSimulatorBackend ? ZI_BACKEND_SIMULATOR : ZI_BACKEND_SYSTEM;
}
#endif

} // extern "C"
