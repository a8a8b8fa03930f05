// The desktop's microphones through PipeWire: its Audio/Source nodes, each captured by
// a stream of 16-bit frames in 10 ms buffers at 48 kHz. One connection per process,
// made on first use; a daemon that is not there gives no devices, never a wait.
//
// A device's unique ID is made from the same node and device properties, by the same
// rule, as the record path of the system capture library ("pipewire:<node name>",
// then ";usb=<bus path>" and ";serial=<serial>" where the device has them), so the
// level meter finds the platform device of a microphone record by that path.
#include "platform/capture/AudioCaptureBackend.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <regex>

namespace orva {

namespace {

std::string lookup(const std::map<std::string, std::string>& props, const char* key)
{
    auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

std::map<std::string, std::string> toMap(const spa_dict* dict)
{
    std::map<std::string, std::string> out;
    if (!dict) return out;
    const spa_dict_item* item;
    spa_dict_for_each(item, dict) if (item->key && item->value) out[item->key] = item->value;
    return out;
}

std::string usbBus(const std::string& sysfsPath)
{
    static const std::regex usbDevice("^[0-9]+-[0-9]+(\\.[0-9]+)*$");
    std::string bus;
    size_t start = 0;
    while (start <= sysfsPath.size()) {
        const size_t end = std::min(sysfsPath.find('/', start), sysfsPath.size());
        const std::string part = sysfsPath.substr(start, end - start);
        if (std::regex_match(part, usbDevice)) bus = part;
        start = end + 1;
    }
    return bus;
}

class PipeWireAudioCapture final : public AudioCaptureBackend {
public:
    std::vector<Device> devices() override;
    uint32_t channelCount(const std::string& key) override;
    void* openTap(const std::string& key, TapCallback callback, void* context) override;
    void closeTap(void* tap) override;

private:
    struct Node {
        PipeWireAudioCapture* owner = nullptr;
        uint32_t id = 0;
        pw_proxy* proxy = nullptr;
        spa_hook listener{};
        std::map<std::string, std::string> props;
        bool infoSeen = false;
    };
    struct DeviceObject {
        pw_proxy* proxy = nullptr;
        spa_hook listener{};
        std::map<std::string, std::string> props;
    };
    struct Tap {
        PipeWireAudioCapture* owner = nullptr;
        std::string key;
        pw_stream* stream = nullptr;
        spa_hook listener{};
        TapCallback callback = nullptr;
        void* context = nullptr;
        uint32_t channels = 0;
        bool lost = false;
    };

    bool connect(); // with mMutex held
    Device describe(const Node& node) const;
    void lose(Tap& tap);
    static void onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props);
    static void onGlobalRemove(void* data, uint32_t id);
    static void onNodeInfo(void* data, const pw_node_info* info);
    static void onDeviceInfo(void* data, const pw_device_info* info);
    static void onCoreDone(void* data, uint32_t id, int seq);
    static void onCoreError(void* data, uint32_t id, int seq, int res, const char* message);
    static void onProcess(void* data);
    static void onStreamState(void* data, pw_stream_state, pw_stream_state state, const char*);
    bool sync();

    std::mutex mMutex; // guards the connection's making
    bool mTried = false;
    pw_thread_loop* mLoop = nullptr;
    pw_context* mContext = nullptr;
    pw_core* mCore = nullptr;
    spa_hook mCoreListener{};
    pw_registry* mRegistry = nullptr;
    spa_hook mRegistryListener{};
    int mDoneSeq = -1;
    bool mConnected = false;
    std::map<uint32_t, std::unique_ptr<Node>> mNodes;
    std::map<uint32_t, std::unique_ptr<DeviceObject>> mDeviceObjects;
    std::vector<Tap*> mTaps;
};

bool PipeWireAudioCapture::sync()
{
    const int seq = pw_core_sync(mCore, PW_ID_CORE, 0);
    timespec deadline{};
    pw_thread_loop_get_time(mLoop, &deadline, 2 * SPA_NSEC_PER_SEC);
    while (mConnected && mDoneSeq != seq)
        if (pw_thread_loop_timed_wait_full(mLoop, &deadline) != 0) return false;
    return mConnected;
}

bool PipeWireAudioCapture::connect()
{
    if (mTried) return mConnected;
    mTried = true;
    pw_init(nullptr, nullptr);
    mLoop = pw_thread_loop_new("orva-audio-capture", nullptr);
    if (!mLoop) return false;
    mContext = pw_context_new(pw_thread_loop_get_loop(mLoop), nullptr, 0);
    if (!mContext || pw_thread_loop_start(mLoop) < 0) return false;
    pw_thread_loop_lock(mLoop);
    mCore = pw_context_connect(mContext, pw_properties_new(PW_KEY_APP_NAME, "orva level meter", nullptr), 0);
    if (mCore) {
        static const pw_core_events coreEvents = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.done = &PipeWireAudioCapture::onCoreDone;
            e.error = &PipeWireAudioCapture::onCoreError;
            return e;
        }();
        static const pw_registry_events registryEvents = [] {
            pw_registry_events e{};
            e.version = PW_VERSION_REGISTRY_EVENTS;
            e.global = &PipeWireAudioCapture::onGlobal;
            e.global_remove = &PipeWireAudioCapture::onGlobalRemove;
            return e;
        }();
        pw_core_add_listener(mCore, &mCoreListener, &coreEvents, this);
        mConnected = true;
        mRegistry = pw_core_get_registry(mCore, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(mRegistry, &mRegistryListener, &registryEvents, this);
        mConnected = sync() && sync(); // the globals, then the nodes' info
    }
    pw_thread_loop_unlock(mLoop);
    return mConnected;
}

void PipeWireAudioCapture::onCoreDone(void* data, uint32_t id, int seq)
{
    auto* self = static_cast<PipeWireAudioCapture*>(data);
    if (id == PW_ID_CORE) self->mDoneSeq = seq;
    pw_thread_loop_signal(self->mLoop, false);
}

void PipeWireAudioCapture::onCoreError(void* data, uint32_t id, int, int res, const char*)
{
    auto* self = static_cast<PipeWireAudioCapture*>(data);
    if (id == PW_ID_CORE && res == -EPIPE) {
        // The daemon went away: every device with it.
        self->mConnected = false;
        for (Tap* tap : self->mTaps) self->lose(*tap);
        for (auto& [id, node] : self->mNodes) {
            spa_hook_remove(&node->listener);
            pw_proxy_destroy(node->proxy);
        }
        self->mNodes.clear();
    }
    pw_thread_loop_signal(self->mLoop, false);
}

void PipeWireAudioCapture::onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props)
{
    auto* self = static_cast<PipeWireAudioCapture*>(data);
    const char* mediaClass = props ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0 && mediaClass && std::strncmp(mediaClass, "Audio/Source", 12) == 0) {
        auto node = std::make_unique<Node>();
        node->owner = self;
        node->id = id;
        node->props = toMap(props);
        node->proxy = static_cast<pw_proxy*>(pw_registry_bind(self->mRegistry, id, type, PW_VERSION_NODE, 0));
        if (!node->proxy) return;
        static const pw_node_events events = [] {
            pw_node_events e{};
            e.version = PW_VERSION_NODE_EVENTS;
            e.info = &PipeWireAudioCapture::onNodeInfo;
            return e;
        }();
        pw_proxy_add_object_listener(node->proxy, &node->listener, &events, node.get());
        self->mNodes[id] = std::move(node);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0 && mediaClass && std::strcmp(mediaClass, "Audio/Device") == 0) {
        auto device = std::make_unique<DeviceObject>();
        device->props = toMap(props);
        device->proxy = static_cast<pw_proxy*>(pw_registry_bind(self->mRegistry, id, type, PW_VERSION_DEVICE, 0));
        if (!device->proxy) return;
        static const pw_device_events events = [] {
            pw_device_events e{};
            e.version = PW_VERSION_DEVICE_EVENTS;
            e.info = &PipeWireAudioCapture::onDeviceInfo;
            return e;
        }();
        pw_proxy_add_object_listener(device->proxy, &device->listener, &events, device.get());
        self->mDeviceObjects[id] = std::move(device);
    }
}

