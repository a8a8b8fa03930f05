#include <orva/OrvaVideoDevice.h>
#include <orva/OrvaStatus.h>

#include "Utilities/unistr.h"
#include <orva/OrvaDeviceManager.h>
#include "devices/CallbackGate.h"
#include "devices/video/OrvaVideoDevicePrivate.h"
#include "platform/foundation/DispatchQueue.h"

#include <zedederadIvo.h>

#include <cstring>

namespace orva {

namespace {
// The interval capture asks for: the host's choice, else 1/30 s.
uint32_t requestedInterval(const std::shared_ptr<const Number>& asked)
{
    const int64_t v = asked ? asked->integerValue() : 0;
    return v > 0 && v <= UINT32_MAX ? static_cast<uint32_t>(v) : 333333;
}
} // namespace

const char* const KPXVideoWidth = "kKPXVideoWidth";
const char* const KPXVideoHeight = "kKPXVideoHeight";
const char* const KPXVideoCodec = "kKPXVideoCodec";

namespace {

constexpr int32_t kStatusNotOpen = kOrvaErrorNotOpen;
constexpr int32_t kStatusNoFormat = kOrvaErrorNoFormat;
constexpr int32_t kStatusRefused = kOrvaErrorCameraBusy;
constexpr int32_t kStatusFailed = kOrvaErrorLibraryFailed;

_VCI_PIXEL_FORMAT pixelFormat(uint32_t code)
{
    _VCI_PIXEL_FORMAT f{};
    for (int i = 0; i < 4; ++i) f.fourcc[i] = static_cast<uint16_t>((code >> (24 - 8 * i)) & 0xFF);
    return f;
}

uint32_t h264BitRate(int32_t width, int32_t height)
{
    struct Row {
        int32_t w, h;
        uint32_t rate;
    };
    static constexpr Row rows[] = {
        {1280, 720, 2048000}, {864, 480, 1024000}, {640, 360, 819200}, {640, 480, 921600}, {320, 240, 512000}};
    for (const auto& r : rows)
        if (r.w == width && r.h == height) return r.rate;
    return 1024000;
}

const VideoFormatDescription* asVideo(const FormatDescription* format)
{
    return dynamic_cast<const VideoFormatDescription*>(format);
}

} // namespace

void VideoFrameCompletionCallback(void* /*reserved*/, _VCI_EVENT_INFO* info)
{
    if (info == nullptr || info->context == nullptr) return;
    CallbackGate::Passage passage(static_cast<CallbackGate*>(info->context));
    if (auto* device = passage.device()) device->deliverFrame(info->data, info->length, info->timestamp);
}

OrvaVideoDevice::OrvaVideoDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
    : OrvaAVDevice(std::make_unique<Private>(std::move(deviceInfo)))
{
}

std::shared_ptr<OrvaVideoDevice> OrvaVideoDevice::create(std::shared_ptr<OrvaDeviceInfo> deviceInfo)
{
    return std::shared_ptr<OrvaVideoDevice>(new OrvaVideoDevice(std::move(deviceInfo)));
}

OrvaVideoDevice::~OrvaVideoDevice()
{
    if (isOpen()) closeDevice();
    d().retireCallbackGate();
    d().mSupportedFormats.reset();
    d().mSupportedFrameIntervals.reset();
    d().mFrameinterval.store(nullptr);
    d().mFormat.reset();
}

std::shared_ptr<const Number> OrvaVideoDevice::frameInterval() const
{
    return d().mFrameinterval.load();
}

void OrvaVideoDevice::setFrameInterval(std::shared_ptr<const Number> interval)
{
    d().mFrameinterval.store(std::move(interval));
}

std::shared_ptr<const std::vector<Number>> OrvaVideoDevice::getSupportedFrameIntervals() const
{
    return d().mSupportedFrameIntervals;
}

std::shared_ptr<const FormatDescription> OrvaVideoDevice::getFormat() const
{
    return d().mFormat;
}

std::shared_ptr<const std::vector<std::shared_ptr<OrvaDeviceInfo>>> OrvaVideoDevice::getVideoDeviceList()
{
    return OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
}

int32_t OrvaVideoDevice::openDevice()
{
    unichar path[ZI_DEVICE_TEXT_UNITS] = {};
    // Paths come from the library's own 1024-unit fields; a longer one (which cannot
    // come from the library) opens nothing rather than overrunning the buffer.
    auto text = d().mDeviceInfo->path();
    if (text && text->size() < ZI_DEVICE_TEXT_UNITS) unistr_copyFromCFString(path, *text);
    d().beginHandle();
    void* handle = VCI_Open_Device(path);
    d().mHandle = handle;
    d().mIsOpen = handle != nullptr;
    return handle ? 0 : kStatusFailed;
}

void OrvaVideoDevice::closeDevice()
{
    if (isCapturing()) (void)stopCapture();
    if (isOpen()) {
        (void)d().withdrawFrames(); // a subscription a failed start or stop left behind
        (void)VCI_Close_Device(d().mHandle.load());
        d().mHandle = nullptr;
        d().mIsOpen = false;
        d().mIsCapturing = false; // closed, whatever a failed stop left
    }
}

std::shared_ptr<const std::vector<std::string>> OrvaVideoDevice::getMediaFormats()
{
    if (!isOpen()) return nullptr;
    auto texts = std::make_shared<std::vector<std::string>>();
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Pixel_Formats(d().mHandle.load(), nullptr, &size, &count) != ZI_MORE_DATA) return texts;
    std::vector<_VCI_PIXEL_FORMAT> entries(count);
    if (VCI_Enum_Pixel_Formats(d().mHandle.load(), entries.data(), &size, &count) != ZI_OK) return texts;
    for (uint32_t i = 0; i < count && i < entries.size(); ++i) {
        unichar four[5] = {entries[i].fourcc[0], entries[i].fourcc[1], entries[i].fourcc[2], entries[i].fourcc[3], 0};
        std::string text;
        for (int k = 0; k < 4; ++k) {
            const unichar one[2] = {four[k] ? four[k] : unichar(' '), 0};
            text += unistr_createCFString(one);
        }
        texts->push_back(std::move(text));
    }
    return texts;
}

