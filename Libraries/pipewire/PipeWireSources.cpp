#include "PipeWireSources.h"

#include <zedederadIvo.h>
#include <zedederadIvoSystem.h>

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>

namespace orva::pipewire {

struct PipeWireSources::Node {
    PipeWireSources* owner = nullptr;
    uint32_t id = 0;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    std::map<std::string, std::string> props;
    bool infoSeen = false;
    uint32_t channels = 0;
    std::vector<uint32_t> rates;
    uint32_t rateMin = 0, rateMax = 0;
    std::vector<float> volumes;
    bool muted = false;
    bool propsSeen = false;
    bool announced = false;
};

struct PipeWireSources::Device {
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    std::map<std::string, std::string> props;
};

namespace {

constexpr uint32_t kStandardRates[] = {48000, 44100, 32000, 16000};

std::map<std::string, std::string> toMap(const spa_dict* dict)
{
    std::map<std::string, std::string> out;
    if (!dict) return out;
    const spa_dict_item* item;
    spa_dict_for_each(item, dict) if (item->key && item->value) out[item->key] = item->value;
    return out;
}

std::string lookup(const std::map<std::string, std::string>& props, const char* key)
{
    auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

uint16_t hexID(const std::string& text)
{
    if (text.empty()) return 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    return end != text.c_str() && value <= 0xFFFF ? static_cast<uint16_t>(value) : 0;
}

// The integers a format property allows: a fixed value, an enumeration or a range.
void intChoice(const spa_pod* pod, std::vector<uint32_t>& values, uint32_t& min, uint32_t& max)
{
    uint32_t count = 0, choice = 0;
    const spa_pod* first = spa_pod_get_values(pod, &count, &choice);
    if (!first || first->type != SPA_TYPE_Int || count == 0) return;
    const auto* v = static_cast<const int32_t*>(SPA_POD_BODY_CONST(first));
    switch (choice) {
    case SPA_CHOICE_None:
        values.push_back(static_cast<uint32_t>(v[0]));
        break;
    case SPA_CHOICE_Range:
    case SPA_CHOICE_Step:
        if (count >= 3) {
            min = static_cast<uint32_t>(v[1]);
            max = static_cast<uint32_t>(v[2]);
        }
        break;
    case SPA_CHOICE_Enum:
        for (uint32_t i = 1; i < count; ++i) values.push_back(static_cast<uint32_t>(v[i]));
        break;
    default:
        break;
    }
}

// The preferred (first) value of an integer choice.
uint32_t preferredInt(const spa_pod* pod)
{
    uint32_t count = 0, choice = 0;
    const spa_pod* first = spa_pod_get_values(pod, &count, &choice);
    if (!first || first->type != SPA_TYPE_Int || count == 0) return 0;
    return static_cast<uint32_t>(*static_cast<const int32_t*>(SPA_POD_BODY_CONST(first)));
}

const pw_registry_events kRegistryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    return e;
}();

} // namespace

bool allVendors()
{
    const char* value = std::getenv("ORVA_ALL_VENDORS");
    return value && *value && std::strcmp(value, "0") != 0;
}

std::string usbBusOfSysfsPath(const std::string& sysfsPath)
{
    // /devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.2/sound/card2 -> 1-4.2
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

std::string SourceInfo::path() const
{
    std::string path = "pipewire:" + nodeName;
    if (!bus.empty()) path += ";usb=" + bus;
    if (!serial.empty()) path += ";serial=" + serial;
    return path;
}

std::vector<_ACI_WAVE_FORMAT> SourceInfo::waveFormats() const
{
    std::vector<_ACI_WAVE_FORMAT> formats;
    const uint16_t count = static_cast<uint16_t>(channels == 0 ? 2 : std::min<uint32_t>(channels, 8));
    std::vector<uint32_t> offered = rates;
    if (offered.empty()) offered.assign(std::begin(kStandardRates), std::end(kStandardRates));
    for (uint32_t rate : offered) formats.push_back({ZI_WAVE_FORMAT_LPCM, count, rate, 16, 0});
    formats.push_back({ZI_WAVE_FORMAT_AAC, static_cast<uint16_t>(std::min<uint16_t>(count, 2)), 48000, 16, 0});
    return formats;
}

std::shared_ptr<PipeWireSources> PipeWireSources::connect(Listener post)
{
    std::shared_ptr<PipeWireSources> sources(new PipeWireSources());
    sources->mPost = std::move(post);
    std::string error;
    sources->mConnection = PipeWireConnection::connect(&error);
    if (!sources->mConnection) {
        sources->mStatus = error;
        return sources;
    }
    sources->mStatus = "connected to PipeWire";
    PipeWireConnection::Lock lock(*sources->mConnection);
    sources->mConnection->setLostHandler([s = sources.get()] { s->onLost(); });
    static const pw_registry_events events = [] {
        pw_registry_events e = kRegistryEvents;
        e.global = &PipeWireSources::onGlobal;
        e.global_remove = &PipeWireSources::onGlobalRemove;
        return e;
    }();
    sources->mRegistry = pw_core_get_registry(sources->mConnection->core(), PW_VERSION_REGISTRY, 0);
    sources->mRegistryListener = std::make_unique<spa_hook>();
    std::memset(sources->mRegistryListener.get(), 0, sizeof(spa_hook));
    pw_registry_add_listener(sources->mRegistry, sources->mRegistryListener.get(), &events, sources.get());
    // Two round trips: the globals, then the info and formats of the nodes bound meanwhile.
    if (!sources->mConnection->sync() || !sources->mConnection->sync()) sources->mStatus = "PipeWire does not answer";
    // What is there now was never announced, but its leaving will be.
    for (auto& [id, node] : sources->mNodes) node->announced = node->infoSeen && sources->describe(*node).listed;
    sources->mReady = true;
    return sources;
}

PipeWireSources::~PipeWireSources()
{
    if (!mConnection) return;
    PipeWireConnection::Lock lock(*mConnection);
    mConnection->setLostHandler(nullptr);
    for (auto& [id, node] : mNodes) {
        spa_hook_remove(&node->listener);
        pw_proxy_destroy(node->proxy);
    }
    mNodes.clear();
    for (auto& [id, device] : mDevices) {
        spa_hook_remove(&device->listener);
        pw_proxy_destroy(device->proxy);
    }
    mDevices.clear();
    if (mRegistry) {
        spa_hook_remove(mRegistryListener.get());
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(mRegistry));
    }
}

void PipeWireSources::onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props)
{
    auto* self = static_cast<PipeWireSources*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        const char* mediaClass = props ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
        if (!mediaClass || std::strncmp(mediaClass, "Audio/Source", 12) != 0) return;
        auto node = std::make_unique<Node>();
        node->owner = self;
        node->id = id;
        node->props = toMap(props);
        node->proxy = static_cast<pw_proxy*>(pw_registry_bind(self->mRegistry, id, type, PW_VERSION_NODE, 0));
        if (!node->proxy) return;
        static const pw_node_events events = [] {
            pw_node_events e{};
            e.version = PW_VERSION_NODE_EVENTS;
            e.info = &PipeWireSources::onNodeInfo;
            e.param = &PipeWireSources::onNodeParam;
            return e;
        }();
        pw_proxy_add_object_listener(node->proxy, &node->listener, &events, node.get());
        uint32_t wanted[] = {SPA_PARAM_EnumFormat, SPA_PARAM_Props};
        pw_node_subscribe_params(reinterpret_cast<pw_node*>(node->proxy), wanted, 2);
        self->mNodes[id] = std::move(node);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0) {
        const char* mediaClass = props ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
        if (!mediaClass || std::strcmp(mediaClass, "Audio/Device") != 0) return;
        auto device = std::make_unique<Device>();
        device->props = toMap(props);
        device->proxy = static_cast<pw_proxy*>(pw_registry_bind(self->mRegistry, id, type, PW_VERSION_DEVICE, 0));
        if (!device->proxy) return;
        static const pw_device_events events = [] {
            pw_device_events e{};
            e.version = PW_VERSION_DEVICE_EVENTS;
            e.info = &PipeWireSources::onDeviceInfo;
            return e;
        }();
        pw_proxy_add_object_listener(device->proxy, &device->listener, &events, device.get());
        self->mDevices[id] = std::move(device);
    }
}

