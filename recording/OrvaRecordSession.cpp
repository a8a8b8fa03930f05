#include <orva/OrvaRecordSession.h>
#include "recording/OrvaRecordSessionPrivate.h"

#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include "recording/MovieBudget.h"
#include <orva/NotificationCenter.h>
#include <orva/OrvaRecorder.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace orva {

namespace {
int64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}
} // namespace

const char* const KPXRecordingFailed = "kKPXRecordingFailed";

std::shared_ptr<OrvaRecordSession> OrvaRecordSession::create(std::shared_ptr<OrvaVideoDevice> videoDevice,
                                                             std::shared_ptr<OrvaAudioDevice> audioDevice,
                                                             std::string fileURL)
{
    return std::shared_ptr<OrvaRecordSession>(
        new OrvaRecordSession(std::move(videoDevice), std::move(audioDevice), std::move(fileURL)));
}

OrvaRecordSession::OrvaRecordSession(std::shared_ptr<OrvaVideoDevice> videoDevice,
                                     std::shared_ptr<OrvaAudioDevice> audioDevice, std::string fileURL)
    : d(std::make_unique<Private>(*this))
{
    d->mVideoDevice = std::move(videoDevice);
    d->mAudioDevice = std::move(audioDevice);
    d->mFileURL = std::move(fileURL);
}

bool OrvaRecordSession::isRunning() const
{
    return d->mIsRunning.load();
}

const std::string& OrvaRecordSession::fileURL() const
{
    return d->mFileURL;
}

OrvaRecordSession::~OrvaRecordSession()
{
    // A session destroyed while recording (the devices hold it while it is their
    // delegate, so only once they let it go) finishes what it has.
    d->mRecorderForCapture = nullptr;
    if (d->mRecorder) {
        (void)d->mRecorder->closeRecorder();
        d->placeMovie();
    }
}

std::shared_ptr<OrvaVideoDevice> OrvaRecordSession::videoDevice() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mVideoDevice;
}

void OrvaRecordSession::setVideoDevice(std::shared_ptr<OrvaVideoDevice> device)
{
    std::lock_guard lock(d->mPropertyLock);
    d->mVideoDevice = std::move(device);
}

std::shared_ptr<OrvaAudioDevice> OrvaRecordSession::audioDevice() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mAudioDevice;
}

void OrvaRecordSession::setAudioDevice(std::shared_ptr<OrvaAudioDevice> device)
{
    std::lock_guard lock(d->mPropertyLock);
    d->mAudioDevice = std::move(device);
}

std::optional<std::string> OrvaRecordSession::workingPath() const
{
    OrvaRecorder* recorder = d->mRecorderForCapture.load();
    return recorder ? recorder->fileURL() : std::nullopt;
}

uint64_t OrvaRecordSession::droppedSamples() const
{
    const auto stats = movieStats();
    return stats.videoDropped + stats.audioDropped;
}

OrvaMovieStats OrvaRecordSession::movieStats() const
{
    if (OrvaRecorder* recorder = d->mRecorderForCapture.load()) return recorder->movieStats();
    std::lock_guard lock(d->mPropertyLock);
    return d->mStats;
}

double OrvaRecordSession::secondsWithoutSound() const
{
    if (!d->mIsRunning.load() || !audioDevice() || d->mLastVideoArrival.load() == 0) return 0;
    const int64_t now = monotonicMicroseconds();
    // Only while the camera runs (a camera that stopped too is not a silent microphone).
    if (now - d->mLastVideoArrival.load() > 1000000) return 0;
    const int64_t since = std::max(d->mLastSoundArrival.load(), d->mStartedAt.load());
    return static_cast<double>(now - since) / 1e6;
}

