// Writes one QuickTime movie with at most one video and one audio track. Capture
// threads hand it finished samples (through the movie creator, whose lock serialises
// them); each goes into a bounded queue for its track (300 video, 1000 audio
// samples), and a pull task on the serial "Media Writer Queue" moves queued samples
// into the writer when it asks for more, the earlier of the two tracks first; with
// nothing queued it waits until a batch is queued or 50 ms have passed (a wake-up per
// batch, not per sample). Adding never waits for the file. H.264
// video is held back until a key frame.
//
// Both tracks advance together in the file, so every fragment holds both: video is
// held while it is more than kInterleave ahead of the sound written. A microphone
// that delivers nothing while the video runs kAudioStall ahead is stalled: its
// silence is written up to the video ("No sound for N s: writing silence" in the
// log, once per stall), and sound that arrives late for time already filled is
// dropped. finish() (run by the destructor) writes what is queued, waits for the
// writer queue and blocks until the file is complete; never call it from that queue.
#pragma once

#include <orva/OrvaStatus.h>

#include "platform/media/SampleBuffer.h"
#include "platform/media/SimpleQueue.h"
#include "platform/writer/MovieFinisher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace orva {

class AssetWriter;
class AssetWriterInput;
class DispatchQueue;

class AVAssetWriterAdapter {
public:
    static constexpr int32_t kErrorCannotCreateFile = kOrvaErrorCannotCreateFile;
    static constexpr int32_t kErrorDiskFull = kOrvaErrorDiskFull;
    static constexpr int32_t kErrorWriterFailed = kOrvaErrorWriterFailed;
    static constexpr size_t kAudioQueueCapacity = 1000;
    static constexpr size_t kVideoQueueCapacity = 300;
    static constexpr uint64_t kLowDiskSpace = 4000000;
    // The writer, with nothing queued, waits until this many samples are queued or
    // this long has passed, whichever comes first.
    static constexpr size_t kWakeBatch = 16;
    static constexpr std::chrono::milliseconds kWriterPatience{50};

    // `bytesPerMinute`: what the movie's formats need a minute at most (the recording
    // ends when less than that is left on the disk); 0 watches the rate written only.
    AVAssetWriterAdapter(const std::string& path, bool hasVideo, bool hasAudio, uint64_t bytesPerMinute = 0);
    ~AVAssetWriterAdapter();
    AVAssetWriterAdapter(const AVAssetWriterAdapter&) = delete;
    AVAssetWriterAdapter& operator=(const AVAssetWriterAdapter&) = delete;

    // 0 (taken, discarded while waiting for a key frame, or no such track), or -198,
    // -199, -200 when the writer has failed.
    [[nodiscard]] int32_t addVideoSample(const std::shared_ptr<SampleBuffer>& sample);
    [[nodiscard]] int32_t addAudioSample(const std::shared_ptr<SampleBuffer>& sample);
    void finish();
    static constexpr double kInterleave = 0.1;  // seconds video may run ahead of the sound written
    static constexpr double kAudioStall = 1.0;  // seconds without sound that make it silence

    // Samples lost so far: to a full queue, while waiting for a key frame, refused
    // by the writer (after it failed), or sound too late for time already filled.
    // Any thread.
    uint64_t droppedSamples() const { return droppedVideoSamples() + droppedAudioSamples(); }
    uint64_t droppedVideoSamples() const { return mVideoDropped.load(std::memory_order_relaxed); }
    uint64_t droppedAudioSamples() const { return mAudioDropped.load(std::memory_order_relaxed); }
    // Seconds of silence written: for a stalled microphone, and inside the samples
    // for sound lost on the way (as their generators marked). Any thread.
    double stalledSeconds() const { return mStalledMicroseconds.load(std::memory_order_relaxed) / 1e6; }
    // Whether the microphone is stalled now (nothing for kAudioStall while the video
    // runs). Any thread.
    bool audioStalled() const { return mAudioStalled.load(std::memory_order_relaxed); }
    // The writer's own figures, once finished.
    const MovieFinisher::Result& finishResult() const { return mFinishResult; }
    // Whether any byte reached the file (after finish).
    bool wroteAnything() const { return mBytesWritten > 0; }
    // Set when the writer stopped because the disk is nearly full (a minute left).
    bool stoppedForSpace() const { return mStoppedForSpace.load(); }
    // Samples waiting in the queues for the writer. Any thread.
    size_t queuedSamples() const { return mAudioQueue.count() + mVideoQueue.count(); }

    // The writer's error code as a movie creator code.
    int32_t AVErrorToMovieCreatorError(int code) const;

private:
    void setup();
    int32_t addSample(const std::shared_ptr<SampleBuffer>& sample, const std::shared_ptr<AssetWriterInput>& input);
    int32_t addSamplePriv(const std::shared_ptr<SampleBuffer>& sample, const std::shared_ptr<AssetWriterInput>& input);
    void AddSamplesFromQueues();
    // The writer's failure as a movie creator code once it failed; 0 while it writes.
    int32_t failure() const;
    // Counts a sample of the track lost on the way; answers `result`.
    int32_t lost(bool video, int32_t result);
    // Whether the video sample at the head waits for the sound to catch up; fills
    // a stalled microphone's silence instead when it has waited long enough.
    bool waitsForSound(const SampleBuffer& video);
    void watchSpace();

    SimpleQueue<SampleBuffer> mAudioQueue{kAudioQueueCapacity};
    SimpleQueue<SampleBuffer> mVideoQueue{kVideoQueueCapacity};
    std::shared_ptr<AssetWriterInput> mAudioInput;
    std::shared_ptr<AssetWriterInput> mVideoInput;
    std::shared_ptr<AssetWriter> mWriter;
    std::mutex mLock;
    std::condition_variable mWork; // with mLock: a sample was queued, or finishing began
    bool mWriterWaiting = false;   // under mLock: the writer waits on mWork
    bool mStopping = false;        // under mLock
    bool mWaitingForKeyFrame = true;
    std::string mPath;
    std::shared_ptr<DispatchQueue> mWriterQueue;
    bool mHasAudio;
    bool mHasVideo;
    bool mFinished = false;
    std::atomic<uint64_t> mVideoDropped{0}, mAudioDropped{0}; // every sample lost, per track
    std::atomic<double> mNewestVideo{-1}; // presentation time of the newest video queued, seconds
    double mSoundEnd = -1;                // writer queue: where the sound written ends, seconds; -1 none yet
    std::atomic<bool> mAudioStalled{false};
    std::atomic<int64_t> mStalledMicroseconds{0};
    int64_t mLastSpaceCheck = 0;          // writer queue: monotonic microseconds
    std::atomic<bool> mStoppedForSpace{false};
    std::atomic<int64_t> mLastSoundArrival{0}; // monotonic microseconds of the last sound queued
    bool mFinishing = false;                   // writer queue: writing out what is queued
    uint64_t mBytesPerMinute = 0;              // what the tracks' formats need a minute
    MovieFinisher::Result mFinishResult;
    uint64_t mBytesWritten = 0; // at finish
    std::atomic<int32_t> mFailure{0};
    bool mAudioDropping = false, mVideoDropping = false; // under mLock: the track's last sample was dropped too
    std::atomic<bool> mRefusedSaid{false};
};

} // namespace orva
