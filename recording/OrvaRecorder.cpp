#include <orva/OrvaRecorder.h>

#include "recording/RecorderTesting.h"

#include <atomic>

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/RunLoop.h>

namespace orva {

namespace {
std::atomic<double> gClosingTurn{0.5}; // seconds the run loop turns before the movie closes
} // namespace

void setRecorderClosingTurnForTesting(double seconds)
{
    gClosingTurn = seconds;
}


OrvaRecorder::~OrvaRecorder()
{
    if (isRecording()) (void)closeRecorder();
}

_OrvaVideoDescription OrvaRecorder::describeVideo(const OrvaVideoDevice* camera)
{
    _OrvaVideoDescription d;
    auto format = camera ? std::dynamic_pointer_cast<const VideoFormatDescription>(camera->getFormat()) : nullptr;
    if (!format) return d;
    d.width = format->dimensions().width;
    d.height = format->dimensions().height;
    d.codec = format->mediaSubType();
    d.frameInterval = camera->captureFrameInterval();
    d.frameRate = d.frameInterval > 0 ? static_cast<int32_t>((10000000 + d.frameInterval / 2) / d.frameInterval) : 30;
    return d;
}

_OrvaAudioDescription OrvaRecorder::describeAudio(const OrvaAudioDevice* microphone)
{
    _OrvaAudioDescription d;
    auto format = microphone ? std::dynamic_pointer_cast<const AudioFormatDescription>(microphone->getFormat()) : nullptr;
    if (!format) return d;
    const auto& asbd = format->streamBasicDescription();
    d.format = static_cast<uint16_t>(asbd.mFormatID & 0xFFFF);
    d.channels = static_cast<uint16_t>(asbd.mChannelsPerFrame & 0xFFFF);
    d.sampleRate = asbd.mSampleRate > 0 && asbd.mSampleRate < 4294967296.0 ? static_cast<uint32_t>(asbd.mSampleRate) : 0;
    d.bitsPerSample = static_cast<uint16_t>(asbd.mBitsPerChannel & 0xFFFF);
    return d;
}

int32_t OrvaRecorder::openRecorderWithFilPath(const std::string& path, const OrvaVideoDevice* videoStream,
                                              const OrvaAudioDevice* audioStream)
{
    auto creator = CreateMovieCreator(path.c_str());
    if (!creator) return kStatusNoMovieCreator;
    const _OrvaVideoDescription video = describeVideo(videoStream);
    const _OrvaAudioDescription audio = describeAudio(audioStream);
    if (creator->Open(&video, &audio) != 0) return kStatusOpenFailed;
    mMovieCreator = std::move(creator);
    mIsRecording = true;
    setFileURL(path);
    return 0;
}

int32_t OrvaRecorder::addVideoSample(void* data, uint32_t length, int64_t timestamp)
{
    if (!isRecording() || !mMovieCreator) return 0;
    return mMovieCreator->AddSampleToMovie(static_cast<uint8_t*>(data), length, static_cast<uint64_t>(timestamp),
                                           OrvaMovieCreator::Video);
}

int32_t OrvaRecorder::addAudioSample(void* data, uint32_t length, int64_t timestamp)
{
    if (!isRecording() || !mMovieCreator) return 0;
    return mMovieCreator->AddSampleToMovie(static_cast<uint8_t*>(data), length, static_cast<uint64_t>(timestamp),
                                           OrvaMovieCreator::Audio);
}

int32_t OrvaRecorder::closeRecorder()
{
    if (!isRecording() || !mMovieCreator) return 0;
    std::lock_guard monitor(mMonitor);
    RunLoop::current().runUntilDate(gClosingTurn.load());
    const int32_t result = mMovieCreator->Close();
    mIsRecording = false; // the adding calls stop before the creator goes
    mDroppedAtClose = mMovieCreator->droppedSamples();
    mStatsAtClose = mMovieCreator->movieStats();
    mMovieCreator.reset();
    setFileURL(std::nullopt);
    return result;
}

std::optional<std::string> OrvaRecorder::fileURL() const
{
    std::lock_guard lock(mFileURLLock);
    return mFileURL;
}

void OrvaRecorder::setFileURL(std::optional<std::string> path)
{
    std::lock_guard lock(mFileURLLock);
    mFileURL = std::move(path);
}

} // namespace orva
