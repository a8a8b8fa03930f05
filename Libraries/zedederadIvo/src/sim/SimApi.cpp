// The simulator's control API.
#include "AudioStream.h"
#include "Bus.h"
#include "Stream.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace zi;

namespace {

template <typename Body>
int32_t onDevice(const char* path, uint32_t type, Body body)
{
    if (path == nullptr) return ZI_ERR_INVALID_ARG;
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto d = bus.findDevice(path);
    if (!d) return ZI_ERR_NO_DEVICE;
    if (d->type != type) return ZI_ERR_INVALID_ARG;
    return body(*d);
}

} // namespace

extern "C" {

void ZISim_Reset(void)
{
    Bus::instance().reset();
}

void ZISim_SetBuiltInDevices(int32_t enabled)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    bus.builtInsEnabled = enabled != 0;
}

void ZISim_PlugBuiltInDevices(void)
{
    Bus::instance().plugBuiltIns();
}

int32_t ZISim_Plug(const ZISimDeviceDesc* desc)
{
    if (desc == nullptr) return ZI_ERR_INVALID_ARG;
    return Bus::instance().plug(*desc, false);
}

int32_t ZISim_Unplug(const char* path)
{
    if (path == nullptr) return ZI_ERR_INVALID_ARG;
    return Bus::instance().unplug(path);
}

uint32_t ZISim_DeviceCount(uint32_t type)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    return static_cast<uint32_t>(bus.devicesOfType(type).size());
}

void ZISim_WaitIdle(void)
{
    Bus::instance().waitIdle();
}

int32_t ZISim_AddVideoFormat(const char* path, uint32_t fourcc, uint32_t width, uint32_t height,
                             const uint32_t* intervals, uint32_t intervalCount)
{
    return onDevice(path, ZISIM_CAMERA, [&](Device& d) {
        VideoFormat f;
        f.fourcc = fourcc;
        f.width = width;
        f.height = height;
        if (intervals) f.intervals.assign(intervals, intervals + intervalCount);
        d.videoFormats.push_back(std::move(f));
        return int32_t{ZI_OK};
    });
}

int32_t ZISim_AddPropertySet(const char* path, const uint8_t uuid[16])
{
    if (uuid == nullptr) return ZI_ERR_INVALID_ARG;
    return onDevice(path, ZISIM_CAMERA, [&](Device& d) {
        for (auto& s : d.propertySets)
            if (std::memcmp(s.uuid.data(), uuid, 16) == 0) return int32_t{ZI_OK};
        PropertySetDesc s;
        std::memcpy(s.uuid.data(), uuid, 16);
        d.propertySets.push_back(std::move(s));
        return int32_t{ZI_OK};
    });
}

int32_t ZISim_SetProperty(const char* path, const uint8_t uuid[16], uint32_t propertyID, uint32_t width,
                          const void* cur, const void* def, const void* min, const void* max)
{
    if (uuid == nullptr || width == 0 || width > 4096) return ZI_ERR_INVALID_ARG;
    if (int32_t r = ZISim_AddPropertySet(path, uuid); r != ZI_OK) return r;
    return onDevice(path, ZISIM_CAMERA, [&](Device& d) {
        for (auto& s : d.propertySets) {
            if (std::memcmp(s.uuid.data(), uuid, 16) != 0) continue;
            Property p;
            p.width = width;
            auto fill = [&](std::vector<uint8_t>& v, const void* src) {
                v.assign(width, 0);
                if (src) std::memcpy(v.data(), src, width);
            };
            fill(p.cur, cur);
            fill(p.def, def);
            fill(p.min, min);
            fill(p.max, max);
            if (!s.items.count(propertyID)) s.order.push_back(propertyID);
            s.items[propertyID] = std::move(p);
        }
        return int32_t{ZI_OK};
    });
}

int32_t ZISim_GetPropertyCurrent(const char* path, const uint8_t uuid[16], uint32_t propertyID, void* value,
                                 uint32_t width)
{
    if (uuid == nullptr || value == nullptr) return ZI_ERR_INVALID_ARG;
    return onDevice(path, ZISIM_CAMERA, [&](Device& d) {
        for (auto& s : d.propertySets) {
            if (std::memcmp(s.uuid.data(), uuid, 16) != 0) continue;
            auto it = s.items.find(propertyID);
            if (it == s.items.end()) break;
            std::memcpy(value, it->second.cur.data(), std::min(width, it->second.width));
            return int32_t{ZI_OK};
        }
        return int32_t{ZI_ERR_NO_PROPERTY};
    });
}

int32_t ZISim_AddWaveFormat(const char* path, uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    return onDevice(path, ZISIM_MICROPHONE, [&](Device& d) {
        d.waveFormats.push_back({tag, channels, rate, bits, 0});
        return int32_t{ZI_OK};
    });
}

