#include "VideoConsumer.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cstring>
#include <ctime>

namespace orvatest {

VideoConsumer::VideoConsumer(const std::string& target, bool stalled) : mStalled(stalled)
{
    std::string error;
    mConnection = orva::pipewire::PipeWireConnection::connect(&error);
    if (!mConnection) return;
    orva::pipewire::PipeWireConnection::Lock lock(*mConnection);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Camera", PW_KEY_TARGET_OBJECT, target.c_str(),
                                             nullptr);
    mStream = pw_stream_new(mConnection->core(), "orva-test-viewer", props);
    if (!mStream) return;
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &VideoConsumer::onProcess;
        e.param_changed = &VideoConsumer::onParamChanged;
        return e;
    }();
    mListener = std::make_unique<spa_hook>();
    std::memset(mListener.get(), 0, sizeof(spa_hook));
    pw_stream_add_listener(mStream, mListener.get(), &events, this);
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle smallest{1, 1}, largest{8192, 8192}, usual{640, 480};
    spa_fraction none{0, 1}, most{1000, 1}, usualRate{30, 1};
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_UYVY, SPA_VIDEO_FORMAT_UYVY, SPA_VIDEO_FORMAT_I420),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&usual, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&usualRate, &none, &most)))};
    if (pw_stream_connect(mStream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                          params, 1) < 0) {
        spa_hook_remove(mListener.get());
        pw_stream_destroy(mStream);
        mStream = nullptr;
    }
}

VideoConsumer::~VideoConsumer()
{
    if (!mStream) return;
    orva::pipewire::PipeWireConnection::Lock lock(*mConnection);
    spa_hook_remove(mListener.get());
    pw_stream_destroy(mStream);
}

void VideoConsumer::onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* self = static_cast<VideoConsumer*>(data);
    if (id != SPA_PARAM_Format || !param) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    {
        std::lock_guard lock(self->mMutex);
        self->mFormat = info.format;
        self->mWidth = info.size.width;
        self->mHeight = info.size.height;
    }
    // Buffers with a header: the frame's time comes in it.
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(static_cast<int32_t>(sizeof(spa_meta_header)))))};
    pw_stream_update_params(self->mStream, params, 1);
}

void VideoConsumer::onProcess(void* data)
{
    auto* self = static_cast<VideoConsumer*>(data);
    if (self->mStalled) return; // takes nothing: every buffer stays with it
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(self->mStream)) {
        const spa_buffer* spa = buffer->buffer;
        const spa_data& d = spa->datas[0];
        if (d.data && d.chunk && d.chunk->size > 0) {
            const auto* bytes = static_cast<const uint8_t*>(d.data) + d.chunk->offset;
            const auto* header =
                static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(spa, SPA_META_Header, sizeof(spa_meta_header)));
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::lock_guard lock(self->mMutex);
            self->mFrames.emplace_back(bytes, bytes + d.chunk->size);
            self->mPts.push_back(header ? header->pts : -1);
            self->mArrivals.push_back(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
        }
        pw_stream_queue_buffer(self->mStream, buffer);
    }
}

size_t VideoConsumer::frames()
{
    std::lock_guard lock(mMutex);
    return mFrames.size();
}

std::vector<uint8_t> VideoConsumer::frame(size_t index)
{
    std::lock_guard lock(mMutex);
    return index < mFrames.size() ? mFrames[index] : std::vector<uint8_t>();
}

int64_t VideoConsumer::pts(size_t index)
{
    std::lock_guard lock(mMutex);
    return index < mPts.size() ? mPts[index] : -1;
}

int64_t VideoConsumer::arrival(size_t index)
{
    std::lock_guard lock(mMutex);
    return index < mArrivals.size() ? mArrivals[index] : -1;
}

uint32_t VideoConsumer::format()
{
    std::lock_guard lock(mMutex);
    return mFormat;
}

uint32_t VideoConsumer::width()
{
    std::lock_guard lock(mMutex);
    return mWidth;
}

uint32_t VideoConsumer::height()
{
    std::lock_guard lock(mMutex);
    return mHeight;
}

} // namespace orvatest
