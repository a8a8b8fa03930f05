#include "recording/AVAssetWriterAdapter.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "platform/writer/AssetWriterInput.h"

#include <cstdio>
#include <thread>
#include <unistd.h>

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
    if (sample && !queue.enqueue(sample)) {
        // Said once per run of losses, not once per sample.
        if (!mDropping) std::fputs("[FATAL] dropping packet!\n", stderr);
        mDropping = true;
        mDropped.fetch_add(1, std::memory_order_relaxed);
    } else {
        mDropping = false;
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
        if (mAudioInput)
            mAudioInput->requestMediaDataWhenReady(mWriterQueue, [this] { AddSampleFromQueue(mAudioQueue, *mAudioInput); });
        if (mVideoInput)
            mVideoInput->requestMediaDataWhenReady(mWriterQueue, [this] { AddSampleFromQueue(mVideoQueue, *mVideoInput); });
        return 0;
    }
    default:
        return 0;
    }
}

void AVAssetWriterAdapter::AddSampleFromQueue(SimpleQueue<SampleBuffer>& queue, AssetWriterInput& input)
{
    if (!input.isReadyForMoreMediaData()) return;
    for (;;) {
        auto sample = queue.dequeue();
        if (!sample) {
            ::usleep(10000); // keeps the writer's repeated requests from spinning
            return;
        }
        if (!input.appendSampleBuffer(sample)) {
            if (!mRefusedSaid.exchange(true)) SystemLog::log("[FATAL]: Failed to insert sample!!!");
            (void)lost(0);
        }
        sample.reset();
        if (!input.isReadyForMoreMediaData()) return;
    }
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