std::shared_ptr<const FormatList> OrvaVideoDevice::getResolutionsForCodec(uint32_t codec)
{
    auto formats = std::make_shared<FormatList>();
    const _VCI_PIXEL_FORMAT format = pixelFormat(codec);
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Frame_Sizes(d().mHandle.load(), &format, nullptr, &size, &count) != ZI_MORE_DATA) return formats;
    std::vector<_VCI_FRAME_SIZE> sizes(count);
    if (VCI_Enum_Frame_Sizes(d().mHandle.load(), &format, sizes.data(), &size, &count) != ZI_OK) return formats;
    for (uint32_t i = 0; i < count && i < sizes.size(); ++i)
        if (auto d = VideoFormatDescription::create(codec, static_cast<int32_t>(sizes[i].width),
                                                    static_cast<int32_t>(sizes[i].height)))
            formats->push_back(std::move(d));
    return formats;
}

std::shared_ptr<const FormatList> OrvaVideoDevice::getSupportedFormats()
{
    if (d().mSupportedFormats) return d().mSupportedFormats;
    auto all = std::make_shared<FormatList>();
    if (auto texts = getMediaFormats()) {
        for (const auto& text : *texts) {
            uint32_t code = 0;
            for (size_t i = 0; i < 4; ++i)
                code = (code << 8) | (i < text.size() ? static_cast<uint8_t>(text[i]) : 0u);
            auto some = getResolutionsForCodec(code);
            all->insert(all->end(), some->begin(), some->end());
        }
    }
    d().mSupportedFormats = all;
    return d().mSupportedFormats;
}

std::shared_ptr<FormatList> OrvaVideoDevice::copyFormatsForCodec(uint32_t codec, const FormatList* formats)
{
    if (formats == nullptr || formats->empty()) return nullptr;
    auto out = std::make_shared<FormatList>();
    for (const auto& f : *formats)
        if (f && f->mediaSubType() == codec) out->push_back(f);
    return out;
}

std::shared_ptr<const std::vector<Number>> OrvaVideoDevice::getSupportedFrameIntervals(const FormatDescription& format) const
{
    auto intervals = std::make_shared<std::vector<Number>>();
    const auto* video = asVideo(&format);
    if (!video) return intervals;
    const _VCI_PIXEL_FORMAT pf = pixelFormat(video->mediaSubType());
    const _VCI_FRAME_SIZE frameSize{static_cast<uint32_t>(video->dimensions().width),
                                    static_cast<uint32_t>(video->dimensions().height)};
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Frame_Intervals(d().mHandle.load(), &pf, &frameSize, nullptr, &size, &count) != ZI_MORE_DATA)
        return intervals;
    std::vector<_VCI_FRAME_INTERVAL> entries(count);
    if (VCI_Enum_Frame_Intervals(d().mHandle.load(), &pf, &frameSize, entries.data(), &size, &count) != ZI_OK)
        return intervals;
    for (uint32_t i = 0; i < count && i < entries.size(); ++i)
        intervals->push_back(Number::numberWithUnsignedInt(entries[i].interval));
    return intervals;
}