int32_t OrvaRecordSession::startSession()
{
    auto camera = videoDevice();
    auto microphone = audioDevice();
    if (camera && !camera->isOpen()) (void)camera->openDevice();
    if (microphone && !microphone->isOpen()) (void)microphone->openDevice();

    if (d->mRecorder) { // started again: the earlier recording is finished first
        d->mRecorderForCapture = nullptr;
        d->detach();
        (void)d->mRecorder->closeRecorder();
        d->placeMovie();
        d->mRecorder.reset();
        d->mIsRunning = false;
    }
    d->mRecorder = std::make_unique<OrvaRecorder>();
    d->mFailure = 0;
    {
        std::lock_guard lock(d->mPropertyLock);
        d->mMoviePath.reset();
        d->mMovieSeconds = 0;
        d->mPlacementError.clear();
        d->mRecordingStatus = 0;
        d->mStats = {};
    }
    // The working file, beside the destination (so finishing is a rename), checked
    // with its room before any device starts.
    auto& files = FileManager::defaultManager();
    std::string error;
    const int fd = files.createWorkingFile(d->mFileURL, &d->mWorkingPath, &error);
    if (fd < 0) {
        d->refuseStart(error);
        return kOrvaErrorCannotCreateFile;
    }
    const _OrvaVideoDescription video = OrvaRecorder::describeVideo(camera.get());
    const _OrvaAudioDescription audio = OrvaRecorder::describeAudio(microphone.get());
    const uint64_t needed = MovieBudget::bytesPerMinute(&video, &audio);
    const auto room = files.freeSpace(d->mWorkingPath);
    if (room && *room < needed) {
        ::close(fd);
        (void)files.removeItemAtPath(d->mWorkingPath);
        d->refuseStart("the disk holding \"" + d->mFileURL + "\" has room for less than a minute (" +
                    std::to_string(*room >> 20) + " MB free, " + std::to_string(needed >> 20) + " MB a minute)");
        return kOrvaErrorDiskFull;
    }
    files.handOverWorkingFile(d->mWorkingPath, fd);
    const int32_t opened = d->mRecorder->openRecorderWithFilPath(d->mWorkingPath, camera.get(), microphone.get());
    if (opened != 0) {
        d->abandonStart();
        return opened;
    }
    d->mLastVideoArrival = 0;
    d->mLastSoundArrival = 0;
    d->mLastVideoTimestamp = -1;
    d->mLastSoundTimestamp = -1;
    d->mVideoClosed = false;
    d->mFramePeriod = video.frameInterval > 0 ? video.frameInterval / 10 : 33333;
    d->mStartedAt = monotonicMicroseconds();
    d->mRecorderForCapture = d->mRecorder.get();

    auto self = shared_from_this();
    if (camera) camera->addDelegate(self);
    if (microphone) microphone->addDelegate(self);
    const bool cameraRan = camera && camera->isCapturing(), microphoneRan = microphone && microphone->isCapturing();
    int32_t cameraResult = 0, microphoneResult = 0;
    // A camera that runs is started too: one a share runs for its consumers becomes the
    // recording's, so that their leaving does not stop it.
    if (camera) cameraResult = camera->startCapture();
    if (microphone && !microphoneRan) microphoneResult = microphone->startCapture();
    if (microphoneResult != 0 || cameraResult != 0) {
        // What this start began is stopped again, and the session stops being the
        // devices' delegate, so they no longer hold it (nor it them through them).
        if (camera && !cameraRan && cameraResult == 0) (void)camera->stopCapture();
        if (microphone && !microphoneRan && microphoneResult == 0) (void)microphone->stopCapture();
        d->abandonStart();
        return microphoneResult != 0 ? microphoneResult : cameraResult;
    }
    d->mIsRunning = true;
    return 0;
}

void OrvaRecordSession::Private::abandonStart()
{
    detach();
    mRecorderForCapture = nullptr;
    if (mRecorder) {
        (void)mRecorder->closeRecorder(); // its writer thread ends here
        mRecorder.reset();
    }
    discardWorkingFile();
}

void OrvaRecordSession::Private::refuseStart(const std::string& why)
{
    mRecorder.reset();
    mWorkingPath.clear();
    std::lock_guard lock(mPropertyLock);
    mPlacementError = why;
}

// The working file of a recording that holds nothing playable goes (it is empty, or
// was never written, or not one sample in it was whole).
void OrvaRecordSession::Private::discardWorkingFile()
{
    if (mWorkingPath.empty()) return;
    auto& files = FileManager::defaultManager();
    const int fd = files.takeWorkingFile(mWorkingPath);
    if (fd >= 0) ::close(fd);
    (void)files.removeItemAtPath(mWorkingPath);
    mWorkingPath.clear();
}

void OrvaRecordSession::Private::detach()
{
    auto self = q.shared_from_this();
    if (auto camera = q.videoDevice()) camera->removeDelegate(self);
    if (auto microphone = q.audioDevice()) microphone->removeDelegate(self);
}

