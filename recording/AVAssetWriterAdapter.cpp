#include "recording/AVAssetWriterAdapter.h"
#include "platform/foundation/ConsoleLog.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "platform/writer/AssetWriterInput.h"

#include <cstdio>
#include <ctime>

namespace orva {

namespace {

int64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

// Where a sample ends on the movie's time line, in seconds.
double endSeconds(const SampleBuffer& sample)
{
    const auto& timing = sample.timing();
    double end = timing.presentationTimeStamp.seconds();
    if (timing.duration.valid && timing.duration.value > 0) return end + timing.duration.seconds();
    if (const auto* audio = dynamic_cast<const AudioFormatDescription*>(sample.formatDescription().get())) {
        const double rate = audio->streamBasicDescription().mSampleRate;
        if (rate <= 0) return end;
        const bool packets = audio->streamBasicDescription().mFormatID == kAudioFormatIDMPEG4AAC;
        const double frames = packets ? 1024.0 * static_cast<double>(std::max<size_t>(1, sample.packetDescriptions().size()))
                                      : static_cast<double>(sample.numSamples());
        end += frames / rate;
    }
    return end;
}

} // namespace

AVAssetWriterAdapter::AVAssetWriterAdapter(const std::string& path, bool hasVideo, bool hasAudio,
                                           uint64_t bytesPerMinute)
    : mPath(path), mHasAudio(hasAudio), mHasVideo(hasVideo), mBytesPerMinute(bytesPerMinute)
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
    ConsoleLog::print(OrvaLogLevel::Info, ConsoleLog::Stream::StandardOutput,
                      "Starting writing [%s] with audio = %p, video = %p\n", mPath.c_str(),
                      static_cast<void*>(mAudioInput.get()), static_cast<void*>(mVideoInput.get()));
}

int32_t AVAssetWriterAdapter::addVideoSample(const std::shared_ptr<SampleBuffer>& sample)
{
    if (mStoppedForSpace.load()) return kErrorDiskFull; // ended a minute before the disk is full: not lost
    if (const int32_t failed = failure()) return lost(true, failed);
    if (mWaitingForKeyFrame && sample) {
        const auto& format = sample->formatDescription();
        const Value depends = sample->sampleAttachmentsIfPresent().get(kSampleAttachmentKey_DependsOnOthers);
        const bool independent = depends.number() && !depends.number()->boolValue();
        if (format && format->mediaSubType() == kCodecAVC1 && !independent) {
            ConsoleLog::print(OrvaLogLevel::Warning, ConsoleLog::Stream::StandardOutput, "Samples are being discarded!!!\n");
            return lost(true, 0);
        }
        mWaitingForKeyFrame = false;
    }
    const int32_t result = addSample(sample, mVideoInput);
    if (result != 0) mWaitingForKeyFrame = true; // after a failure, H.264 resumes at a key frame
    return result;
}

int32_t AVAssetWriterAdapter::addAudioSample(const std::shared_ptr<SampleBuffer>& sample)
{
    if (mStoppedForSpace.load()) return kErrorDiskFull;
    if (const int32_t failed = failure()) return lost(false, failed);
    return addSample(sample, mAudioInput);
}

int32_t AVAssetWriterAdapter::failure() const
{
    return mFailure.load(std::memory_order_acquire);
}

int32_t AVAssetWriterAdapter::lost(bool video, int32_t result)
{
    (video ? mVideoDropped : mAudioDropped).fetch_add(1, std::memory_order_relaxed);
    return result;
}

