#include "PipeWireMicrophone.h"

#include "AacEncoder.h"
#include "Subscriptions.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

namespace zi::sys {

namespace {

constexpr int64_t kResyncMicroseconds = 20000; // a drift past this moves the time line
constexpr int kWindowBuffers = 100;            // buffers over which the smallest offset is kept

int64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

} // namespace

std::shared_ptr<PipeWireMicrophone> PipeWireMicrophone::open(std::shared_ptr<PipeWireSources> sources,
                                                             const std::string& path, Subscriptions& subscriptions)
{
    if (!sources) return nullptr;
    auto info = sources->find(path);
    if (!info) return nullptr;
    return std::shared_ptr<PipeWireMicrophone>(new PipeWireMicrophone(std::move(sources), *info, subscriptions));
}

PipeWireMicrophone::PipeWireMicrophone(std::shared_ptr<PipeWireSources> sources, SourceInfo info,
                                       Subscriptions& subscriptions)
    : mSources(std::move(sources)), mInfo(std::move(info)), mSubscriptions(subscriptions)
{
}

PipeWireMicrophone::~PipeWireMicrophone()
{
    (void)stopCapture();
    destroyStream();
}

bool PipeWireMicrophone::present() const
{
    auto connection = mSources->connection();
    return connection && connection->connected() && mSources->byID(mInfo.id).has_value();
}

int32_t PipeWireMicrophone::setCaptureParameters(const _ACI_WAVE_FORMAT& format)
{
    if (!present()) return ZI_ERR_NO_DEVICE;
    const auto offered = waveFormats();
    const bool known = std::any_of(offered.begin(), offered.end(), [&](const _ACI_WAVE_FORMAT& w) {
        return w.formatTag == format.formatTag && w.channels == format.channels &&
               w.samplesPerSec == format.samplesPerSec &&
               (w.formatTag != ZI_WAVE_FORMAT_LPCM || w.bitsPerSample == format.bitsPerSample);
    });
    if (!known) return ZI_ERR_INVALID_ARG;
    mFormat = format;
    return ZI_OK;
}

void PipeWireMicrophone::onProcess(void* data)
{
    static_cast<PipeWireMicrophone*>(data)->process();
}

void PipeWireMicrophone::onStateChanged(void* data, int, int state, const char*)
{
    auto* self = static_cast<PipeWireMicrophone*>(data);
    self->mState = state;
    if (auto connection = self->mSources->connection()) connection->signal();
}

int32_t PipeWireMicrophone::startCapture()
{
    auto connection = mSources->connection();
    if (!present() || !connection) return ZI_ERR_NO_DEVICE;
    if (!mFormat) return ZI_ERR_INVALID_ARG;
    PipeWireConnection::Lock lock(*connection);
    if (mStream && mDelivering) return ZI_OK;
    destroyStream(); // one left by a stop from inside a callback

    const uint32_t rate = mFormat->samplesPerSec, channels = mFormat->channels;
    mEncoder.reset();
    if (mFormat->formatTag == ZI_WAVE_FORMAT_AAC) {
        mEncoder = AacEncoder::create(rate, channels);
        if (!mEncoder) return ZI_ERR_FAILED;
        mFramesPerBuffer = AacEncoder::kFramesPerPacket;
    } else {
        mFramesPerBuffer = rate / 100;
    }
    mPending.assign(size_t{mFramesPerBuffer} * channels, 0);
    mPendingFrames = 0;
    mBaseTime = -1;
    mWindowMinimum = INT64_MAX;
    mWindowBuffers = 0;
    mFramesDelivered = 0;

    char latency[32];
    std::snprintf(latency, sizeof latency, "%u/%u", rate / 100, rate);
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Communication", PW_KEY_NODE_LATENCY, latency,
                                             PW_KEY_TARGET_OBJECT, mInfo.nodeName.c_str(), PW_KEY_NODE_DONT_RECONNECT,
                                             "true", nullptr);
    mStream = pw_stream_new(connection->core(), "orva-microphone", props);
    if (!mStream) return ZI_ERR_FAILED;
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = &PipeWireMicrophone::onProcess;
        e.state_changed = reinterpret_cast<void (*)(void*, pw_stream_state, pw_stream_state, const char*)>(
            &PipeWireMicrophone::onStateChanged);
        return e;
    }();
    mStreamListener = std::make_unique<spa_hook>();
    std::memset(mStreamListener.get(), 0, sizeof(spa_hook));
    pw_stream_add_listener(mStream, mStreamListener.get(), &events, this);

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw raw{};
    raw.format = SPA_AUDIO_FORMAT_S16_LE;
    raw.rate = rate;
    raw.channels = channels;
    if (channels == 1) {
        raw.position[0] = SPA_AUDIO_CHANNEL_MONO;
    } else if (channels == 2) {
        raw.position[0] = SPA_AUDIO_CHANNEL_FL;
        raw.position[1] = SPA_AUDIO_CHANNEL_FR;
    } else {
        raw.flags = SPA_AUDIO_FLAG_UNPOSITIONED;
    }
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw)};
    mState = PW_STREAM_STATE_CONNECTING;
    mDelivering = true;
    if (pw_stream_connect(mStream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
                          1) < 0) {
        mDelivering = false;
        destroyStream();
        return ZI_ERR_FAILED;
    }
    // Linked and running, or refused.
    const bool settled = connection->waitFor(
        [&] { return mState == PW_STREAM_STATE_STREAMING || mState == PW_STREAM_STATE_ERROR; }, 3000);
    if (!settled || mState == PW_STREAM_STATE_ERROR) {
        mDelivering = false;
        destroyStream();
        return present() ? ZI_ERR_FAILED : ZI_ERR_NO_DEVICE;
    }
    return ZI_OK;
}

