#include <orva/OrvaRecorder.h>

#include "recording/RecorderTesting.h"

#include <atomic>
#include <mutex>

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


// The recorder's movie creator, devices, file and counts at close.
class ORVA_NO_EXPORT OrvaRecorder::Private {
public:
    std::unique_ptr<OrvaMovieCreator> mMovieCreator;
    const OrvaAudioDevice* mAudioStream = nullptr; // not retained
    const OrvaVideoDevice* mVideoStream = nullptr; // not retained
    mutable std::mutex mFileURLLock;
    std::optional<std::string> mFileURL;
    std::atomic<bool> mIsRecording{false};
    std::recursive_mutex mMonitor;
    uint64_t mDroppedAtClose = 0;
    OrvaMovieStats mStatsAtClose;
};

OrvaRecorder::OrvaRecorder() : d(std::make_unique<Private>()) {}

bool OrvaRecorder::isRecording() const
{
    return d->mIsRecording.load();
}

uint64_t OrvaRecorder::droppedSamples() const
{
    return d->mMovieCreator ? d->mMovieCreator->droppedSamples() : d->mDroppedAtClose;
}

OrvaMovieStats OrvaRecorder::movieStats() const
{
    return d->mMovieCreator ? d->mMovieCreator->movieStats() : d->mStatsAtClose;
}

const OrvaVideoDevice* OrvaRecorder::videoStream() const
{
    return d->mVideoStream;
}

void OrvaRecorder::setVideoStream(const OrvaVideoDevice* stream)
{
    d->mVideoStream = stream;
}

const OrvaAudioDevice* OrvaRecorder::audioStream() const
{
    return d->mAudioStream;
}

void OrvaRecorder::setAudioStream(const OrvaAudioDevice* stream)
{
    d->mAudioStream = stream;
}

OrvaRecorder::~OrvaRecorder()
{
    if (isRecording()) (void)closeRecorder();
}

_OrvaVideoDescription OrvaRecorder::describeVideo(const OrvaVideoDevice* camera)
{
    _OrvaVideoDescription description;
    auto format = camera ? std::dynamic_pointer_cast<const VideoFormatDescription>(camera->getFormat()) : nullptr;
    if (!format) return description;
    description.width = format->dimensions().width;
    description.height = format->dimensions().height;
    description.codec = format->mediaSubType();
    description.frameInterval = camera->captureFrameInterval();
    description.frameRate = description.frameInterval > 0 ? static_cast<int32_t>((10000000 + description.frameInterval / 2) / description.frameInterval) : 30;
    return description;
}

_OrvaAudioDescription OrvaRecorder::describeAudio(const OrvaAudioDevice* microphone)
{
    _OrvaAudioDescription description;
    auto format = microphone ? std::dynamic_pointer_cast<const AudioFormatDescription>(microphone->getFormat()) : nullptr;
    if (!format) return description;
    const auto& asbd = format->streamBasicDescription();
    description.format = static_cast<uint16_t>(asbd.mFormatID & 0xFFFF);
    description.channels = static_cast<uint16_t>(asbd.mChannelsPerFrame & 0xFFFF);
    description.sampleRate = asbd.mSampleRate > 0 && asbd.mSampleRate < 4294967296.0 ? static_cast<uint32_t>(asbd.mSampleRate) : 0;
    description.bitsPerSample = static_cast<uint16_t>(asbd.mBitsPerChannel & 0xFFFF);
    return description;
}

int32_t OrvaRecorder::openRecorderWithFilPath(const std::string& path, const OrvaVideoDevice* videoStream,
                                              const OrvaAudioDevice* audioStream)
{
    auto creator = CreateMovieCreator(path.c_str());
    if (!creator) return kStatusNoMovieCreator;
    const _OrvaVideoDescription video = describeVideo(videoStream);
    const _OrvaAudioDescription audio = describeAudio(audioStream);
    if (creator->Open(&video, &audio) != 0) return kStatusOpenFailed;
    d->mMovieCreator = std::move(creator);
    d->mIsRecording = true;
    setFileURL(path);
    return 0;
}

int32_t OrvaRecorder::addVideoSample(void* data, uint32_t length, int64_t timestamp)
{
    if (!isRecording() || !d->mMovieCreator) return 0;
    return d->mMovieCreator->AddSampleToMovie(static_cast<uint8_t*>(data), length, static_cast<uint64_t>(timestamp),
                                           OrvaMovieCreator::Video);
}

int32_t OrvaRecorder::addAudioSample(void* data, uint32_t length, int64_t timestamp)
{
    if (!isRecording() || !d->mMovieCreator) return 0;
    return d->mMovieCreator->AddSampleToMovie(static_cast<uint8_t*>(data), length, static_cast<uint64_t>(timestamp),
                                           OrvaMovieCreator::Audio);
}

int32_t OrvaRecorder::closeRecorder()
{
    if (!isRecording() || !d->mMovieCreator) return 0;
    std::lock_guard monitor(d->mMonitor);
    RunLoop::current().runUntilDate(gClosingTurn.load());
    const int32_t result = d->mMovieCreator->Close();
    d->mIsRecording = false; // the adding calls stop before the creator goes
    d->mDroppedAtClose = d->mMovieCreator->droppedSamples();
    d->mStatsAtClose = d->mMovieCreator->movieStats();
    d->mMovieCreator.reset();
    setFileURL(std::nullopt);
    return result;
}

std::optional<std::string> OrvaRecorder::fileURL() const
{
    std::lock_guard lock(d->mFileURLLock);
    return d->mFileURL;
}

void OrvaRecorder::setFileURL(std::optional<std::string> path)
{
    std::lock_guard lock(d->mFileURLLock);
    d->mFileURL = std::move(path);
}

} // namespace orva
