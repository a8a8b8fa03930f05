// One open microphone: a PipeWire source node captured through a pw_stream of its own
// (16-bit interleaved PCM, 10 ms buffers), delivered as 10 ms PCM buffers or as raw
// AAC packets of 1024 frames encoded here, each with the monotonic time of its first
// frame in microseconds. Volume and mute are the node's.
//
// Threads: the ABI functions call the public members from any host thread. Buffers
// reach the handle's subscribers on the PipeWire loop thread; a subscriber may stop
// the capture from inside its callback.
#pragma once

#include "PipeWireSources.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

struct pw_stream;
struct spa_hook;

namespace zi {
class AacEncoder;
class Subscriptions;
} // namespace zi

namespace zi::sys {

class PipeWireMicrophone {
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
    static void onProcess(void* data);
    static void onStateChanged(void* data, int oldState, int state, const char* error);
    void process();
    void emit(const int16_t* frames, uint32_t count);

    std::shared_ptr<PipeWireSources> mSources;
    SourceInfo mInfo;
    Subscriptions& mSubscriptions;
    void* mHandle = nullptr;
    std::optional<_ACI_WAVE_FORMAT> mFormat;

    pw_stream* mStream = nullptr;
    std::unique_ptr<spa_hook> mStreamListener;
    std::atomic<bool> mDelivering{false}; // false: buffers are dropped (stopping)
    std::atomic<int> mState{0};           // the stream's pw_stream_state
    std::vector<int16_t> mPending;        // frames not yet handed on (less than one buffer)
    uint32_t mPendingFrames = 0;
    uint32_t mFramesPerBuffer = 0;
    int64_t mBaseTime = -1;               // the time of frame 0 of the capture
    int64_t mWindowMinimum = 0;           // the smallest buffer offset seen in this window
    int mWindowBuffers = 0;
    uint64_t mFramesDelivered = 0;
    std::unique_ptr<AacEncoder> mEncoder;
};

} // namespace zi::sys
