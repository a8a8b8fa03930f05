// One track's input of an asset writer. requestMediaDataWhenReady runs the given task
// on the given serial queue, again and again, for as long as the input wants data
// (the writer is writing and the input is not marked finished); the task appends
// samples there. isReadyForMoreMediaData may be read from any thread; append and
// markAsFinished belong to that queue.
#pragma once

#include "platform/media/MediaTime.h"

#include <orva/FormatDescription.h>

#include <atomic>
#include <functional>
#include <memory>

namespace orva {

class AssetWriter;
class DispatchQueue;
class SampleBuffer;

class AssetWriterInput : public std::enable_shared_from_this<AssetWriterInput> {
public:
    static std::shared_ptr<AssetWriterInput> create(MediaType mediaType);

    MediaType mediaType() const { return mMediaType; }
    void setExpectsMediaDataInRealTime(bool realTime) { mRealTime = realTime; }
    bool expectsMediaDataInRealTime() const { return mRealTime; }

    void requestMediaDataWhenReady(std::shared_ptr<DispatchQueue> queue, std::function<void()> task);
    bool isReadyForMoreMediaData() const;
    // Hands the sample to the writer (written as it is); false when refused.
    bool appendSampleBuffer(const std::shared_ptr<SampleBuffer>& sample);
    // An audio track's silence up to `until` on the movie's time line (the sound that
    // should have been there did not come); false when nothing could be written.
    bool appendSilenceUntil(const MediaTime& until);
    void markAsFinished();
    bool isFinished() const { return mFinished.load(); }

private:
    friend class AssetWriter;
    explicit AssetWriterInput(MediaType mediaType) : mMediaType(mediaType) {}
    void pump(); // runs the task once on the queue and schedules the next run
    void startPumping();

    MediaType mMediaType;
    bool mRealTime = false;
    std::atomic<bool> mFinished{false};
    std::weak_ptr<AssetWriter> mWriter;
    size_t mTrack = 0; // index among the writer's inputs
    std::shared_ptr<DispatchQueue> mQueue;
    std::function<void()> mTask;
    std::atomic<bool> mPumping{false};
};

} // namespace orva