void PipeWireSources::onGlobalRemove(void* data, uint32_t id)
{
    auto* self = static_cast<PipeWireSources*>(data);
    if (auto it = self->mNodes.find(id); it != self->mNodes.end()) {
        const bool announced = it->second->announced;
        const std::string name = lookup(it->second->props, PW_KEY_NODE_NAME);
        spa_hook_remove(&it->second->listener);
        pw_proxy_destroy(it->second->proxy);
        self->mNodes.erase(it);
        self->nodeGone(name);
        if (announced && self->mPost) self->mPost(Change::ListedRemoved, name);
        if (self->mPost) self->mPost(Change::NodeRemoved, name);
    } else if (auto dit = self->mDevices.find(id); dit != self->mDevices.end()) {
        spa_hook_remove(&dit->second->listener);
        pw_proxy_destroy(dit->second->proxy);
        self->mDevices.erase(dit);
    }
    self->mConnection->signal();
}

void PipeWireSources::onDeviceInfo(void* data, const pw_device_info* info)
{
    auto* device = static_cast<Device*>(data);
    if (info && (info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS)) device->props = toMap(info->props);
}

void PipeWireSources::onNodeInfo(void* data, const pw_node_info* info)
{
    auto* node = static_cast<Node*>(data);
    if (!info) return;
    if (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) node->props = toMap(info->props);
    node->infoSeen = true;
    PipeWireSources* self = node->owner;
    if (self->mReady && !node->announced && self->describe(*node).listed) {
        node->announced = true;
        if (self->mPost) self->mPost(Change::ListedArrived, lookup(node->props, PW_KEY_NODE_NAME));
    }
    self->mConnection->signal();
}