void PipeWireAudioCapture::onGlobalRemove(void* data, uint32_t id)
{
    auto* self = static_cast<PipeWireAudioCapture*>(data);
    if (auto it = self->mNodes.find(id); it != self->mNodes.end()) {
        const std::string key = lookup(it->second->props, PW_KEY_NODE_NAME);
        for (Tap* tap : self->mTaps)
            if (tap->key == key) self->lose(*tap);
        spa_hook_remove(&it->second->listener);
        pw_proxy_destroy(it->second->proxy);
        self->mNodes.erase(it);
    } else if (auto dit = self->mDeviceObjects.find(id); dit != self->mDeviceObjects.end()) {
        spa_hook_remove(&dit->second->listener);
        pw_proxy_destroy(dit->second->proxy);
        self->mDeviceObjects.erase(dit);
    }
}

void PipeWireAudioCapture::onNodeInfo(void* data, const pw_node_info* info)
{
    auto* node = static_cast<Node*>(data);
    if (info && (info->change_mask & PW_NODE_CHANGE_MASK_PROPS)) node->props = toMap(info->props);
    node->infoSeen = true;
}

void PipeWireAudioCapture::onDeviceInfo(void* data, const pw_device_info* info)
{
    auto* device = static_cast<DeviceObject*>(data);
    if (info && (info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS)) device->props = toMap(info->props);
}

