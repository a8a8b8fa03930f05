// One open microphone: a PipeWire source node captured through a pw_stream of its own
// (16-bit interleaved PCM), delivered as 10 ms PCM buffers or as raw AAC packets of
// 1024 frames encoded here, each with the monotonic time of its first frame in
// microseconds. Volume and mute are the node's.
//
// Capture keeps up on a busy machine: the stream's real-time thread only copies each
// cycle's frames, with the cycle's time from the graph's clock, into a ring that holds
// two seconds, and never waits; a delivery thread of the capture packs, encodes and
// hands them on, always in whole buffers. Times count frames from the first, so a
// late delivery never looks like a gap; frames the server or the ring lost (a jump in
// the graph's clock beyond what arrived) advance the count, so the buffer after them
// is stamped later by exactly what is missing and the recording fills it with silence.
//
// Threads: the ABI functions call the public members from any host thread. Buffers
// reach the handle's subscribers on the capture's delivery thread; a subscriber may
// stop the capture from inside its callback.
#pragma once

#include <PipeWireSources.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

struct pw_stream;
struct spa_hook;

namespace zi {
class AacEncoder;
class Subscriptions;
} // namespace zi

namespace zi::sys {

using orva::pipewire::PipeWireConnection;
using orva::pipewire::PipeWireSources;
using orva::pipewire::SourceInfo;
using orva::pipewire::usbBusOfSysfsPath;

class CaptureRing;

class PipeWireMicrophone : public std::enable_shared_from_this<PipeWireMicrophone> {
public:
    // Null when the source is not (or no longer) listed.
    static std::shared_ptr<PipeWireMicrophone> open(std::shared_ptr<PipeWireSources> sources, const std::string& path,
                                                    Subscriptions& subscriptions);
    ~PipeWireMicrophone();
    PipeWireMicrophone(const PipeWireMicrophone&) = delete;
    PipeWireMicrophone& operator=(const PipeWireMicrophone&) = delete;

    void setHandle(void* handle) { mHandle = handle; }

    std::vector<_ACI_WAVE_FORMAT> waveFormats() const { return mInfo.waveFormats(); }
    // ZI_ERR_INVALID_ARG for a format not listed.
    int32_t setCaptureParameters(const _ACI_WAVE_FORMAT& format);
    // 0 (also when running); ZI_ERR_INVALID_ARG without parameters; ZI_ERR_NO_DEVICE
    // when the source is gone; ZI_ERR_FAILED when no format could be agreed.
    int32_t startCapture();
    int32_t stopCapture();

    int32_t volume(uint32_t* volume);
    int32_t setVolume(uint8_t volume);
    int32_t mute(uint8_t* mute);
    int32_t setMute(uint8_t mute);

private:
    PipeWireMicrophone(std::shared_ptr<PipeWireSources> sources, SourceInfo info, Subscriptions& subscriptions);
    bool present() const;
    void destroyStream();
    void joinDelivery();
    static void onProcess(void* data);
    static void onStateChanged(void* data, int oldState, int state, const char* error);
    void process(); // the stream's real-time thread
    void deliver(); // the delivery thread
    void take(const int16_t* frames, uint32_t count, int64_t time, int32_t delay, uint32_t lostBefore);
    void skip(uint64_t missing);
    void append(const int16_t* frames, uint32_t count);
    void releaseHeld();
    void emit();

    std::shared_ptr<PipeWireSources> mSources;
    SourceInfo mInfo;
    Subscriptions& mSubscriptions;
    void* mHandle = nullptr;
    std::optional<_ACI_WAVE_FORMAT> mFormat;

    pw_stream* mStream = nullptr;
    std::unique_ptr<spa_hook> mStreamListener;
    std::atomic<bool> mDelivering{false}; // false: buffers are dropped (stopping)
    std::atomic<int> mState{0};           // the stream's pw_stream_state
    std::unique_ptr<CaptureRing> mRing;   // real-time thread -> delivery thread
    std::thread mDelivery;
    std::atomic<bool> mDeliveryRuns{false};
    uint32_t mRate = 0, mChannels = 0;    // of the capture
    uint32_t mFramesPerBuffer = 0;

    // The delivery thread's own.
    std::vector<int16_t> mChunk;          // one cycle's frames, read from the ring
    std::vector<int16_t> mPending;        // frames not yet handed on (less than one buffer)
    uint32_t mPendingFrames = 0;
    int64_t mAnchor = -1;                 // the capture time of frame 0, microseconds
    uint64_t mFrames = 0;                 // frames of the time line so far (lost ones included)
    int64_t mDrift = 0;                   // the clock's offset from the counted line at the last chunk
    int64_t mLatency = 0;                 // the graph's delay when the line was placed, microseconds
    uint64_t mLostFrames = 0;             // frames the server or the ring lost
    // Frames held back while a jump of the clock may be a gap or only a late reading.
    std::vector<int16_t> mHeld;
    uint32_t mHeldFrames = 0;
    bool mSettling = false;               // the held frames are the first, waiting for the line
    int64_t mHeldDrift = 0;               // the latest held chunk's drift
    std::unique_ptr<AacEncoder> mEncoder;
};

} // namespace zi::sys