void PipeWireSources::onNodeParam(void* data, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param)
{
    auto* node = static_cast<Node*>(data);
    if (!param || !spa_pod_is_object(param)) return;
    const auto* object = reinterpret_cast<const spa_pod_object*>(param);
    const spa_pod_prop* prop;
    if (id == SPA_PARAM_EnumFormat) {
        SPA_POD_OBJECT_FOREACH(object, prop)
        {
            if (prop->key == SPA_FORMAT_AUDIO_rate) {
                intChoice(&prop->value, node->rates, node->rateMin, node->rateMax);
            } else if (prop->key == SPA_FORMAT_AUDIO_channels) {
                // A count or a list of counts: the largest. A range (a converter in front
                // of the device takes any count): its preferred value, not its maximum.
                std::vector<uint32_t> counts;
                uint32_t low = 0, high = 0;
                intChoice(&prop->value, counts, low, high);
                for (uint32_t c : counts) node->channels = std::max(node->channels, c);
                if (high != 0) node->channels = std::max(node->channels, std::clamp(preferredInt(&prop->value), low, std::min<uint32_t>(high, 8)));
            }
        }
    } else if (id == SPA_PARAM_Props) {
        SPA_POD_OBJECT_FOREACH(object, prop)
        {
            if (prop->key == SPA_PROP_channelVolumes) {
                float volumes[SPA_AUDIO_MAX_CHANNELS];
                const uint32_t n = spa_pod_copy_array(&prop->value, SPA_TYPE_Float, volumes, SPA_AUDIO_MAX_CHANNELS);
                if (n > 0) {
                    node->volumes.assign(volumes, volumes + n);
                    node->propsSeen = true;
                }
            } else if (prop->key == SPA_PROP_mute) {
                bool muted = false;
                if (spa_pod_get_bool(&prop->value, &muted) == 0) node->muted = muted;
            }
        }
    }
    node->owner->mConnection->signal();
}

void PipeWireSources::onLost()
{
    mStatus = "the PipeWire daemon went away";
    for (auto& [id, node] : mNodes) {
        const std::string name = lookup(node->props, PW_KEY_NODE_NAME);
        spa_hook_remove(&node->listener);
        pw_proxy_destroy(node->proxy);
        nodeGone(name);
        if (node->announced && mPost) mPost(Change::ListedRemoved, name);
        if (mPost) mPost(Change::NodeRemoved, name);
    }
    mNodes.clear();
    for (auto& [id, device] : mDevices) {
        spa_hook_remove(&device->listener);
        pw_proxy_destroy(device->proxy);
    }
    mDevices.clear();
}