int32_t ZISim_PushFrame(const char* path, const void* data, uint32_t length, int64_t timestamp)
{
    if (path == nullptr) return 0;
    auto& bus = Bus::instance();
    std::array<void*, 16> handles{}; // no allocation on the way to the subscribers
    size_t count = 0;
    uint32_t event = VCI_EVENT_FRAME;
    {
        std::lock_guard lock(bus.mutex);
        auto d = bus.findDevice(path);
        if (!d) return 0;
        event = d->type == ZISIM_CAMERA ? VCI_EVENT_FRAME : ACI_EVENT_BUFFER;
        count = bus.handlesOf(d, handles.data(), handles.size());
    }
    int32_t called = 0;
    for (size_t i = 0; i < count; ++i) called += bus.dispatch(handles[i], event, data, length, timestamp);
    return called;
}

int64_t ZISim_FramesDelivered(const char* path)
{
    if (path == nullptr) return -1;
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto d = bus.findDevice(path);
    if (!d) return -1;
    for (void* h : bus.handlesOf(d))
        if (auto handle = bus.handle(h); handle && handle->stream) return handle->stream->framesDelivered();
    return -1;
}

void ZISim_InjectResult(const char* function, int32_t result, uint32_t times)
{
    ZISim_InjectResultAfter(function, 0, result, times);
}

void ZISim_InjectResultAfter(const char* function, uint32_t skip, int32_t result, uint32_t times)
{
    if (function == nullptr) return;
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    if (times == 0)
        bus.injections.erase(function);
    else
        bus.injections[function] = {skip, result, times};
}

void ZISim_HoldEvents(int32_t hold)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    bus.holdEvents = hold != 0;
    bus.changed.notify_all();
}

void ZISim_ClearInjections(void)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    bus.injections.clear();
}

uint32_t ZISim_JournalCount(void)
{
    return Bus::instance().journalCount();
}

int32_t ZISim_JournalLine(uint32_t index, char* buffer, uint32_t capacity)
{
    auto line = Bus::instance().journalLine(index);
    if (!line) return -1;
    if (buffer && capacity > 0) {
        const size_t n = std::min<size_t>(line->size(), capacity - 1);
        std::memcpy(buffer, line->data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(line->size());
}

void ZISim_JournalClear(void)
{
    Bus::instance().journalClear();
}

void ZISim_UseManualClock(int32_t manual)
{
    auto& bus = Bus::instance();
    {
        std::lock_guard lock(bus.mutex);
        bus.manualClock = manual != 0;
    }
    bus.clockChanged.notify_all();
}

void ZISim_SetClock(int64_t microseconds)
{
    auto& bus = Bus::instance();
    {
        std::lock_guard lock(bus.mutex);
        bus.manualNow = microseconds;
    }
    bus.clockChanged.notify_all();
}

int64_t ZISim_Now(void)
{
    return Bus::instance().now();
}

} // extern "C"

namespace {
struct Tap {
    std::shared_ptr<zi::Stream> stream;
};
} // namespace

int32_t ZISim_SetMicrophoneSignal(const char* path, uint32_t channel, float levelDb, int32_t sweep)
{
    if (path == nullptr || channel >= 8 || !(levelDb <= 0.0f && levelDb >= -200.0f)) return ZI_ERR_INVALID_ARG;
    auto& bus = zi::Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto d = bus.findDevice(path);
    if (!d || d->type != ZISIM_MICROPHONE) return ZI_ERR_NO_DEVICE;
    d->signalLevelDb[channel] = levelDb;
    d->signalSweep = sweep != 0;
    return ZI_OK;
}

int32_t ZISim_MicrophonePath(uint32_t index, char* buffer, uint32_t size)
{
    auto& bus = zi::Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto mics = bus.devicesOfType(ZISIM_MICROPHONE);
    if (index >= mics.size()) return -1;
    const std::string& path = mics[index]->path;
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<size_t>(path.size(), size - 1);
        std::memcpy(buffer, path.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int32_t>(path.size());
}

int32_t ZISim_MicrophoneChannels(const char* path)
{
    if (path == nullptr) return -1;
    auto& bus = zi::Bus::instance();
    std::lock_guard lock(bus.mutex);
    auto d = bus.findDevice(path);
    if (!d || d->type != ZISIM_MICROPHONE) return -1;
    return static_cast<int32_t>(zi::nativeChannels(*d));
}

void* ZISim_OpenTap(const char* path, ZISIM_TAP_CALLBACK callback, void* context)
{
    if (path == nullptr || callback == nullptr) return nullptr;
    auto& bus = zi::Bus::instance();
    std::shared_ptr<zi::Device> device;
    uint32_t channels = 2;
    {
        std::lock_guard lock(bus.mutex);
        device = bus.findDevice(path);
        if (!device || device->type != ZISIM_MICROPHONE) return nullptr;
        channels = zi::nativeChannels(*device);
    }
    auto tap = std::make_unique<Tap>();
    tap->stream = zi::makeTapStream(device, channels,
                                    [callback, context, channels](const uint8_t* data, uint32_t length, int64_t timestamp) {
                                        const uint32_t frames = length / (2 * channels);
                                        callback(context, reinterpret_cast<const int16_t*>(data), frames, channels,
                                                 48000, timestamp);
                                    });
    tap->stream->start();
    return tap.release();
}

void ZISim_CloseTap(void* tap)
{
    if (tap == nullptr) return;
    std::unique_ptr<Tap> owned(static_cast<Tap*>(tap));
    owned->stream->stop();
}