int32_t AVAssetWriterAdapter::addSample(const std::shared_ptr<SampleBuffer>& sample,
                                        const std::shared_ptr<AssetWriterInput>& input)
{
    if (!input || mFinished) return 0;
    std::lock_guard lock(mLock);
    auto& queue = input == mVideoInput ? mVideoQueue : mAudioQueue;
    bool& dropping = input == mVideoInput ? mVideoDropping : mAudioDropping;
    const bool video = input == mVideoInput;
    const double pts = sample ? sample->timing().presentationTimeStamp.seconds() : 0;
    if (sample && !queue.enqueue(sample)) {
        // Said once per run of losses of the track, not once per sample.
        if (!dropping) ConsoleLog::print(OrvaLogLevel::Error, ConsoleLog::Stream::StandardError, "[FATAL] dropping packet!\n");
        dropping = true;
        (void)lost(video, 0);
    } else {
        if (sample && video) mNewestVideo.store(pts, std::memory_order_relaxed);
        if (sample && !video) mLastSoundArrival.store(monotonicMicroseconds(), std::memory_order_relaxed);
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
    watchSpace();
    for (;;) {
        SampleBuffer* audio = mAudioInput && mAudioInput->isReadyForMoreMediaData() ? mAudioQueue.front() : nullptr;
        SampleBuffer* video = mVideoInput && mVideoInput->isReadyForMoreMediaData() ? mVideoQueue.front() : nullptr;
        if (!audio && !video) break;
        if (!audio && waitsForSound(*video)) break;
        const bool takeAudio = audio && (!video || audio->timing().presentationTimeStamp.seconds() <=
                                                      video->timing().presentationTimeStamp.seconds());
        auto& queue = takeAudio ? mAudioQueue : mVideoQueue;
        auto& input = takeAudio ? *mAudioInput : *mVideoInput;
        auto sample = queue.dequeue();
        if (takeAudio && mSoundEnd >= 0 && sample->timing().presentationTimeStamp.seconds() < mSoundEnd - 0.001) {
            (void)lost(false, 0); // sound for time already filled with silence
            continue;
        }
        if (!input.appendSampleBuffer(sample)) {
            if (!mRefusedSaid.exchange(true)) SystemLog::log("[FATAL]: Failed to insert sample!!!");
            (void)lost(!takeAudio, 0);
        } else if (takeAudio) {
            mSoundEnd = std::max(mSoundEnd, endSeconds(*sample));
            mStalledMicroseconds.fetch_add(static_cast<int64_t>(sample->filledDuration().seconds() * 1e6),
                                           std::memory_order_relaxed);
            if (mAudioStalled.exchange(false)) SystemLog::log("Sound is back");
        }
    }
    std::unique_lock lock(mLock);
    if (mStopping) return;
    mWriterWaiting = true;
    mWork.wait_for(lock, kWriterPatience, [this] { return mStopping || !mWriterWaiting; });
    mWriterWaiting = false;
}

bool AVAssetWriterAdapter::waitsForSound(const SampleBuffer& video)
{
    if (!mAudioInput || mSoundEnd < 0 || mFinishing) return false;
    const double pts = video.timing().presentationTimeStamp.seconds();
    if (pts <= mSoundEnd + kInterleave) return false;
    // Sound that still comes, only late, is waited for (up to what the queues hold);
    // sound that stopped coming is a stalled microphone.
    const int64_t quiet = monotonicMicroseconds() - mLastSoundArrival.load(std::memory_order_relaxed);
    const bool full = mVideoQueue.count() + 8 >= mVideoQueue.capacity();
    if (quiet < static_cast<int64_t>(kAudioStall * 1e6) && !full) return true;
    if (!mAudioInput->appendSilenceUntil(video.timing().presentationTimeStamp)) return false;
    if (!mAudioStalled.exchange(true))
        SystemLog::log("No sound for %.1f s: writing silence", static_cast<double>(quiet) / 1e6);
    mStalledMicroseconds.fetch_add(static_cast<int64_t>((pts - mSoundEnd) * 1e6), std::memory_order_relaxed);
    mSoundEnd = pts;
    return false;
}

// A minute before the disk is full (at the rate the movie grows, or what its
// formats need when that is more), the recording ends cleanly.
void AVAssetWriterAdapter::watchSpace()
{
    const int64_t now = monotonicMicroseconds();
    if (now - mLastSpaceCheck < 1000000 || !mWriter || mStoppedForSpace.load()) return;
    mLastSpaceCheck = now;
    const auto free = FileManager::defaultManager().freeSpace(mPath);
    if (!free) return;
    const double seconds = std::max(1.0, mSoundEnd >= 0 ? mSoundEnd : mNewestVideo.load());
    const uint64_t perMinute =
        std::max<uint64_t>(mBytesPerMinute, static_cast<uint64_t>(static_cast<double>(mWriter->bytesWritten()) / seconds * 60));
    if (*free >= perMinute) return;
    SystemLog::log("Less than a minute of room left on the disk holding %s: the recording ends", mPath.c_str());
    mStoppedForSpace = true;
    mFailure.store(kErrorDiskFull, std::memory_order_release);
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
                // What is queued is written (the capture threads have stopped adding).
                mFinishing = true;
                AddSamplesFromQueues();
                // A microphone stalled to the end: its silence lasts as long as the video.
                const double videoEnd = mNewestVideo.load();
                if (mAudioInput && mSoundEnd >= 0 && videoEnd > mSoundEnd + kAudioStall &&
                    mAudioInput->appendSilenceUntil(MediaTime::make(static_cast<int64_t>(videoEnd * 1e6), 1000000))) {
                    mStalledMicroseconds.fetch_add(static_cast<int64_t>((videoEnd - mSoundEnd) * 1e6));
                    mSoundEnd = videoEnd;
                }
                if (mVideoInput) mVideoInput->markAsFinished();
                if (mAudioInput) mAudioInput->markAsFinished();
                mWriter->finishWriting();
                mFinishResult = mWriter->finishResult();
                mBytesWritten = mWriter->bytesWritten();
            }
        });
    }
    mVideoInput.reset();
    mAudioInput.reset();
    mWriter.reset();
    mWriterQueue.reset();
    {
        std::lock_guard lock(mLock);
        // Samples the writer could not take (it failed) count as lost.
        while (mAudioQueue.dequeue()) (void)lost(false, 0);
        while (mVideoQueue.dequeue()) (void)lost(true, 0);
        mFinished = true;
    }
    ConsoleLog::print(OrvaLogLevel::Info, ConsoleLog::Stream::StandardOutput, "Finished writing [%s]\n", mPath.c_str());
}

} // namespace orva
