#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaStatus.h>

#include "Utilities/unistr.h"
#include <orva/OrvaDeviceManager.h>
#include "devices/CallbackGate.h"
#include "devices/audio/OrvaAudioDevicePrivate.h"
#include "platform/capture/AudioPreviewOutput.h"
#include "platform/capture/CaptureDeviceInput.h"
#include "platform/capture/CaptureSession.h"
#include "platform/foundation/DispatchQueue.h"
#include <orva/RunLoop.h>
#include "platform/foundation/SystemLog.h"

#include <zedederadIvo.h>

#include <limits>
#include <vector>

namespace orva {

namespace {

constexpr int32_t kStatusOK = kOrvaOK;
constexpr int32_t kStatusNoFormat = kOrvaErrorNoFormat;
constexpr int32_t kStatusNotOpen = kOrvaErrorNotOpen;
constexpr int32_t kStatusBusy = kOrvaErrorMicrophoneBusy;
constexpr int32_t kStatusFailed = kOrvaErrorLibraryFailed;

// The single-precision 0.03 widened to double, as the timer has always been scheduled.
constexpr double kMeterInterval = static_cast<double>(0.03f);

} // namespace

void AudioFrameCompletionCallback(void* /*reserved*/, _ACI_EVENT_INFO* info)
{
    if (info == nullptr || info->context == nullptr) return;
    CallbackGate::Passage passage(static_cast<CallbackGate*>(info->context));
    if (auto* device = passage.device()) device->deliverFrame(info->data, info->length, info->timestamp);
}

std::shared_ptr<OrvaAudioDevice> OrvaAudioDevice::create(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
{
    return std::shared_ptr<OrvaAudioDevice>(new OrvaAudioDevice(std::move(deviceInfo)));
}

OrvaAudioDevice::OrvaAudioDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
    : OrvaAVDevice(std::make_unique<Private>(std::move(deviceInfo)))
{
}

std::shared_ptr<const FormatDescription> OrvaAudioDevice::getFormat() const
{
    return d().mFormat;
}

OrvaAudioDevice::~OrvaAudioDevice()
{
    if (isOpen()) closeDevice();
    d().retireCallbackGate();
    d().mFormat.reset();
    d().mSupportedFormats.reset();
}

std::shared_ptr<const std::vector<std::shared_ptr<OrvaDeviceInfo>>> OrvaAudioDevice::getAudioDeviceList()
{
    return OrvaDeviceManager::getSharedInstance()->getAudioDeviceList();
}

int32_t OrvaAudioDevice::openDevice()
{
    unichar path[ZI_DEVICE_TEXT_UNITS] = {};
    // Paths come from the library's own 1024-unit fields; a longer one (which cannot
    // come from the library) opens nothing rather than overrunning the buffer.
    auto text = d().mDeviceInfo->path();
    if (text && text->size() < ZI_DEVICE_TEXT_UNITS) unistr_copyFromCFString(path, *text);
    d().beginHandle();
    void* handle = ACI_Open_Device(path);
    d().mHandle = handle;
    d().mIsOpen = handle != nullptr;
    return handle ? kStatusOK : kStatusFailed;
}

void OrvaAudioDevice::closeDevice()
{
    if (isCapturing()) (void)stopCapture();
    if (isOpen()) {
        (void)d().withdrawBuffers(); // a subscription a failed start or stop left behind
        (void)VCI_Close_Device(d().mHandle.load()); // the library's one close, for both kinds
        d().mIsOpen = false;                        // the handle keeps its old value
        d().mIsCapturing = false;                   // closed, whatever a failed stop left
    }
    (void)stopVUMeter();
}

std::shared_ptr<const AudioFormatDescription> OrvaAudioDevice::descriptionForWaveFormat(uint16_t tag, uint16_t channels,
                                                                                         uint32_t samplesPerSec,
                                                                                         uint16_t bitsPerSample)
{
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = static_cast<double>(samplesPerSec);
    asbd.mFormatID = tag;
    asbd.mChannelsPerFrame = channels;
    asbd.mBitsPerChannel = bitsPerSample;
    return AudioFormatDescription::create(asbd);
}

std::shared_ptr<const FormatList> OrvaAudioDevice::getSupportedFormats()
{
    if (!isOpen()) return nullptr;
    if (d().mSupportedFormats) return d().mSupportedFormats;
    uint32_t size = 0, count = 0;
    const int32_t first = ACI_Enum_Wave_Formats(d().mHandle.load(), nullptr, &size, &count);
    auto list = std::make_shared<FormatList>();
    if (first == ZI_MORE_DATA) {
        std::vector<_ACI_WAVE_FORMAT> entries(count);
        const uint32_t capacity = count;
        (void)ACI_Enum_Wave_Formats(d().mHandle.load(), entries.data(), &size, &count);
        // Never more entries than the buffer holds, whatever count the library left.
        for (uint32_t i = 0; i < count && i < capacity; ++i) {
            const auto& e = entries[i];
            if (auto d = descriptionForWaveFormat(e.formatTag, e.channels, e.samplesPerSec, e.bitsPerSample))
                list->push_back(std::move(d));
        }
    }
    if (list->empty()) return nullptr; // nothing kept: the next call asks again
    d().mSupportedFormats = std::move(list);
    return d().mSupportedFormats;
}

void OrvaAudioDevice::setFormat(std::shared_ptr<const FormatDescription> format)
{
    d().mFormat.reset();
    const auto* audio = dynamic_cast<const AudioFormatDescription*>(format.get());
    if (!audio) return;
    const auto& in = audio->streamBasicDescription();
    AudioStreamBasicDescription copy;
    copy.mSampleRate = in.mSampleRate;
    copy.mFormatID = in.mFormatID;
    copy.mChannelsPerFrame = in.mChannelsPerFrame;
    copy.mBitsPerChannel = in.mBitsPerChannel;
    d().mFormat = AudioFormatDescription::create(copy);
}

int32_t OrvaAudioDevice::Private::withdrawBuffers()
{
    if (!mSubscribed.load()) return ZI_OK;
    const int32_t result = ACI_UnSubscribe_Event(mHandle.load(), ACI_EVENT_BUFFER);
    if (result == ZI_OK) mSubscribed = false; // the library waited for a callback under way
    return result;
}

int32_t OrvaAudioDevice::startCapture()
{
    if (!isOpen()) return kStatusNotOpen;
    if (isCapturing()) return kStatusOK;
    const auto* audio = dynamic_cast<const AudioFormatDescription*>(d().mFormat.get());
    if (!audio) return kStatusNoFormat;
    const auto& asbd = audio->streamBasicDescription();
    _ACI_WAVE_FORMAT wave{};
    wave.formatTag = static_cast<uint16_t>(asbd.mFormatID & 0xFFFF);
    wave.channels = static_cast<uint16_t>(asbd.mChannelsPerFrame & 0xFFFF);
    // Truncated toward zero; rates outside 32 bits become 0 rather than undefined.
    wave.samplesPerSec = (asbd.mSampleRate >= 0 && asbd.mSampleRate < 4294967296.0)
                             ? static_cast<uint32_t>(asbd.mSampleRate)
                             : 0;
    wave.bitsPerSample = static_cast<uint16_t>(asbd.mBitsPerChannel & 0xFFFF);
    void* handle = d().mHandle.load();
    if (ACI_Set_Capture_Parameters(handle, &wave) != ZI_OK) return kStatusNoFormat;
    // A subscription an earlier failure left in place goes first, so buffers are never
    // delivered twice; if the library still will not confirm it, nothing starts.
    if (d().withdrawBuffers() != ZI_OK) return kStatusFailed;
    d().mSubscribed = true; // before the call: the library may call back before it returns
    const int32_t subscribed = ACI_Subscribe_Event(handle, ACI_EVENT_BUFFER, AudioFrameCompletionCallback, d().mCallbackGate);
    if (subscribed != ZI_OK) {
        d().mSubscribed = false;
        return subscribed;
    }
    // No step is undone when the start fails, the subscription included: the gate
    // keeps its callbacks harmless, and closing withdraws it.
    const int32_t started = ACI_Start_Capture(handle);
    if (started != ZI_OK) return started == ZI_ERR_BUSY ? kStatusBusy : started;
    d().mIsCapturing = true;
    return kStatusOK;
}

int32_t OrvaAudioDevice::stopCapture()
{
    if (!isOpen()) return kStatusNotOpen;
    if (!isCapturing()) return kStatusOK;
    // The subscription is withdrawn only once the library stopped; a failed stop
    // leaves the microphone capturing, so that closing tries again.
    if (ACI_Stop_Capture(d().mHandle.load()) != ZI_OK) return kStatusFailed;
    if (d().withdrawBuffers() != ZI_OK) return kStatusFailed;
    d().mIsCapturing = false;
    return kStatusOK;
}

// ---- Level meter ----

// Metering: the timer is scheduled and the session runs. The session stops on a
// global queue after stopVUMeter returns, so the timer is what tells a stopped meter
// from a running one in the meantime (a second stop sends nothing, a start right
// after a stop starts afresh).
bool OrvaAudioDevice::Private::meterRunning() const
{
    auto timer = mMicLevelTimer.lock();
    return timer && timer->isValid() && mSession && mSession->isRunning();
}

int32_t OrvaAudioDevice::startVUMeter()
{
    if (d().meterRunning()) return kStatusOK;
    d().mSession.reset();
    d().mAudioDeviceInput.reset();
    d().mSession = CaptureSession::create();
    d().mAudioPreviewOutput = AudioPreviewOutput::create();
    d().mAudioPreviewOutput->setVolume(0.0f);
    d().mSession->addOutput(d().mAudioPreviewOutput);

    const auto path = d().mDeviceInfo->path();
    for (const auto& device : CaptureDevice::devicesWithMediaType(MediaType::Audio)) {
        if (path && device->uniqueID().find(*path) != std::string::npos) {
            setSelectedAudioDevice(device);
            break;
        }
    }
    d().mSession->startRunning();

    // A stale timer (a session that stopped by itself) is replaced, never doubled.
    if (auto old = d().mMicLevelTimer.lock()) old->invalidate();
    auto self = std::static_pointer_cast<OrvaAudioDevice>(shared_from_this());
    d().mMicLevelTimer = RunLoop::current().scheduledTimer(kMeterInterval, true,
                                                       [self](Timer& timer) { self->micLevelTimerFired(timer); });
    SystemLog::log("IsRunning %s", d().mSession->isRunning() ? "YES" : "NO");
    return kStatusOK;
}

void OrvaAudioDevice::setSelectedAudioDevice(const std::shared_ptr<CaptureDevice>& device)
{
    if (!d().mSession) return;
    d().mSession->beginConfiguration();
    if (d().mAudioDeviceInput) {
        d().mSession->removeInput(d().mAudioDeviceInput);
        d().mAudioDeviceInput.reset();
    }
    if (device) {
        if (auto input = CaptureDeviceInput::deviceInputWithDevice(device, nullptr)) {
            d().mSession->addInput(input);
            SystemLog::write(d().mSession->inputsDescription());
            d().mAudioDeviceInput = std::move(input);
        }
    }
    d().mSession->commitConfiguration();
}

void OrvaAudioDevice::micLevelTimerFired(Timer& /*timer*/)
{
    if (!d().mAudioPreviewOutput) return;
    const auto connections = d().mAudioPreviewOutput->connections();
    // No microphone matched, so there is nothing to measure: no level is sent.
    if (connections->empty()) return;
    const auto& channels = connections->front()->audioChannels();
    float level = 0.0f;
    for (const auto& channel : channels) level += channel->averagePowerLevel();
    if (!channels.empty()) level /= static_cast<float>(channels.size());

    std::lock_guard lock(d().mDelegatesLock);
    const auto delegates = d().mDelegates; // the list as it is; a delegate may change it
    for (const auto& delegate : *delegates)
        if (delegate->respondsTo(DelegateOperation::didMicLevelEventOccured))
            RunLoop::dispatchToMain([delegate, level] { delegate->didMicLevelEventOccured(level); });
}

std::vector<float> OrvaAudioDevice::channelLevels() const
{
    std::vector<float> levels;
    if (!d().mAudioPreviewOutput) return levels;
    const auto connections = d().mAudioPreviewOutput->connections();
    if (connections->empty()) return levels;
    for (const auto& channel : connections->front()->audioChannels()) levels.push_back(channel->averagePowerLevel());
    return levels;
}

bool OrvaAudioDevice::meterStalled() const
{
    if (!d().mAudioPreviewOutput) return false;
    const auto connections = d().mAudioPreviewOutput->connections();
    if (connections->empty()) return false;
    for (const auto& channel : connections->front()->audioChannels())
        if (channel->stalled()) return true;
    return false;
}

int32_t OrvaAudioDevice::stopVUMeter()
{
    if (!d().meterRunning()) {
        // A session that stopped by itself leaves no timer behind either.
        if (auto timer = d().mMicLevelTimer.lock()) timer->invalidate();
        d().mMicLevelTimer.reset();
        return kStatusOK;
    }
    if (auto timer = d().mMicLevelTimer.lock()) timer->invalidate();
    d().mMicLevelTimer.reset();
    DispatchQueue::global().async([session = d().mSession] {
        if (session->isRunning()) session->stopRunning();
    });
    d().mAudioPreviewOutput.reset(); // the session keeps it until the session is let go

    const float stopped = -std::numeric_limits<float>::infinity();
    std::lock_guard lock(d().mDelegatesLock);
    const auto delegates = d().mDelegates; // the list as it is; a delegate may change it
    for (const auto& delegate : *delegates)
        if (delegate->respondsTo(DelegateOperation::didMicLevelEventOccured)) delegate->didMicLevelEventOccured(stopped);
    return kStatusOK;
}

// ---- Volume and mute ----

bool OrvaAudioDevice::isMuteOn()
{
    uint8_t mute = 0;
    (void)ACI_Get_Mic_Mute(d().mHandle.load(), &mute);
    return mute != 0;
}

void OrvaAudioDevice::setMute(bool mute)
{
    (void)ACI_Set_Mic_Mute(d().mHandle.load(), mute ? 1 : 0);
}

OrvaAudioDevice::OptionalNumber OrvaAudioDevice::getVolumeCur()
{
    uint32_t volume = 0;
    if (ACI_Get_Mic_Volume(d().mHandle.load(), &volume) != ZI_OK) return std::nullopt;
    return Number::numberWithInt(static_cast<int>(volume));
}

void OrvaAudioDevice::setVolumeCur(const OptionalNumber& volume)
{
    const int value = volume ? volume->intValue() : 0;
    (void)ACI_Set_Mic_Volume(d().mHandle.load(), static_cast<uint8_t>(value & 0xFF));
}

} // namespace orva