int32_t OrvaRecordSession::stopSession()
{
    if (!isRunning()) return 0;
    d->waitForSoundToCatchUp();
    if (auto microphone = audioDevice()) (void)microphone->stopCapture();
    d->detach(); // no capture thread calls the recorder after this
    d->mRecorderForCapture = nullptr;
    if (d->mRecorder) (void)d->mRecorder->closeRecorder();
    d->placeMovie();
    d->mRecorder.reset();
    d->mIsRunning = false;
    return 0;
}

// The picture stops at the stop; the sound captured up to its last frame's end is
// still on its way (the sound server's and the capture's latency), so it is waited
// for while it keeps coming, a second at most.
void OrvaRecordSession::Private::waitForSoundToCatchUp()
{
    mVideoClosed = true;
    if (!q.audioDevice() || mLastVideoTimestamp.load() < 0) return;
    constexpr int64_t kLastFrame = 25000; // what the last frame shows, less a buffer of sound
    const int64_t until = monotonicMicroseconds() + 1000000;
    while (mLastSoundTimestamp.load() < mLastVideoTimestamp.load() + kLastFrame && monotonicMicroseconds() < until &&
           monotonicMicroseconds() - mLastSoundArrival.load() < 200000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The movie, finished in place by the writer, renamed to the destination. When that
// cannot be done the finished movie keeps its working name beside it; when it could
// not be finished (no room for its index) it stays the working movie `orva repair`
// makes a movie of; when nothing was recorded it goes.
void OrvaRecordSession::Private::placeMovie()
{
    const OrvaMovieStats stats = mRecorder ? mRecorder->movieStats() : OrvaMovieStats{};
    auto& files = FileManager::defaultManager();
    std::string error;
    std::optional<std::string> where;
    if (stats.nothingRecorded) {
        discardWorkingFile();
    } else if (stats.finished && files.renameIntoPlace(mWorkingPath, mFileURL, mReplaces, &error)) {
        where = mFileURL;
    } else {
        where = mWorkingPath;
        if (error.empty()) error = stats.problem;
    }
    mWorkingPath.clear();
    std::lock_guard lock(mPropertyLock);
    mRecordingStatus = mFailure.load();
    mStats = stats;
    mMoviePath = where;
    mMovieSeconds = stats.seconds;
    mPlacementError = where && *where == mFileURL ? std::string() : error;
}

int32_t OrvaRecordSession::recordingStatus() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mRecordingStatus;
}

std::optional<std::string> OrvaRecordSession::moviePath() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mMoviePath;
}

double OrvaRecordSession::movieSeconds() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mMovieSeconds;
}

std::string OrvaRecordSession::placementError() const
{
    std::lock_guard lock(d->mPropertyLock);
    return d->mPlacementError;
}

void OrvaRecordSession::setReplacesExistingFile(bool replaces)
{
    std::lock_guard lock(d->mPropertyLock);
    d->mReplaces = replaces;
}

void OrvaRecordSession::didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                        const std::shared_ptr<OrvaDeviceInfo>& withDevice)
{
    OrvaRecorder* recorder = d->mRecorderForCapture.load();
    if (!recorder || !withDevice) return;
    const bool video = withDevice->deviceType() == 0;
    if (video && d->mVideoClosed.load()) return; // stopping: the picture ended
    (video ? d->mLastVideoArrival : d->mLastSoundArrival).store(monotonicMicroseconds());
    // The movie creator converts H.264 frames in place: the capture buffer is the
    // library's and is handed on for exactly this.
    void* data = const_cast<void*>(frame);
    // Once the picture ended, sound that begins after its last frame is not the
    // recording's: the tracks end together.
    if (!video && d->mVideoClosed.load() && d->mLastVideoTimestamp.load() >= 0 &&
        timestamp >= d->mLastVideoTimestamp.load() + d->mFramePeriod) {
        d->mLastSoundTimestamp.store(timestamp);
        return;
    }
    const int32_t result = video ? recorder->addVideoSample(data, length, timestamp)
                                 : recorder->addAudioSample(data, length, timestamp);
    (video ? d->mLastVideoTimestamp : d->mLastSoundTimestamp).store(timestamp);
    // The movie can take no more: said once, so the host can stop the session.
    if (result < 0 && result != OrvaMovieCreator::kErrorUnsupportedMediaType) {
        int32_t none = 0;
        if (d->mFailure.compare_exchange_strong(none, result)) {
            const std::string path = recorder->fileURL().value_or("");
            NotificationCenter::defaultCenter().postNotificationName(
                KPXRecordingFailed, nullptr, {{"status", std::any(result)}, {"path", std::any(path)}});
        }
    }
}

} // namespace orva
