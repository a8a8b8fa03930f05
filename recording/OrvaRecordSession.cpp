#include <orva/OrvaRecordSession.h>

#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include <orva/OrvaRecorder.h>

#include <filesystem>

namespace orva {

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
    // A start that failed after opening the recorder leaves it open: finish it here.
    // (The devices hold the session while it is their delegate, so this runs only
    // once it is no longer one.)
    mRecorderForCapture = nullptr;
    if (mRecorder) (void)mRecorder->closeRecorder();
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
    const std::string working =
        (std::filesystem::path(FileManager::defaultManager().temporaryDirectory()) /
         std::filesystem::path(mFileURL).filename())
            .string();
    const int32_t opened = mRecorder->openRecorderWithFilPath(working, camera.get(), microphone.get());
    if (opened != 0) return opened;
    mRecorderForCapture = mRecorder.get();

    auto self = shared_from_this();
    if (camera) camera->addDelegate(self);
    if (microphone) microphone->addDelegate(self);
    int32_t cameraResult = 0, microphoneResult = 0;
    if (camera && !camera->isCapturing()) cameraResult = camera->startCapture();
    if (microphone && !microphone->isCapturing()) microphoneResult = microphone->startCapture();
    if (microphoneResult != 0) return microphoneResult;
    if (cameraResult != 0) return cameraResult;
    mIsRunning = true;
    return 0;
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
    if (working) (void)FileManager::defaultManager().moveItemAtPath(*working, mFileURL);
    mRecorder.reset();
    mIsRunning = false;
    return 0;
}

void OrvaRecordSession::didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                        const std::shared_ptr<OrvaDeviceInfo>& withDevice)
{
    OrvaRecorder* recorder = mRecorderForCapture.load();
    if (!recorder || !withDevice) return;
    // The movie creator converts H.264 frames in place: the capture buffer is the
    // library's and is handed on for exactly this.
    void* data = const_cast<void*>(frame);
    if (withDevice->deviceType() == 0)
        (void)recorder->addVideoSample(data, length, timestamp);
    else
        (void)recorder->addAudioSample(data, length, timestamp);
}

} // namespace orva
