// Writes one QuickTime movie with at most one video and one audio track. Capture
// threads hand it finished samples (through the movie creator, whose lock serialises
// them); each goes into a bounded queue for its track (300 video, 1000 audio
// samples), and a pull task on the serial "Media Writer Queue" moves queued samples
// into the writer when it asks for more. Adding never waits for the file. H.264
// video is held back until a key frame. finish() (run by the destructor) waits for
// the writer queue and blocks until the file is complete; never call it from that queue.
#pragma once

#include <orva/OrvaStatus.h>

#include "platform/media/SampleBuffer.h"
#include "platform/media/SimpleQueue.h"

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

    AVAssetWriterAdapter(const std::string& path, bool hasVideo, bool hasAudio);
    ~AVAssetWriterAdapter();
    AVAssetWriterAdapter(const AVAssetWriterAdapter&) = delete;
    AVAssetWriterAdapter& operator=(const AVAssetWriterAdapter&) = delete;

    // 0 (taken, discarded while waiting for a key frame, or no such track), or -198,
    // -199, -200 when the writer has failed.
    [[nodiscard]] int32_t addVideoSample(const std::shared_ptr<SampleBuffer>& sample);
    [[nodiscard]] int32_t addAudioSample(const std::shared_ptr<SampleBuffer>& sample);
    void finish();
    // Samples lost to a full queue so far.
    uint64_t droppedSamples() const { return mDropped; }

    // The writer's error code as a movie creator code.
    int32_t AVErrorToMovieCreatorError(int code) const;

private:
    void setup();
    int32_t addSample(const std::shared_ptr<SampleBuffer>& sample, const std::shared_ptr<AssetWriterInput>& input);
    int32_t addSamplePriv(const std::shared_ptr<SampleBuffer>& sample, const std::shared_ptr<AssetWriterInput>& input);
    static void AddSampleFromQueue(SimpleQueue<SampleBuffer>& queue, AssetWriterInput& input);

    SimpleQueue<SampleBuffer> mAudioQueue{kAudioQueueCapacity};
    SimpleQueue<SampleBuffer> mVideoQueue{kVideoQueueCapacity};
    std::shared_ptr<AssetWriterInput> mAudioInput;
    std::shared_ptr<AssetWriterInput> mVideoInput;
    std::shared_ptr<AssetWriter> mWriter;
    std::mutex mLock;
    bool mWaitingForKeyFrame = true;
    std::string mPath;
    std::shared_ptr<DispatchQueue> mWriterQueue;
    bool mHasAudio;
    bool mHasVideo;
    bool mFinished = false;
    uint64_t mDropped = 0; // under mLock
};

} // namespace orva