SourceInfo PipeWireSources::describe(const Node& node) const
{
    // What the node does not say, its device may.
    std::map<std::string, std::string> props = node.props;
    const std::string deviceID = lookup(props, PW_KEY_DEVICE_ID);
    if (!deviceID.empty()) {
        auto it = mDevices.find(static_cast<uint32_t>(std::strtoul(deviceID.c_str(), nullptr, 10)));
        if (it != mDevices.end())
            for (const auto& [key, value] : it->second->props) props.emplace(key, value);
    }
    SourceInfo info;
    info.id = node.id;
    info.nodeName = lookup(props, PW_KEY_NODE_NAME);
    info.mediaClass = lookup(props, PW_KEY_MEDIA_CLASS);
    info.vendorID = hexID(lookup(props, PW_KEY_DEVICE_VENDOR_ID));
    info.productID = hexID(lookup(props, PW_KEY_DEVICE_PRODUCT_ID));
    info.serial = lookup(props, PW_KEY_DEVICE_SERIAL);
    info.usb = lookup(props, PW_KEY_DEVICE_BUS) == "usb";
    info.bus = usbBusOfSysfsPath(lookup(props, PW_KEY_DEVICE_SYSFS_PATH));
    info.name = lookup(props, PW_KEY_DEVICE_PRODUCT_NAME);
    if (info.name.empty()) info.name = lookup(props, PW_KEY_NODE_DESCRIPTION);
    if (info.name.empty()) info.name = info.nodeName;
    info.channels = node.channels;
    if (info.channels == 0) info.channels = static_cast<uint32_t>(std::atoi(lookup(props, PW_KEY_AUDIO_CHANNELS).c_str()));
    for (uint32_t rate : node.rates)
        if (rate >= 8000 && rate <= 192000) info.rates.push_back(rate);
    if (node.rateMax != 0)
        for (uint32_t rate : kStandardRates)
            if (rate >= node.rateMin && rate <= node.rateMax) info.rates.push_back(rate);
    std::sort(info.rates.rbegin(), info.rates.rend());
    info.rates.erase(std::unique(info.rates.begin(), info.rates.end()), info.rates.end());

    char vendor[64];
    std::snprintf(vendor, sizeof vendor, "vendor %04x is not the maker's (%04x)", info.vendorID, ZI_MAKER_VENDOR_ID);
    if (info.nodeName.empty())
        info.reason = "has no node name";
    else if (!allVendors() && !info.usb)
        info.reason = "not a USB device";
    else if (!allVendors() && info.vendorID != ZI_MAKER_VENDOR_ID)
        info.reason = vendor;
    info.listed = info.reason.empty();
    return info;
}

std::vector<SourceInfo> PipeWireSources::all() const
{
    std::vector<SourceInfo> out;
    if (!mConnection) return out;
    PipeWireConnection::Lock lock(*mConnection);
    for (const auto& [id, node] : mNodes)
        if (node->infoSeen) out.push_back(describe(*node));
    return out;
}

std::vector<SourceInfo> PipeWireSources::listed() const
{
    std::vector<SourceInfo> out = all();
    std::erase_if(out, [](const SourceInfo& s) { return !s.listed; });
    return out;
}

std::optional<SourceInfo> PipeWireSources::find(const std::string& path) const
{
    for (auto& source : listed())
        if (source.path() == path || source.nodeName == path) return source;
    return std::nullopt;
}

std::optional<SourceInfo> PipeWireSources::byID(uint32_t id) const
{
    for (auto& source : listed())
        if (source.id == id) return source;
    return std::nullopt;
}

std::string PipeWireSources::status() const
{
    if (!mConnection) return mStatus;
    PipeWireConnection::Lock lock(*mConnection);
    return mStatus;
}

int32_t PipeWireSources::volume(uint32_t id, uint32_t* volume)
{
    if (!mConnection) return ZI_ERR_NO_DEVICE;
    PipeWireConnection::Lock lock(*mConnection);
    auto it = mNodes.find(id);
    if (it == mNodes.end()) return ZI_ERR_NO_DEVICE;
    if (!it->second->propsSeen) return ZI_ERR_NOT_SUPPORTED;
    const float loudest = *std::max_element(it->second->volumes.begin(), it->second->volumes.end());
    const double level = std::cbrt(std::max(0.0f, loudest)) * 255.0;
    *volume = static_cast<uint32_t>(std::lround(std::min(level, 255.0)));
    return ZI_OK;
}

int32_t PipeWireSources::mute(uint32_t id, uint8_t* mute)
{
    if (!mConnection) return ZI_ERR_NO_DEVICE;
    PipeWireConnection::Lock lock(*mConnection);
    auto it = mNodes.find(id);
    if (it == mNodes.end()) return ZI_ERR_NO_DEVICE;
    if (!it->second->propsSeen) return ZI_ERR_NOT_SUPPORTED;
    *mute = it->second->muted ? 1 : 0;
    return ZI_OK;
}

