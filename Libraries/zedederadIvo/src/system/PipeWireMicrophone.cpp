#include "PipeWireMicrophone.h"

#include "AacEncoder.h"
#include "CaptureRing.h"
#include "Log.h"
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

// A jump of the graph's clock against the counted frames larger than this between two
// cycles may be frames that never arrived (the server overran, the daemon stalled);
// smaller ones are jitter and drift, absorbed. It is a gap only when it lasts: a
// capture thread that runs late reads a later cycle's clock for the buffers it
// catches up on, and the clock comes back to the line once it has caught up. So the
// frames after a jump are held back until the clock has stayed off the line for
// kConfirmMicroseconds of sound (a gap: silence goes before them) or comes back (a
// late reading: they follow on the line).
constexpr int64_t kGapMicroseconds = 15000;
constexpr int64_t kConfirmMicroseconds = 60000;
constexpr uint32_t kHeldSeconds = 1;     // room for a confirmation window of the longest cycles
constexpr uint32_t kRingSeconds = 2;     // what the ring holds: a stall of the delivery thread
constexpr uint32_t kRingChunks = 4096;   // cycles the ring holds (a cycle is 1 ms or more)
constexpr uint32_t kSettlingParts = 10;  // the first tenth of a second settles the time line

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
    joinDelivery();
    if (mDelivery.joinable()) mDelivery.detach(); // the delivery thread let go of the last reference
}

void PipeWireMicrophone::joinDelivery()
{
    mDeliveryRuns = false;
    if (mRing) mRing->wake();
    // From inside a delivery callback the thread ends when the callback returns; the
    // next start (or the close) joins it.
    if (mDelivery.joinable() && mDelivery.get_id() != std::this_thread::get_id()) mDelivery.join();
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
    {
        PipeWireConnection::Lock lock(*connection);
        if (mStream && mDelivering) return ZI_OK;
        destroyStream(); // one left by a stop from inside a callback
    }
    joinDelivery(); // likewise its delivery thread

    mRate = mFormat->samplesPerSec;
    mChannels = mFormat->channels;
    mEncoder.reset();
    if (mFormat->formatTag == ZI_WAVE_FORMAT_AAC) {
        mEncoder = AacEncoder::create(mRate, mChannels);
        if (!mEncoder) return ZI_ERR_FAILED;
        mFramesPerBuffer = AacEncoder::kFramesPerPacket;
    } else {
        mFramesPerBuffer = mRate / 100;
    }
    mPending.assign(size_t{mFramesPerBuffer} * mChannels, 0);
    mPendingFrames = 0;
    mAnchor = -1;
    mFrames = 0;
    mDrift = 0;
    mLostFrames = 0;
    mHeld.assign(size_t{mRate} * kHeldSeconds * 2 * mChannels, 0);
    mHeldFrames = 0;
    mSettling = false;
    mRing = std::make_unique<CaptureRing>(2 * mChannels, mRate * kRingSeconds, kRingChunks);
    mChunk.assign(size_t{mRate} * mChannels, 0); // a cycle is far shorter than a second
    mDeliveryRuns = true;
    // The thread holds the microphone: a close from inside a callback cannot free it
    // under the thread's feet.
    mDelivery = std::thread([self = shared_from_this()] { self->deliver(); });

    PipeWireConnection::Lock lock(*connection);
    // The ring, not the server's buffers, absorbs a busy machine: the stream asks for
    // the desktop's usual cycle (a shorter one would shorten every application's).
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Communication", PW_KEY_NODE_LATENCY,
                                             orva::pipewire::kCaptureLatency,
                                             PW_KEY_TARGET_OBJECT, mInfo.nodeName.c_str(), PW_KEY_NODE_DONT_RECONNECT,
                                             "true", nullptr);
    mStream = pw_stream_new(connection->core(), "orva-microphone", props);
    auto fail = [&](int32_t result) {
        mDelivering = false;
        destroyStream();
        mDeliveryRuns = false;
        mRing->wake();
        return result;
    };
    if (!mStream) return fail(ZI_ERR_FAILED);
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
    raw.rate = mRate;
    raw.channels = mChannels;
    if (mChannels == 1) {
        raw.position[0] = SPA_AUDIO_CHANNEL_MONO;
    } else if (mChannels == 2) {
        raw.position[0] = SPA_AUDIO_CHANNEL_FL;
        raw.position[1] = SPA_AUDIO_CHANNEL_FR;
    } else {
        raw.flags = SPA_AUDIO_FLAG_UNPOSITIONED;
    }
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw)};
    mState = PW_STREAM_STATE_CONNECTING;
    mDelivering = true;
    // RT_PROCESS: process() runs on the stream's real-time thread, not the loop thread
    // that also serves the registry and the host's calls.
    if (pw_stream_connect(mStream, PW_DIRECTION_INPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                       PW_STREAM_FLAG_RT_PROCESS),
                          params, 1) < 0)
        return fail(ZI_ERR_FAILED);
    // Linked and running, or refused.
    const bool settled = connection->waitFor(
        [&] { return mState == PW_STREAM_STATE_STREAMING || mState == PW_STREAM_STATE_ERROR; }, 3000);
    if (!settled || mState == PW_STREAM_STATE_ERROR) return fail(present() ? ZI_ERR_FAILED : ZI_ERR_NO_DEVICE);
    return ZI_OK;
}

