#include "recording/OrvaMovieAssetCreator.h"

#include "platform/media/SampleBuffer.h"
#include "recording/AACAudioSampleGenerator.h"
#include "recording/AVAssetWriterAdapter.h"
#include "recording/H264BoxFormat.h"
#include "recording/H264SampleGenerator.h"
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
            mVideoGenerator = std::make_unique<UncompressedSampleGenerator>(video->width, video->height, video->frameRate);
        else if (video->codec == kCodecAVC1)
            mVideoGenerator = std::make_unique<H264SampleGenerator>(video->width, video->height, video->frameRate);
    }
    mBaseTimestamp = 0;
    mVideoStarted = mAudioStarted = false;
    mAdapter = std::make_unique<AVAssetWriterAdapter>(mPath, video != nullptr, audio != nullptr);
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
            return 0;
        }
        return mAdapter->addVideoSample(sample);
    }
    if (type == Audio) {
        if (!mAudioGenerator) return 0;
        auto sample = mAudioGenerator->CreateSample(data, length, relative);
        if (!sample) {
            ++mDropped;
            return 0;
        }
        return mAdapter->addAudioSample(sample);
    }
    std::printf("*** Unsupported media type [%d] -- ignoring data\n", static_cast<int>(type));
    std::fflush(stdout);
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
    return mDropped.load() + (mAdapter ? mAdapter->droppedSamples() : 0);
}

int32_t OrvaMovieAssetCreator::Close()
{
    std::lock_guard lock(mLock);
    if (mAdapter) {
        mAdapter->finish(); // finishes the movie file
        mDropped += mAdapter->droppedSamples();
    }
    mAdapter.reset();
    mAudioGenerator.reset();
    mVideoGenerator.reset();
    return 0;
}

} // namespace orva
