// Writes one QuickTime movie with at most one video and one audio track. Capture
// threads hand it finished samples (through the movie creator, whose lock serialises
// them); each goes into a bounded queue for its track (300 video, 1000 audio
// samples), and a pull task on the serial "Media Writer Queue" moves queued samples
// into the writer when it asks for more, the earlier of the two tracks first; with
// nothing queued it waits until a batch is queued or 50 ms have passed (a wake-up per
// batch, not per sample). Adding never waits for the file. H.264
// video is held back until a key frame. finish() (run by the destructor) waits for
// the writer queue and blocks until the file is complete; never call it from that queue.
#pragma once

#include <orva/OrvaStatus.h>

#include "platform/media/SampleBuffer.h"
#include "platform/media/SimpleQueue.h"

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

    AVAssetWriterAdapter(const std::string& path, bool hasVideo, bool hasAudio);
    ~AVAssetWriterAdapter();
    AVAssetWriterAdapter(const AVAssetWriterAdapter&) = delete;
    AVAssetWriterAdapter& operator=(const AVAssetWriterAdapter&) = delete;

    // 0 (taken, discarded while waiting for a key frame, or no such track), or -198,
    // -199, -200 when the writer has failed.
    [[nodiscard]] int32_t addVideoSample(const std::shared_ptr<SampleBuffer>& sample);
    [[nodiscard]] int32_t addAudioSample(const std::shared_ptr<SampleBuffer>& sample);
    void finish();
    // Samples lost so far: to a full queue, while waiting for a key frame, or refused
    // by the writer (after it failed). Any thread.
    uint64_t droppedSamples() const { return mDropped.load(std::memory_order_relaxed); }
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
    // Counts a sample lost on the way; answers `result`.
    int32_t lost(int32_t result);

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
    std::atomic<uint64_t> mDropped{0}; // every sample lost: full queue, waiting for a key frame, refused
    std::atomic<int32_t> mFailure{0};
    bool mAudioDropping = false, mVideoDropping = false; // under mLock: the track's last sample was dropped too
    std::atomic<bool> mRefusedSaid{false};
};

} // namespace orva
