#include "recording/AVAssetWriterAdapter.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "platform/writer/AssetWriterInput.h"

#include <cstdio>

namespace orva {

AVAssetWriterAdapter::AVAssetWriterAdapter(const std::string& path, bool hasVideo, bool hasAudio)
    : mPath(path), mHasAudio(hasAudio), mHasVideo(hasVideo)
{
    setup();
}

AVAssetWriterAdapter::~AVAssetWriterAdapter()
{
    finish();
}

void AVAssetWriterAdapter::setup()
{
    {
        std::lock_guard lock(mLock);
        mWriter = AssetWriter::create(mPath); // a new file: nothing at the path is removed or followed
        if (mWriter) {
            if (mHasVideo) {
                mVideoInput = AssetWriterInput::create(MediaType::Video);
                if (mWriter->canAddInput(mVideoInput)) {
                    mWriter->addInput(mVideoInput);
                    mVideoInput->setExpectsMediaDataInRealTime(true);
                }
            }
            if (mHasAudio) {
                mAudioInput = AssetWriterInput::create(MediaType::Audio);
                if (mWriter->canAddInput(mAudioInput)) {
                    mWriter->addInput(mAudioInput);
                    mAudioInput->setExpectsMediaDataInRealTime(true);
                }
            }
        }
        mWriterQueue = DispatchQueue::create("Media Writer Queue");
    }
    std::printf("Starting writing [%s] with audio = %p, video = %p\n", mPath.c_str(),
                static_cast<void*>(mAudioInput.get()), static_cast<void*>(mVideoInput.get()));
    std::fflush(stdout);
}

int32_t AVAssetWriterAdapter::addVideoSample(const std::shared_ptr<SampleBuffer>& sample)
{
    if (const int32_t failed = failure()) return lost(failed);
    if (mWaitingForKeyFrame && sample) {
        const auto& format = sample->formatDescription();
        const Value depends = sample->sampleAttachmentsIfPresent().get(kSampleAttachmentKey_DependsOnOthers);
        const bool independent = depends.number() && !depends.number()->boolValue();
        if (format && format->mediaSubType() == kCodecAVC1 && !independent) {
            std::printf("Samples are being discarded!!!\n");
            std::fflush(stdout);
            return lost(0);
        }
        mWaitingForKeyFrame = false;
    }
    const int32_t result = addSample(sample, mVideoInput);
    if (result != 0) mWaitingForKeyFrame = true; // after a failure, H.264 resumes at a key frame
    return result;
}

int32_t AVAssetWriterAdapter::addAudioSample(const std::shared_ptr<SampleBuffer>& sample)
{
    if (const int32_t failed = failure()) return lost(failed);
    return addSample(sample, mAudioInput);
}

int32_t AVAssetWriterAdapter::failure() const
{
    return mFailure.load(std::memory_order_acquire);
}

int32_t AVAssetWriterAdapter::lost(int32_t result)
{
    mDropped.fetch_add(1, std::memory_order_relaxed);
    return result;
}

int32_t AVAssetWriterAdapter::addSample(const std::shared_ptr<SampleBuffer>& sample,
                                        const std::shared_ptr<AssetWriterInput>& input)
{
    if (!input || mFinished) return 0;
    std::lock_guard lock(mLock);
    auto& queue = input == mVideoInput ? mVideoQueue : mAudioQueue;
    bool& dropping = input == mVideoInput ? mVideoDropping : mAudioDropping;
    if (sample && !queue.enqueue(sample)) {
        // Said once per run of losses of the track, not once per sample.
        if (!dropping) std::fputs("[FATAL] dropping packet!\n", stderr);
        dropping = true;
        mDropped.fetch_add(1, std::memory_order_relaxed);
    } else {
        dropping = false;
        // The waiting writer is woken for a batch, not for every sample (it looks on
        // its own after kWriterPatience): far fewer wake-ups, the same bytes on disk.
        if (mWriterWaiting && mAudioQueue.count() + mVideoQueue.count() >= kWakeBatch) {
            mWriterWaiting = false;
            mWork.notify_one();
        }
    }
    return addSamplePriv(sample, input);
}

int32_t AVAssetWriterAdapter::addSamplePriv(const std::shared_ptr<SampleBuffer>& sample,
                                            const std::shared_ptr<AssetWriterInput>& input)
{
    if (!sample || !input || !mWriter) return 0;
    switch (mWriter->status()) {
    case AssetWriter::Status::Failed: {
        // The first failure is said once; from then on every sample is refused at once.
        const auto error = mWriter->error();
        SystemLog::log("Asset writer failed [%s]", error.description().c_str());
        const int32_t code = AVErrorToMovieCreatorError(error.code);
        mFailure.store(code, std::memory_order_release);
        return code;
    }
    case AssetWriter::Status::Unknown: {
        if (mWriter->startWriting()) mWriter->startSessionAtSourceTime(MediaTime::zero());
        // The pull tasks are registered either way, audio first, once.
        if (mAudioInput) mAudioInput->requestMediaDataWhenReady(mWriterQueue, [this] { AddSamplesFromQueues(); });
        if (mVideoInput) mVideoInput->requestMediaDataWhenReady(mWriterQueue, [this] { AddSamplesFromQueues(); });
        return 0;
    }
    default:
        return 0;
    }
}

// Moves queued samples into the writer, the earlier of the two queues' oldest first,
// so the tracks advance together; with both queues empty it waits until a capture
// thread queues a sample or finishing begins.
void AVAssetWriterAdapter::AddSamplesFromQueues()
{
    for (;;) {
        SampleBuffer* audio = mAudioInput && mAudioInput->isReadyForMoreMediaData() ? mAudioQueue.front() : nullptr;
        SampleBuffer* video = mVideoInput && mVideoInput->isReadyForMoreMediaData() ? mVideoQueue.front() : nullptr;
        if (!audio && !video) break;
        const bool takeAudio = audio && (!video || audio->timing().presentationTimeStamp.seconds() <=
                                                      video->timing().presentationTimeStamp.seconds());
        auto& queue = takeAudio ? mAudioQueue : mVideoQueue;
        auto& input = takeAudio ? *mAudioInput : *mVideoInput;
        auto sample = queue.dequeue();
        if (!input.appendSampleBuffer(sample)) {
            if (!mRefusedSaid.exchange(true)) SystemLog::log("[FATAL]: Failed to insert sample!!!");
            (void)lost(0);
        }
    }
    std::unique_lock lock(mLock);
    if (mStopping) return;
    mWriterWaiting = true;
    mWork.wait_for(lock, kWriterPatience, [this] { return mStopping || !mWriterWaiting; });
    mWriterWaiting = false;
}

int32_t AVAssetWriterAdapter::AVErrorToMovieCreatorError(int code) const
{
    if (code == AssetWriter::kErrorDiskFull) return kErrorDiskFull;
    if (code == AssetWriter::kErrorCannotCreateFile) return kErrorCannotCreateFile;
    const auto free = FileManager::defaultManager().freeSpace(mPath);
    if (!free) return kErrorWriterFailed;
    return *free < kLowDiskSpace ? kErrorDiskFull : kErrorWriterFailed;
}

void AVAssetWriterAdapter::finish()
{
    if (mFinished) return;
    {
        std::lock_guard lock(mLock);
        mStopping = true;
    }
    mWork.notify_all();
    if (mWriterQueue) {
        mWriterQueue->sync([this] {
            if (mWriter && (mWriter->status() == AssetWriter::Status::Writing ||
                            mWriter->status() == AssetWriter::Status::Failed)) {
                if (mVideoInput) mVideoInput->markAsFinished();
                if (mAudioInput) mAudioInput->markAsFinished();
                mWriter->finishWriting();
            }
        });
    }
    mVideoInput.reset();
    mAudioInput.reset();
    mWriter.reset();
    mWriterQueue.reset();
    {
        std::lock_guard lock(mLock);
        // Samples still queued are not written; they count as lost.
        while (mAudioQueue.dequeue()) mDropped.fetch_add(1, std::memory_order_relaxed);
        while (mVideoQueue.dequeue()) mDropped.fetch_add(1, std::memory_order_relaxed);
        mFinished = true;
    }
    std::printf("Finished writing [%s]\n", mPath.c_str());
    std::fflush(stdout);
}

} // namespace orva