AudioCaptureBackend::Device PipeWireAudioCapture::describe(const Node& node) const
{
    std::map<std::string, std::string> props = node.props;
    const std::string deviceID = lookup(props, PW_KEY_DEVICE_ID);
    if (!deviceID.empty())
        if (auto it = mDeviceObjects.find(static_cast<uint32_t>(std::strtoul(deviceID.c_str(), nullptr, 10)));
            it != mDeviceObjects.end())
            for (const auto& [key, value] : it->second->props) props.emplace(key, value);
    Device device;
    device.key = lookup(props, PW_KEY_NODE_NAME);
    std::string path = "pipewire:" + device.key;
    const std::string bus = usbBus(lookup(props, PW_KEY_DEVICE_SYSFS_PATH));
    const std::string serial = lookup(props, PW_KEY_DEVICE_SERIAL);
    if (!bus.empty()) path += ";usb=" + bus;
    if (!serial.empty()) path += ";serial=" + serial;
    device.uniqueID = path + "#0";
    device.name = lookup(props, PW_KEY_NODE_DESCRIPTION);
    if (device.name.empty()) device.name = device.key;
    const int channels = std::atoi(lookup(props, PW_KEY_AUDIO_CHANNELS).c_str());
    device.channels = channels > 0 ? static_cast<uint32_t>(std::min(channels, 8)) : 2;
    return device;
}

std::vector<AudioCaptureBackend::Device> PipeWireAudioCapture::devices()
{
    std::lock_guard lock(mMutex);
    std::vector<Device> out;
    if (!connect()) return out;
    pw_thread_loop_lock(mLoop);
    for (const auto& [id, node] : mNodes)
        if (node->infoSeen) out.push_back(describe(*node));
    pw_thread_loop_unlock(mLoop);
    return out;
}

uint32_t PipeWireAudioCapture::channelCount(const std::string& key)
{
    for (const auto& device : devices())
        if (device.key == key) return device.channels;
    return 0;
}

void PipeWireAudioCapture::lose(Tap& tap)
{

    if (tap.lost) return;
    tap.lost = true;
    tap.callback(tap.context, nullptr, 0, tap.channels);
}

void PipeWireAudioCapture::onStreamState(void* data, pw_stream_state, pw_stream_state state, const char*)
{
    auto* tap = static_cast<Tap*>(data);

    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) tap->owner->lose(*tap);
}

void PipeWireAudioCapture::onProcess(void* data)
{
    auto* tap = static_cast<Tap*>(data);

    pw_buffer* buffer = pw_stream_dequeue_buffer(tap->stream);
    if (!buffer) return;
    const spa_data& d = buffer->buffer->datas[0];
    if (!tap->lost && d.data && d.chunk) {
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        const uint32_t frames = size / (2 * tap->channels);
        if (frames > 0)
            tap->callback(tap->context, reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + offset),
                          frames, tap->channels);
    }
    pw_stream_queue_buffer(tap->stream, buffer);
}

void* PipeWireAudioCapture::openTap(const std::string& key, TapCallback callback, void* context)
{
    const uint32_t channels = channelCount(key); // connects, if not yet
    if (channels == 0 || !callback) return nullptr;
    auto tap = std::make_unique<Tap>();
    tap->owner = this;
    tap->key = key;
    tap->callback = callback;
    tap->context = context;
    tap->channels = channels;
    pw_thread_loop_lock(mLoop);
    if (!mConnected) {
        pw_thread_loop_unlock(mLoop);
        return nullptr;
    }
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_NODE_LATENCY, "480/48000", PW_KEY_TARGET_OBJECT, key.c_str(),
                                             PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    tap->stream = pw_stream_new(mCore, "orva-level-meter", props);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &PipeWireAudioCapture::onProcess;
        e.state_changed = &PipeWireAudioCapture::onStreamState;
        return e;
    }();
    bool connected = false;
    if (tap->stream) {
        pw_stream_add_listener(tap->stream, &tap->listener, &events, tap.get());
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw raw{};
        raw.format = SPA_AUDIO_FORMAT_S16_LE;
        raw.rate = 48000;
        raw.channels = channels;
        const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw)};
        connected = pw_stream_connect(tap->stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                   PW_STREAM_FLAG_MAP_BUFFERS),
                                      params, 1) >= 0;
    }
    if (!connected) {
        if (tap->stream) {
            spa_hook_remove(&tap->listener);
            pw_stream_destroy(tap->stream);
        }
        pw_thread_loop_unlock(mLoop);
        return nullptr;
    }
    mTaps.push_back(tap.get());
    pw_thread_loop_unlock(mLoop);
    return tap.release();
}

void PipeWireAudioCapture::closeTap(void* handle)
{
    auto* tap = static_cast<Tap*>(handle);
    if (!tap) return;
    pw_thread_loop_lock(mLoop); // no callback runs while the loop is locked
    std::erase(mTaps, tap);
    spa_hook_remove(&tap->listener);
    pw_stream_destroy(tap->stream);
    pw_thread_loop_unlock(mLoop);
    delete tap;
}

} // namespace

AudioCaptureBackend& pipeWireAudioCapture()
{
    static auto* backend = new PipeWireAudioCapture(); // its loop thread may outlive static teardown
    return *backend;
}

} // namespace orva
