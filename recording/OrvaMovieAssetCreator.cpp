#include "recording/OrvaMovieAssetCreator.h"
#include "platform/foundation/ConsoleLog.h"

#include "platform/media/SampleBuffer.h"
#include "recording/AACAudioSampleGenerator.h"
#include "recording/AVAssetWriterAdapter.h"
#include "recording/H264BoxFormat.h"
#include "recording/H264SampleGenerator.h"
#include "recording/MovieBudget.h"
#include "recording/PCMAudioSampleGenerator.h"
#include "recording/UncompressedSampleGenerator.h"

#include <cstdio>

namespace orva {

std::unique_ptr<OrvaMovieCreator> CreateMovieCreator(const char* path)
{
    return std::make_unique<OrvaMovieAssetCreator>(path ? path : "");
}

OrvaMovieAssetCreator::OrvaMovieAssetCreator(std::string path) : OrvaMovieCreator(std::move(path)) {}

OrvaMovieAssetCreator::~OrvaMovieAssetCreator() = default;

int32_t OrvaMovieAssetCreator::Open(const _OrvaVideoDescription* video, const _OrvaAudioDescription* audio)
{
    std::lock_guard lock(mLock);
    if (audio) {
        mAudioDescription = *audio;
        if (audio->format == kAudioFormatMPEG4AAC)
            mAudioGenerator = std::make_unique<AACAudioSampleGenerator>(audio->sampleRate, audio->channels);
        else if (audio->format == kAudioFormatLinearPCM)
            mAudioGenerator =
                std::make_unique<PCMAudioSampleGenerator>(audio->sampleRate, audio->channels, audio->bitsPerSample);
    }
    if (video) {
        mVideoDescription = *video;
        if (video->codec == kCodec2VUY)
            mVideoGenerator = std::make_unique<UncompressedSampleGenerator>(video->width, video->height, video->frameRate,
                                                                            video->frameInterval);
        else if (video->codec == kCodecAVC1)
            mVideoGenerator = std::make_unique<H264SampleGenerator>(video->width, video->height, video->frameRate,
                                                                    video->frameInterval);
    }
    mBaseTimestamp = 0;
    mVideoStarted = mAudioStarted = false;
    mVideoDropped = mAudioDropped = mVideoTaken = mAudioTaken = 0;
    mFinalStats = {};
    // A track only for a medium that is recorded: a description of nothing (no
    // microphone) must not hold the movie back waiting for its first sample.
    mAdapter = std::make_unique<AVAssetWriterAdapter>(mPath, mVideoGenerator != nullptr, mAudioGenerator != nullptr,
                                                      MovieBudget::bytesPerMinute(video, audio));
    return 0;
}

int32_t OrvaMovieAssetCreator::AddSampleToMovie(uint8_t* data, uint32_t length, uint64_t timestamp,
                                                OrvaMediaType type)
{
    std::lock_guard lock(mLock);
    if (!mAdapter) return 0;
    if (mBaseTimestamp == 0) mBaseTimestamp = timestamp;
    bool unused = false;
    bool& started = type == Video ? mVideoStarted : type == Audio ? mAudioStarted : unused;
    uint64_t relative = 0;
    if (timestamp >= mBaseTimestamp) {
        relative = timestamp - mBaseTimestamp;
    } else if (started || mBaseTimestamp - timestamp > kEarlyFirstSample) {
        return 0; // from before the recording's first sample
    }
    // else: a track's first sample captured just before the other track's first (a
    // camera's frame arrives later than the microphone's buffer captured after it)
    // starts its track at 0 rather than being lost; for H.264 it is the key frame.
    started = true;
    if (type == Video) {
        if (!mVideoGenerator) return 0;
        if (mVideoDescription.codec == kCodecAVC1) H264ConvertStreamToBoxFormat(data, length);
        auto sample = mVideoGenerator->CreateSample(data, length, relative);
        if (!sample) {
            ++mDropped; // out of order, or not a picture the movie can take
            ++mVideoDropped;
            return 0;
        }
        ++mVideoTaken;
        return mAdapter->addVideoSample(sample);
    }
    if (type == Audio) {
        if (!mAudioGenerator) return 0;
        auto sample = mAudioGenerator->CreateSample(data, length, relative);
        if (!sample) {
            ++mDropped;
            ++mAudioDropped;
            return 0;
        }
        ++mAudioTaken;
        return mAdapter->addAudioSample(sample);
    }
    ConsoleLog::print(OrvaLogLevel::Error, ConsoleLog::Stream::StandardOutput, "*** Unsupported media type [%d] -- ignoring data\n",
                      static_cast<int>(type));
    return kErrorUnsupportedMediaType;
}

size_t OrvaMovieAssetCreator::queuedSamples() const
{
    std::lock_guard lock(mLock);
    return mAdapter ? mAdapter->queuedSamples() : 0;
}

uint64_t OrvaMovieAssetCreator::droppedSamples() const
{
    std::lock_guard lock(mLock);
    if (!mAdapter) return mDropped.load();
    const auto counts = countsLocked();
    return counts.videoDropped + counts.audioDropped;
}

// What the generators and the adapter counted so far; under mLock, with an adapter.
OrvaMovieStats OrvaMovieAssetCreator::countsLocked() const
{
    OrvaMovieStats stats;
    const uint64_t videoLost = mAdapter->droppedVideoSamples(), audioLost = mAdapter->droppedAudioSamples();
    stats.videoDropped = mVideoDropped + videoLost;
    // Sound the device or the sound server lost shows as silence put in its place.
    stats.audioDropped = mAudioDropped + audioLost + (mAudioGenerator ? mAudioGenerator->silentPackets() : 0);
    stats.audioSilenceSeconds = mAdapter->stalledSeconds(); // what was written, not what was made
    stats.videoFrames = mVideoTaken > videoLost ? mVideoTaken - videoLost : 0;
    stats.audioBuffers = mAudioTaken > audioLost ? mAudioTaken - audioLost : 0;
    stats.audioStalled = mAdapter->audioStalled();
    stats.stoppedForSpace = mAdapter->stoppedForSpace();
    return stats;
}

OrvaMovieStats OrvaMovieAssetCreator::movieStats() const
{
    std::lock_guard lock(mLock);
    return mAdapter ? countsLocked() : mFinalStats;
}

int32_t OrvaMovieAssetCreator::Close()
{
    std::lock_guard lock(mLock);
    if (mAdapter) {
        mAdapter->finish(); // finishes the movie file
        mFinalStats = countsLocked();
        const auto& finished = mAdapter->finishResult();
        mFinalStats.finished = finished.ok;
        mFinalStats.seconds = finished.seconds;
        mFinalStats.notes = finished.notes;
        mFinalStats.nothingRecorded = !mAdapter->wroteAnything() || finished.nothingComplete;
        if (!finished.ok) mFinalStats.problem = finished.error;
        mDropped = mFinalStats.videoDropped + mFinalStats.audioDropped;
    }
    mAdapter.reset();
    mAudioGenerator.reset();
    mVideoGenerator.reset();
    return 0;
}

} // namespace orva