int32_t PipeWireMicrophone::stopCapture()
{
    mDelivering = false;
    auto connection = mSources->connection();
    if (connection) {
        PipeWireConnection::Lock lock(*connection);
        // The loop thread runs no callback of the stream now (they run on its
        // real-time thread and the delivery thread), so the stream can go from any
        // thread but the loop's own.
        if (!connection->inLoopThread()) destroyStream();
    }
    joinDelivery(); // from inside a delivery callback, it ends after the callback
    if (mLostFrames > 0 && mRate > 0)
    {
        char line[256];
        std::snprintf(line, sizeof line, "%s: %.3f s of sound lost on the way (the server or the capture fell behind)",
                      mInfo.nodeName.c_str(), static_cast<double>(mLostFrames) / mRate);
        logLine(line);
    }
    mLostFrames = 0;
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

// The stream's real-time thread: copy, stamp, hand back. No lock, no allocation, no wait.
void PipeWireMicrophone::process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(mStream);
    if (!buffer) return;
    const spa_buffer* spa = buffer->buffer;
    if (mDelivering.load(std::memory_order_relaxed) && spa->n_datas > 0 && spa->datas[0].data && spa->datas[0].chunk) {
        const spa_data& d = spa->datas[0];
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        const uint32_t count = size / (2 * mChannels);
        // The cycle's time is the graph clock's (when the cycle was due; a thread
        // running late may read a later cycle's, which the delivery thread sees
        // through); its first frame was captured its own length before, and the
        // graph's delay before that.
        pw_time time{};
        int64_t now = 0, delay = 0, waiting = 0;
        if (pw_stream_get_time_n(mStream, &time, sizeof time) == 0 && time.now > 0) {
            now = time.now / 1000;
            if (time.rate.denom > 0 && time.delay > 0)
                delay = std::min<int64_t>(time.delay * 1000000 * time.rate.num / time.rate.denom, 1000000);
            // Buffers the server filled after this one and that wait for this thread:
            // the clock read is theirs, this buffer is that many cycles older.
            waiting = std::min<int64_t>(time.avail_buffers, 64);
        } else {
            now = monotonicMicroseconds();
        }
        const int64_t first = now - (waiting + 1) * int64_t{count} * 1000000 / mRate;
        if (count > 0)
            (void)mRing->write(static_cast<const uint8_t*>(d.data) + offset, count, first, static_cast<int32_t>(delay));
    }
    pw_stream_queue_buffer(mStream, buffer);
}

// The delivery thread: takes what the real-time thread wrote until the capture stops.
void PipeWireMicrophone::deliver()
{
    CaptureRing::Chunk chunk;
    while (mDeliveryRuns.load()) {
        const uint32_t seen = mRing->written();
        while (mDeliveryRuns.load() && mRing->take(chunk)) {
            const uint32_t count = std::min<uint32_t>(chunk.frames, static_cast<uint32_t>(mChunk.size() / mChannels));
            mRing->readFrames(mChunk.data(), count);
            if (chunk.frames > count) { // cannot happen with a sane server; keep the ring consistent
                std::vector<int16_t> rest(size_t{chunk.frames - count} * mChannels);
                mRing->readFrames(rest.data(), chunk.frames - count);
            }
            if (mDelivering.load()) take(mChunk.data(), count, chunk.time, chunk.delay, chunk.lostBefore);
        }
        if (mDeliveryRuns.load()) mRing->wait(seen);
    }
}

