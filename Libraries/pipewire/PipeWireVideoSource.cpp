#include "PipeWireVideoSource.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstring>
#include <set>

namespace orva::pipewire {

namespace {

uint32_t spaFormat(PipeWireVideoSource::PixelFormat format)
{
    return format == PipeWireVideoSource::PixelFormat::UYVY ? SPA_VIDEO_FORMAT_UYVY : SPA_VIDEO_FORMAT_I420;
}

uint32_t strideOf(const PipeWireVideoSource::Options& options)
{
    return options.format == PipeWireVideoSource::PixelFormat::UYVY ? options.width * 2 : options.width;
}

} // namespace

uint32_t PipeWireVideoSource::findNode(const std::shared_ptr<PipeWireConnection>& connection, const std::string& nodeName)
{
    if (!connection || !connection->connected()) return 0;
    struct Search {
        std::string name;
        uint32_t found = 0;
    } search{nodeName, 0};
    static const pw_registry_events events = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = [](void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
            auto* search = static_cast<Search*>(data);
            if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props) return;
            const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
            const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
            if (name && mediaClass && search->name == name && std::strcmp(mediaClass, "Video/Source") == 0)
                search->found = id;
        };
        return e;
    }();
    PipeWireConnection::Lock lock(*connection);
    pw_registry* registry = pw_core_get_registry(connection->core(), PW_VERSION_REGISTRY, 0);
    if (!registry) return 0;
    spa_hook listener{};
    pw_registry_add_listener(registry, &listener, &events, &search);
    (void)connection->sync(); // every global has been announced
    spa_hook_remove(&listener);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    return search.found;
}

PipeWireVideoSource::PipeWireVideoSource(std::shared_ptr<PipeWireConnection> connection)
    : mConnection(std::move(connection))
{
}

uint32_t PipeWireVideoSource::frameBytes() const
{
    const uint32_t pixels = mOptions.width * mOptions.height;
    return mOptions.format == PixelFormat::UYVY ? pixels * 2 : pixels + 2 * ((mOptions.width + 1) / 2) * ((mOptions.height + 1) / 2);
}

std::unique_ptr<PipeWireVideoSource> PipeWireVideoSource::create(std::shared_ptr<PipeWireConnection> connection,
                                                                 const Options& options, Listener listener,
                                                                 std::string* error)
{
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    if (!connection || !connection->connected()) return fail("PipeWire is not running");
    if (options.width == 0 || options.height == 0) return fail("the camera has no frame size");
    std::unique_ptr<PipeWireVideoSource> source(new PipeWireVideoSource(connection));
    source->mOptions = options;
    source->mListener = std::move(listener);
    connection->setLostHandler([self = source.get()] {
        self->mLost = true;
        self->mStreaming = false;
        self->tell(Event::Lost);
    });

    PipeWireConnection::Lock lock(*connection);
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &PipeWireVideoSource::onGlobal;
        e.global_remove = &PipeWireVideoSource::onGlobalRemove;
        return e;
    }();
    source->mRegistry = pw_core_get_registry(connection->core(), PW_VERSION_REGISTRY, 0);
    source->mRegistryListener = std::make_unique<spa_hook>();
    std::memset(source->mRegistryListener.get(), 0, sizeof(spa_hook));
    pw_registry_add_listener(source->mRegistry, source->mRegistryListener.get(), &registryEvents, source.get());

    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
        PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_NODE_NAME, options.nodeName.c_str(), PW_KEY_NODE_DESCRIPTION,
        options.description.c_str(), "orva.camera.path", options.cameraPath.c_str(), nullptr);
    source->mStream = pw_stream_new(connection->core(), options.nodeName.c_str(), props);
    if (!source->mStream) return fail("PipeWire refused the video node");
    static const pw_stream_events streamEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state old, pw_stream_state state, const char* why) {
            onStateChanged(data, old, state, why);
        };
        e.param_changed = &PipeWireVideoSource::onParamChanged;
        return e;
    }();
    source->mStreamListener = std::make_unique<spa_hook>();
    std::memset(source->mStreamListener.get(), 0, sizeof(spa_hook));
    pw_stream_add_listener(source->mStream, source->mStreamListener.get(), &streamEvents, source.get());

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{options.width, options.height};
    spa_fraction rate{options.rateNumerator, options.rateDenominator};
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(spaFormat(options.format)), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)))};
    // The source drives its graph: a consumer gets each frame when the camera gives it.
    if (pw_stream_connect(source->mStream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
                          1) < 0)
        return fail("PipeWire refused the video node");
    const bool ready = connection->waitFor(
        [&] {
            const int state = source->mState.load();
            return state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING ||
                   state == PW_STREAM_STATE_ERROR;
        },
        3000);
    if (!ready || source->mState.load() == PW_STREAM_STATE_ERROR) return fail("PipeWire did not take the video node");
    source->mNodeID = pw_stream_get_node_id(source->mStream);
    return source;
}