int32_t PipeWireMicrophone::stopCapture()
{
    auto connection = mSources->connection();
    if (!connection) return ZI_OK;
    PipeWireConnection::Lock lock(*connection);
    mDelivering = false;
    // From inside a callback the stream cannot be destroyed; the next start or the
    // close does it. Elsewhere the lock means no callback runs now.
    if (!connection->inLoopThread()) destroyStream();
    return ZI_OK;
}

void PipeWireMicrophone::destroyStream()
{
    if (!mStream) return;
    auto connection = mSources->connection();
    if (!connection) return;
    PipeWireConnection::Lock lock(*connection);
    if (mStreamListener) spa_hook_remove(mStreamListener.get());
    pw_stream_destroy(mStream);
    mStream = nullptr;
}

void PipeWireMicrophone::process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(mStream);
    if (!buffer) return;
    const spa_buffer* spa = buffer->buffer;
    if (mDelivering && spa->n_datas > 0 && spa->datas[0].data && spa->datas[0].chunk) {
        const spa_data& d = spa->datas[0];
        const uint32_t channels = mFormat->channels, rate = mFormat->samplesPerSec;
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        const auto* frames = reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + offset);
        const uint32_t count = size / (2 * channels);
        // The first frame of this buffer was captured its own length (and the
        // graph's delay) ago.
        pw_time time{};
        int64_t delay = 0;
        if (pw_stream_get_time_n(mStream, &time, sizeof time) == 0 && time.rate.denom > 0)
            delay = time.delay * 1000000 * time.rate.num / time.rate.denom;
        const int64_t first = monotonicMicroseconds() - int64_t{count} * 1000000 / rate - std::max<int64_t>(delay, 0);
        const uint64_t position = mFramesDelivered + mPendingFrames;
        // The time line is counted in frames from the first buffer. A buffer handed
        // over late only looks later than it was, never earlier, so the smallest
        // offset over a second is the truth; the line moves only when that differs
        // from it by more than jitter can explain (clock drift, a lost stretch).
        const int64_t lineOffset = first - static_cast<int64_t>(position * 1000000 / rate);
        if (mBaseTime < 0) mBaseTime = lineOffset;
        mWindowMinimum = std::min(mWindowMinimum, lineOffset);
        if (++mWindowBuffers >= kWindowBuffers) {
            if (std::llabs(mWindowMinimum - mBaseTime) > kResyncMicroseconds) mBaseTime = mWindowMinimum;
            mWindowBuffers = 0;
            mWindowMinimum = INT64_MAX;
        }
        emit(frames, count);
    }
    pw_stream_queue_buffer(mStream, buffer);
}

void PipeWireMicrophone::emit(const int16_t* frames, uint32_t count)
{
    const uint32_t channels = mFormat->channels, rate = mFormat->samplesPerSec;
    while (count > 0 && mDelivering) {
        const uint32_t take = std::min(count, mFramesPerBuffer - mPendingFrames);
        std::memcpy(mPending.data() + size_t{mPendingFrames} * channels, frames, size_t{take} * channels * 2);
        mPendingFrames += take;
        frames += size_t{take} * channels;
        count -= take;
        if (mPendingFrames < mFramesPerBuffer) break;
        const int64_t timestamp = mBaseTime + static_cast<int64_t>(mFramesDelivered * 1000000 / rate);
        mFramesDelivered += mFramesPerBuffer;
        mPendingFrames = 0;
        if (mEncoder) {
            const auto& packet = mEncoder->encode(mPending.data());
            if (!packet.empty())
                mSubscriptions.dispatch(mHandle, ACI_EVENT_BUFFER, packet.data(), static_cast<uint32_t>(packet.size()),
                                        timestamp);
        } else {
            mSubscriptions.dispatch(mHandle, ACI_EVENT_BUFFER, mPending.data(),
                                    mFramesPerBuffer * channels * 2, timestamp);
        }
    }
}

int32_t PipeWireMicrophone::volume(uint32_t* volume)
{
    return mSources->volume(mInfo.id, volume);
}

int32_t PipeWireMicrophone::setVolume(uint8_t volume)
{
    return mSources->setVolume(mInfo.id, volume);
}

int32_t PipeWireMicrophone::mute(uint8_t* mute)
{
    return mSources->mute(mInfo.id, mute);
}

int32_t PipeWireMicrophone::setMute(uint8_t mute)
{
    return mSources->setMute(mInfo.id, mute);
}

} // namespace zi::sys