uint32_t OrvaVideoDevice::captureFrameInterval() const
{
    const auto format = d().mFormat;
    const uint32_t asked = requestedInterval(d().mFrameinterval.load());
    if (!format || !isOpen()) return asked;
    const auto listed = getSupportedFrameIntervals(*format);
    uint32_t best = asked;
    int64_t bestDistance = INT64_MAX;
    for (const auto& n : *listed) {
        const auto interval = static_cast<uint32_t>(n.integerValue());
        const int64_t distance = std::llabs(int64_t{interval} - int64_t{asked});
        if (interval > 0 && distance < bestDistance) {
            best = interval;
            bestDistance = distance;
        }
    }
    return best;
}

void OrvaVideoDevice::setFormat(std::shared_ptr<const FormatDescription> format)
{
    d().mFormat = asVideo(format.get()) ? std::move(format) : nullptr;
}

int32_t OrvaVideoDevice::setCaptureFormat(const FormatDescription& format)
{
    if (!isOpen()) return kStatusNotOpen;
    const auto* video = asVideo(&format);
    if (!video) return kStatusNoFormat;
    _VCI_CAPTURE_PARAMETERS p;
    std::memset(&p, 0, sizeof p);
    const uint32_t code = video->mediaSubType();
    p.pixelFormat = pixelFormat(code);
    p.width = static_cast<uint32_t>(video->dimensions().width);
    p.height = static_cast<uint32_t>(video->dimensions().height);
    p.frameInterval = requestedInterval(d().mFrameinterval.load());
    p.intervalUnitsPerSecond = 10000000;
    if (code == kCodecAVC1) {
        p.isH264 = 1;
        p.bitRate = h264BitRate(video->dimensions().width, video->dimensions().height);
        p.h264Setting = 24;
    }
    return VCI_Set_Capture_Parameters(d().mHandle.load(), &p) != ZI_OK ? kStatusNoFormat : 0;
}

int32_t OrvaVideoDevice::Private::withdrawFrames()
{
    if (!mSubscribed.load()) return ZI_OK;
    const int32_t result = VCI_UnSubscribe_Event(mHandle.load(), VCI_EVENT_FRAME);
    if (result == ZI_OK) mSubscribed = false; // the library waited for a callback under way
    return result;
}

int32_t OrvaVideoDevice::startCapture()
{
    if (isCapturing()) {
        d().mRunForShare = false; // the host runs it now, whoever started it
        return 0;
    }
    if (!isOpen()) return kStatusNotOpen;
    if (!d().mFormat) return kStatusNoFormat;
    (void)setCaptureFormat(*d().mFormat);
    void* handle = d().mHandle.load();
    // A subscription a failed start left in place goes first, so frames are never
    // delivered twice; if the library still will not confirm it, nothing starts.
    if (d().withdrawFrames() != ZI_OK) return kStatusFailed;
    d().mSubstream = d().mFormat->mediaSubType() == kCodecAVC1 ? 1 : 0;
    d().mSubscribed = true; // before the call: the library may call back before it returns
    if (VCI_Subscribe_Event(handle, VCI_EVENT_FRAME, VideoFrameCompletionCallback, d().mCallbackGate) != ZI_OK) {
        d().mSubscribed = false;
        return kStatusFailed;
    }
    const int32_t started = VCI_Start_Capture(handle, d().mSubstream);
    if (started == ZI_ERR_BUSY) {
        (void)d().withdrawFrames(); // refused: the camera is another program's
        return kStatusRefused;
    }
    // Any other failure leaves the subscription in place (no step is undone); the
    // gate keeps its callbacks harmless, and closing withdraws it.
    if (started != ZI_OK) return kStatusFailed;
    d().mIsCapturing = true;
    return 0;
}

int32_t OrvaVideoDevice::stopCapture()
{
    if (!isCapturing()) return 0;
    if (!isOpen()) return kStatusNotOpen;
    // The subscription is withdrawn only once the library stopped; a failed stop
    // leaves the camera capturing, so that closing tries again.
    if (VCI_Stop_Capture(d().mHandle.load(), d().mSubstream) != ZI_OK) return kStatusFailed;
    if (d().withdrawFrames() != ZI_OK) return kStatusFailed;
    d().mIsCapturing = false;
    d().mRunForShare = false;
    return 0;
}

} // namespace orva