PipeWireVideoSource::~PipeWireVideoSource()
{
    PipeWireConnection::Lock lock(*mConnection);
    mConnection->setLostHandler(nullptr);
    if (mStreamListener) spa_hook_remove(mStreamListener.get());
    if (mStream) pw_stream_destroy(mStream);
    if (mRegistryListener) spa_hook_remove(mRegistryListener.get());
    if (mRegistry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(mRegistry));
}

void PipeWireVideoSource::tell(Event event)
{
    if (mListener) mListener(event, mConsumers.load());
}

void PipeWireVideoSource::onStateChanged(void* data, int, int state, const char*)
{
    auto* self = static_cast<PipeWireVideoSource*>(data);
    self->mState = state;
    self->mStreaming = state == PW_STREAM_STATE_STREAMING;
    self->mConnection->signal();
}

// The consumer agreed on the format: buffers of a whole frame each, with a header
// for the capture time.
void PipeWireVideoSource::onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* self = static_cast<PipeWireVideoSource*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[2] = {
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(static_cast<int32_t>(self->frameBytes())), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(static_cast<int32_t>(strideOf(self->mOptions))), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(static_cast<int32_t>(sizeof(spa_meta_header))))),
    };
    pw_stream_update_params(self->mStream, params, 2);
}

// Links from this node are its consumers: counted by the nodes they lead to.
void PipeWireVideoSource::onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                                   const spa_dict* props)
{
    auto* self = static_cast<PipeWireVideoSource*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Link) != 0 || !props) return;
    const char* output = spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE);
    const char* input = spa_dict_lookup(props, PW_KEY_LINK_INPUT_NODE);
    if (!output || !input || std::strtoul(output, nullptr, 10) != self->mNodeID.load()) return;
    self->mLinks[id] = static_cast<uint32_t>(std::strtoul(input, nullptr, 10));
    self->recount();
}

void PipeWireVideoSource::onGlobalRemove(void* data, uint32_t id)
{
    auto* self = static_cast<PipeWireVideoSource*>(data);
    if (self->mLinks.erase(id) > 0) self->recount();
}

// The consumers are the nodes the links lead to (a consumer may have a link per port).
void PipeWireVideoSource::recount()
{
    std::set<uint32_t> nodes;
    for (const auto& [link, node] : mLinks) nodes.insert(node);
    if (nodes.size() == mConsumers.load()) return;
    mConsumers = static_cast<uint32_t>(nodes.size());
    tell(Event::ConsumersChanged);
}

bool PipeWireVideoSource::pushWith(int64_t timestamp, FillFunction fill, const void* context)
{
    if (!mStreaming.load(std::memory_order_relaxed) || mLost.load(std::memory_order_relaxed)) return false;
    pw_buffer* buffer = pw_stream_dequeue_buffer(mStream);
    if (!buffer) { // every buffer is still with a consumer that has not taken it
        mDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    spa_buffer* spa = buffer->buffer;
    spa_data& d = spa->datas[0];
    uint32_t written = 0;
    if (d.data && d.maxsize >= frameBytes()) written = fill(context, static_cast<uint8_t*>(d.data), d.maxsize, strideOf(mOptions));
    d.chunk->offset = 0;
    d.chunk->size = written;
    d.chunk->stride = static_cast<int32_t>(strideOf(mOptions));
    if (auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(spa, SPA_META_Header, sizeof(spa_meta_header)))) {
        header->flags = 0;
        header->offset = 0;
        header->pts = timestamp * 1000; // nanoseconds
        header->dts_offset = 0;
        header->seq = mSequence++;
    }
    pw_stream_queue_buffer(mStream, buffer);
    if (written == 0) return false;
    pw_stream_trigger_process(mStream);
    mSent.fetch_add(1, std::memory_order_relaxed);
    return true;
}

} // namespace orva::pipewire
