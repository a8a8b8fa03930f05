#include <orva/OrvaRecordSession.h>

#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include "platform/writer/MovieFinisher.h"
#include <orva/NotificationCenter.h>
#include <orva/OrvaRecorder.h>

#include <filesystem>
#include <unistd.h>

namespace orva {

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
    : mVideoDevice(std::move(videoDevice)), mAudioDevice(std::move(audioDevice)), mFileURL(std::move(fileURL))
{
}

OrvaRecordSession::~OrvaRecordSession()
{
    // A session destroyed while recording (the devices hold it while it is their
    // delegate, so only once they let it go) finishes what it has.
    mRecorderForCapture = nullptr;
    if (mRecorder) (void)mRecorder->closeRecorder();
    releaseWorkingPath();
}

void OrvaRecordSession::releaseWorkingPath()
{
    if (!mWorkingPath.empty()) FileManager::defaultManager().releaseTemporaryPath(mWorkingPath);
    mWorkingPath.clear();
}

std::shared_ptr<OrvaVideoDevice> OrvaRecordSession::videoDevice() const
{
    std::lock_guard lock(mPropertyLock);
    return mVideoDevice;
}

void OrvaRecordSession::setVideoDevice(std::shared_ptr<OrvaVideoDevice> device)
{
    std::lock_guard lock(mPropertyLock);
    mVideoDevice = std::move(device);
}

std::shared_ptr<OrvaAudioDevice> OrvaRecordSession::audioDevice() const
{
    std::lock_guard lock(mPropertyLock);
    return mAudioDevice;
}

void OrvaRecordSession::setAudioDevice(std::shared_ptr<OrvaAudioDevice> device)
{
    std::lock_guard lock(mPropertyLock);
    mAudioDevice = std::move(device);
}

std::optional<std::string> OrvaRecordSession::workingPath() const
{
    OrvaRecorder* recorder = mRecorderForCapture.load();
    return recorder ? recorder->fileURL() : std::nullopt;
}

uint64_t OrvaRecordSession::droppedSamples() const
{
    OrvaRecorder* recorder = mRecorderForCapture.load();
    return recorder ? recorder->droppedSamples() : mLastDropped.load();
}

int32_t OrvaRecordSession::startSession()
{
    auto camera = videoDevice();
    auto microphone = audioDevice();
    if (camera && !camera->isOpen()) (void)camera->openDevice();
    if (microphone && !microphone->isOpen()) (void)microphone->openDevice();

    if (mRecorder) { // started again: the earlier recording (same working file) is finished first
        mRecorderForCapture = nullptr;
        detach();
        (void)mRecorder->closeRecorder();
        mRecorder.reset();
        mIsRunning = false;
    }
    mRecorder = std::make_unique<OrvaRecorder>();
    mFailure = 0;
    {
        std::lock_guard lock(mPropertyLock);
        mMoviePath.reset();
        mMovieSeconds = 0;
        mPlacementError.clear();
        mRecordingStatus = 0;
    }
    // A file of the same name in this process's private temporary folder (with a
    // number added when another recording of this process has that name).
    releaseWorkingPath();
    mWorkingPath = FileManager::defaultManager().uniqueTemporaryPath(std::filesystem::path(mFileURL).filename().string());
    const int32_t opened = mRecorder->openRecorderWithFilPath(mWorkingPath, camera.get(), microphone.get());
    if (opened != 0) {
        abandonStart();
        return opened;
    }
    mRecorderForCapture = mRecorder.get();

    auto self = shared_from_this();
    if (camera) camera->addDelegate(self);
    if (microphone) microphone->addDelegate(self);
    const bool cameraRan = camera && camera->isCapturing(), microphoneRan = microphone && microphone->isCapturing();
    int32_t cameraResult = 0, microphoneResult = 0;
    if (camera && !cameraRan) cameraResult = camera->startCapture();
    if (microphone && !microphoneRan) microphoneResult = microphone->startCapture();
    if (microphoneResult != 0 || cameraResult != 0) {
        // What this start began is stopped again, and the session stops being the
        // devices' delegate, so they no longer hold it (nor it them through them).
        if (camera && !cameraRan && cameraResult == 0) (void)camera->stopCapture();
        if (microphone && !microphoneRan && microphoneResult == 0) (void)microphone->stopCapture();
        abandonStart();
        return microphoneResult != 0 ? microphoneResult : cameraResult;
    }
    mIsRunning = true;
    return 0;
}

void OrvaRecordSession::abandonStart()
{
    detach();
    mRecorderForCapture = nullptr;
    if (mRecorder) {
        const auto working = mRecorder->fileURL();
        (void)mRecorder->closeRecorder(); // its writer thread ends here
        mLastDropped = 0;
        std::error_code ignored;
        if (working) std::filesystem::remove(*working, ignored); // in this process's private folder
        mRecorder.reset();
    }
    releaseWorkingPath();
}

void OrvaRecordSession::detach()
{
    auto self = shared_from_this();
    if (auto camera = videoDevice()) camera->removeDelegate(self);
    if (auto microphone = audioDevice()) microphone->removeDelegate(self);
}

int32_t OrvaRecordSession::stopSession()
{
    if (!isRunning()) return 0;
    if (auto microphone = audioDevice()) (void)microphone->stopCapture();
    detach(); // no capture thread calls the recorder after this
    mRecorderForCapture = nullptr;
    const auto working = mRecorder ? mRecorder->fileURL() : std::nullopt;
    if (mRecorder) {
        (void)mRecorder->closeRecorder();
        mLastDropped = mRecorder->droppedSamples();
    }
    if (working) placeMovie(*working);
    releaseWorkingPath(); // the file is gone, or kept under its name
    mRecorder.reset();
    mIsRunning = false;
    return 0;
}

// The working movie, made regular, written beside the destination, synced and put in
// place in one step. When that fails the destination is untouched and the working
// movie stays where it is.
void OrvaRecordSession::placeMovie(const std::string& working)
{
    auto& files = FileManager::defaultManager();
    std::string temporary, error;
    MovieFinisher::Result finished;
    const int fd = files.createFileBeside(mFileURL, &temporary, &error);
    if (fd >= 0) {
        finished = MovieFinisher::finish(working, fd);
        if (!finished.ok) {
            error = finished.diskFull ? "the disk holding \"" + mFileURL + "\" is full" : finished.error;
            ::close(fd);
            (void)files.removeItemAtPath(temporary);
        } else if (!files.placeFile(fd, temporary, mFileURL, mReplaces, &error)) {
            finished.ok = false;
        }
    }
    std::lock_guard lock(mPropertyLock);
    mRecordingStatus = mFailure.load();
    if (finished.ok) {
        (void)files.removeItemAtPath(working);
        files.removeTemporaryDirectoryIfEmpty();
        mMoviePath = mFileURL;
        mMovieSeconds = finished.seconds;
    } else {
        mMoviePath = working;
        mPlacementError = error;
    }
}

int32_t OrvaRecordSession::recordingStatus() const
{
    std::lock_guard lock(mPropertyLock);
    return mRecordingStatus;
}

std::optional<std::string> OrvaRecordSession::moviePath() const
{
    std::lock_guard lock(mPropertyLock);
    return mMoviePath;
}

double OrvaRecordSession::movieSeconds() const
{
    std::lock_guard lock(mPropertyLock);
    return mMovieSeconds;
}

std::string OrvaRecordSession::placementError() const
{
    std::lock_guard lock(mPropertyLock);
    return mPlacementError;
}

void OrvaRecordSession::setReplacesExistingFile(bool replaces)
{
    std::lock_guard lock(mPropertyLock);
    mReplaces = replaces;
}

void OrvaRecordSession::didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                        const std::shared_ptr<OrvaDeviceInfo>& withDevice)
{
    OrvaRecorder* recorder = mRecorderForCapture.load();
    if (!recorder || !withDevice) return;
    // The movie creator converts H.264 frames in place: the capture buffer is the
    // library's and is handed on for exactly this.
    void* data = const_cast<void*>(frame);
    const int32_t result = withDevice->deviceType() == 0 ? recorder->addVideoSample(data, length, timestamp)
                                                         : recorder->addAudioSample(data, length, timestamp);
    // The movie can take no more: said once, so the host can stop the session.
    if (result < 0 && result != OrvaMovieCreator::kErrorUnsupportedMediaType) {
        int32_t none = 0;
        if (mFailure.compare_exchange_strong(none, result)) {
            const std::string path = recorder->fileURL().value_or("");
            NotificationCenter::defaultCenter().postNotificationName(
                KPXRecordingFailed, nullptr, {{"status", std::any(result)}, {"path", std::any(path)}});
        }
    }
}

} // namespace orva