int32_t PipeWireSources::setProps(uint32_t id, const std::vector<float>* volumes, const bool* mute)
{
    if (!mConnection) return ZI_ERR_NO_DEVICE;
    PipeWireConnection::Lock lock(*mConnection);
    auto it = mNodes.find(id);
    if (it == mNodes.end()) return ZI_ERR_NO_DEVICE;
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_pod_frame frame;
    spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    if (volumes) {
        spa_pod_builder_prop(&builder, SPA_PROP_channelVolumes, 0);
        spa_pod_builder_array(&builder, sizeof(float), SPA_TYPE_Float, static_cast<uint32_t>(volumes->size()),
                              volumes->data());
    }
    if (mute) {
        spa_pod_builder_prop(&builder, SPA_PROP_mute, 0);
        spa_pod_builder_bool(&builder, *mute);
    }
    auto* pod = static_cast<spa_pod*>(spa_pod_builder_pop(&builder, &frame));
    if (pw_node_set_param(reinterpret_cast<pw_node*>(it->second->proxy), SPA_PARAM_Props, 0, pod) < 0)
        return ZI_ERR_FAILED;
    // Done when the node reports what was set.
    const uint32_t node = id;
    const bool reported = mConnection->waitFor(
        [&] {
            auto n = mNodes.find(node);
            if (n == mNodes.end()) return true;
            if (mute && n->second->muted != *mute) return false;
            if (volumes)
                for (size_t c = 0; c < n->second->volumes.size() && c < volumes->size(); ++c)
                    if (std::fabs(n->second->volumes[c] - (*volumes)[c]) > 1e-4f) return false;
            return true;
        },
        1000);
    if (mNodes.find(node) == mNodes.end()) return ZI_ERR_NO_DEVICE;
    return reported ? ZI_OK : ZI_ERR_FAILED;
}

int32_t PipeWireSources::setVolume(uint32_t id, uint8_t volume)
{
    size_t channels = 2;
    if (mConnection) {
        PipeWireConnection::Lock lock(*mConnection);
        auto it = mNodes.find(id);
        if (it == mNodes.end()) return ZI_ERR_NO_DEVICE;
        if (!it->second->volumes.empty()) channels = it->second->volumes.size();
    }
    const double linear = std::pow(volume / 255.0, 3.0);
    const std::vector<float> volumes(channels, static_cast<float>(linear));
    return setProps(id, &volumes, nullptr);
}

int32_t PipeWireSources::setMute(uint32_t id, uint8_t mute)
{
    const bool muted = mute != 0;
    return setProps(id, nullptr, &muted);
}

// ---- Taps: a node's sound for a meter ----

struct PipeWireSources::Tap {
    PipeWireSources* owner = nullptr;
    std::string nodeName;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    TapCallback callback = nullptr;
    void* context = nullptr;
    uint32_t channels = 0;
    bool lost = false;

    // Once, on the loop thread: no frames, and nothing after.
    void lose()
    {
        if (lost) return;
        lost = true;
        callback(context, nullptr, 0, channels);
    }
};

void PipeWireSources::nodeGone(const std::string& nodeName)
{
    for (Tap* tap : mTaps)
        if (tap->nodeName == nodeName) tap->lose();
}

void PipeWireSources::onTapState(void* data, int, int state, const char*)
{
    auto* tap = static_cast<Tap*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) tap->lose();
}

void PipeWireSources::onTapProcess(void* data)
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

void* PipeWireSources::openTap(const std::string& nodeName, TapCallback callback, void* context)
{
    if (!mConnection || !callback) return nullptr;
    uint32_t channels = 0;
    for (const auto& source : all())
        if (source.nodeName == nodeName) channels = std::clamp<uint32_t>(source.channels ? source.channels : 2, 1, 8);
    if (channels == 0) return nullptr;
    auto tap = std::make_unique<Tap>();
    tap->owner = this;
    tap->nodeName = nodeName;
    tap->callback = callback;
    tap->context = context;
    tap->channels = channels;
    PipeWireConnection::Lock lock(*mConnection);
    if (!mConnection->connected()) return nullptr;
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_NODE_LATENCY, kCaptureLatency, PW_KEY_TARGET_OBJECT, nodeName.c_str(),
                                             PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    tap->stream = pw_stream_new(mConnection->core(), "orva-level-meter", props);
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &PipeWireSources::onTapProcess;
        e.state_changed = [](void* data, pw_stream_state old, pw_stream_state state, const char* error) {
            onTapState(data, old, state, error);
        };
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
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                                      params, 1) >= 0;
    }
    if (!connected) {
        if (tap->stream) {
            spa_hook_remove(&tap->listener);
            pw_stream_destroy(tap->stream);
        }
        return nullptr;
    }
    mTaps.push_back(tap.get());
    return tap.release();
}

void PipeWireSources::closeTap(void* handle)
{
    auto* tap = static_cast<Tap*>(handle);
    if (!tap) return;
    {
        PipeWireConnection::Lock lock(*mConnection); // no callback runs while the loop is locked
        std::erase(mTaps, tap);
        spa_hook_remove(&tap->listener);
        pw_stream_destroy(tap->stream);
    }
    delete tap;
}

} // namespace orva::pipewire