void PipeWireMicrophone::take(const int16_t* frames, uint32_t count, int64_t time, int32_t delay, uint32_t lostBefore)
{
    // Where the counted line puts this chunk, against where the clock puts it. (The
    // graph's delay changes with its quantum; it places the line once, it does not
    // move it.)
    const uint64_t position = mFrames + mPendingFrames + mHeldFrames;
    if (mAnchor < 0 || position < uint64_t{mRate} / kSettlingParts) {
        // The first cycles settle the line, and their frames wait until it is settled:
        // a graph that is still choosing its quantum can date its first cycle a cycle
        // early, and frames stamped on that word would be followed by a jump of a
        // whole cycle, which a recording fills with silence.
        mAnchor = time - static_cast<int64_t>(position * 1000000 / mRate);
        mLatency = delay;
        mDrift = 0;
        const uint64_t room = mHeld.size() / mChannels - mHeldFrames;
        if (count <= room) {
            std::memcpy(mHeld.data() + size_t{mHeldFrames} * mChannels, frames, size_t{count} * mChannels * 2);
            mHeldFrames += count;
            mSettling = true;
            return;
        }
    }
    if (mSettling) {
        // Settled: the first frames go out on the line as it now stands.
        mSettling = false;
        releaseHeld();
    }
    const int64_t drift = time - (mAnchor + static_cast<int64_t>(position * 1000000 / mRate));
    const int64_t jump = drift - mDrift;
    if (lostBefore > 0) {
        // The ring was full: frames certainly lost, as many as the clock says (at
        // least those counted).
        releaseHeld();
        skip(std::max<uint64_t>(lostBefore, jump > 0 ? static_cast<uint64_t>(jump) * mRate / 1000000 : 0));
        mDrift = time - (mAnchor + static_cast<int64_t>((mFrames + mPendingFrames) * 1000000 / mRate));
        append(frames, count);
        return;
    }
    if (mHeldFrames > 0 || jump > kGapMicroseconds) {
        if (jump <= kGapMicroseconds) {
            // Back on the line: the jump was a late reading, nothing is missing.
            releaseHeld();
            mDrift = drift;
            append(frames, count);
            return;
        }
        const uint64_t room = mHeld.size() / mChannels - mHeldFrames;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, room));
        std::memcpy(mHeld.data() + size_t{mHeldFrames} * mChannels, frames, size_t{n} * mChannels * 2);
        mHeldFrames += n;
        mHeldDrift = drift;
        if (int64_t{mHeldFrames} * 1000000 / mRate < kConfirmMicroseconds && n == count) return;
        // The clock stayed off the line: frames that never arrived. The line skips
        // as many as the clock now says (a graph catching up after a stall runs ahead
        // for a while: its latest word, not its first, is where it stands), and what
        // was held follows the hole.
        const uint64_t missing = static_cast<uint64_t>(jump) * mRate / 1000000;
        const uint32_t held = mHeldFrames;
        mHeldFrames = 0;
        const uint64_t before = mFrames + mPendingFrames;
        skip(missing);
        mDrift = mHeldDrift - static_cast<int64_t>((mFrames + mPendingFrames - before) * 1000000 / mRate);
        append(mHeld.data(), held);
        append(frames + size_t{n} * mChannels, count - n);
        return;
    }
    if (jump < -kGapMicroseconds) {
        // The clock went back (the graph changed drivers): follow it, losing nothing.
        mAnchor += jump;
    } else {
        mDrift = drift; // jitter and slow drift: the counted line stands
    }
    append(frames, count);
}

// Frames that never arrived: the next buffer is stamped after the hole. A partly
// filled buffer is made whole with silence (standing for the start of what is
// missing) and goes first.
void PipeWireMicrophone::skip(uint64_t missing)
{
    mLostFrames += missing;
    if (mPendingFrames > 0 && missing > 0) {
        const uint32_t padding = mFramesPerBuffer - mPendingFrames;
        std::fill(mPending.begin() + static_cast<std::ptrdiff_t>(size_t{mPendingFrames} * mChannels), mPending.end(),
                  int16_t{0});
        mPendingFrames = mFramesPerBuffer;
        emit();
        missing -= std::min<uint64_t>(missing, padding);
    }
    mFrames += missing;
}

// Held frames follow on the line as they are (the jump was no gap).
void PipeWireMicrophone::releaseHeld()
{
    const uint32_t held = mHeldFrames;
    mHeldFrames = 0;
    append(mHeld.data(), held);
}

void PipeWireMicrophone::append(const int16_t* frames, uint32_t count)
{
    while (count > 0 && mDelivering.load()) {
        const uint32_t n = std::min(count, mFramesPerBuffer - mPendingFrames);
        std::memcpy(mPending.data() + size_t{mPendingFrames} * mChannels, frames, size_t{n} * mChannels * 2);
        mPendingFrames += n;
        frames += size_t{n} * mChannels;
        count -= n;
        if (mPendingFrames == mFramesPerBuffer) emit();
    }
}

// Hands on the pending frames as one buffer stamped with its first frame's time.
void PipeWireMicrophone::emit()
{
    const int64_t timestamp = mAnchor - mLatency + static_cast<int64_t>(mFrames * 1000000 / mRate);
    const uint32_t frames = mPendingFrames;
    mFrames += frames;
    mPendingFrames = 0;
    if (mEncoder) {
        const auto& packet = mEncoder->encode(mPending.data());
        if (!packet.empty())
            mSubscriptions.dispatch(mHandle, ACI_EVENT_BUFFER, packet.data(), static_cast<uint32_t>(packet.size()),
                                    timestamp);
    } else {
        mSubscriptions.dispatch(mHandle, ACI_EVENT_BUFFER, mPending.data(), frames * mChannels * 2, timestamp);
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
