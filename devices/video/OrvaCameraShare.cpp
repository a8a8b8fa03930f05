#include <orva/OrvaCameraShare.h>

#include <orva/NotificationCenter.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaStatus.h>
#include "devices/video/OrvaVideoDevicePrivate.h"
#include "platform/foundation/SystemLog.h"
#include <orva/FormatDescription.h>
#include "platform/media/H264FrameDecoder.h"

#include <PipeWireVideoSource.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <numeric>
#include <vector>

namespace orva {

const char* const KPXCameraShareChanged = "kKPXCameraShareChanged";

using pipewire::PipeWireConnection;
using pipewire::PipeWireVideoSource;

class ORVA_NO_EXPORT OrvaCameraShare::Private {
public:
    explicit Private(std::shared_ptr<OrvaVideoDevice> camera) : mCamera(std::move(camera)) {}

    void changed(OrvaCameraShare& share, PipeWireVideoSource::Event event, uint32_t consumers);
    void setFailure(const std::string& why)
    {
        std::lock_guard lock(mLock);
        mFailure = why;
    }

    std::shared_ptr<OrvaVideoDevice> mCamera;
    mutable std::mutex mLock; // mFailure, mNodeName, and the source's making and going
    std::string mFailure, mNodeName;
    std::unique_ptr<PipeWireVideoSource> mSource;
    std::atomic<PipeWireVideoSource*> mSourceForCapture{nullptr}; // what the capture thread reads
    std::unique_ptr<H264FrameDecoder> mDecoder; // the capture thread's, for an H.264 camera
    std::vector<uint8_t> mPicture;              // its decoded picture (I420)
    bool mH264 = false;
    uint32_t mWidth = 0, mHeight = 0;
    uint64_t mSentBefore = 0, mDroppedBefore = 0; // by the nodes of earlier starts (under mLock)
    std::mutex mCameraLock; // starting and stopping the camera for them
};


std::string OrvaCameraShare::nodeNameFor(const OrvaDeviceInfo& camera)
{
    std::string name = "orva-camera-";
    const auto path = camera.path();
    for (char c : path ? *path : std::string("camera")) {
        if (name.size() >= 64) break;
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) name += static_cast<char>(std::tolower(u));
        else if (name.back() != '-') name += '-';
    }
    while (name.back() == '-') name.pop_back();
    return name;
}

uint32_t OrvaCameraShare::sharedNodeOf(const OrvaDeviceInfo& camera)
{
    std::string error;
    const auto connection = PipeWireConnection::connect(&error);
    return connection ? PipeWireVideoSource::findNode(connection, nodeNameFor(camera)) : 0;
}

OrvaCameraShare::OrvaCameraShare(std::shared_ptr<OrvaVideoDevice> camera)
    : d(std::make_unique<Private>(std::move(camera)))
{
}

std::shared_ptr<OrvaCameraShare> OrvaCameraShare::create(std::shared_ptr<OrvaVideoDevice> camera)
{
    if (!camera) return nullptr;
    return std::shared_ptr<OrvaCameraShare>(new OrvaCameraShare(std::move(camera)));
}

OrvaCameraShare::~OrvaCameraShare()
{
    stopSharing();
}

int32_t OrvaCameraShare::startSharing()
{
    if (isSharing()) return kOrvaOK;
    auto& camera = *d->mCamera;
    if (!camera.isOpen()) return kOrvaErrorNotOpen;
    const auto format = std::dynamic_pointer_cast<const VideoFormatDescription>(camera.getFormat());
    if (!format) return kOrvaErrorNoFormat;
    d->mH264 = format->mediaSubType() == kCodecAVC1;
    if (!d->mH264 && format->mediaSubType() != kCodec2VUY) return kOrvaErrorUnsupportedMediaType;

    PipeWireVideoSource::Options options;
    const auto info = camera.deviceInfo();
    options.nodeName = nodeNameFor(*info);
    options.description = info->nameText();
    options.cameraPath = info->path() ? *info->path() : std::string();
    options.format = d->mH264 ? PipeWireVideoSource::PixelFormat::I420 : PipeWireVideoSource::PixelFormat::UYVY;
    options.width = static_cast<uint32_t>(format->dimensions().width);
    options.height = static_cast<uint32_t>(format->dimensions().height);
    // The camera's declared rate, in 100 ns units per frame.
    const uint32_t interval = camera.captureFrameInterval();
    options.rateNumerator = 10000000;
    options.rateDenominator = interval ? interval : 333333;
    const uint32_t divisor = std::gcd(options.rateNumerator, options.rateDenominator);
    options.rateNumerator /= divisor;
    options.rateDenominator /= divisor;

    std::string error;
    auto connection = PipeWireConnection::connect(&error);
    std::weak_ptr<OrvaCameraShare> weak = weak_from_this();
    auto source = connection ? PipeWireVideoSource::create(connection, options,
                                                           [weak](PipeWireVideoSource::Event event, uint32_t consumers) {
                                                               if (auto self = weak.lock())
                                                                   self->d->changed(*self, event, consumers);
                                                           },
                                                           &error)
                             : nullptr;
    if (!source) {
        d->setFailure(error.empty() ? std::string("PipeWire is not running") : error);
        return kOrvaErrorNoPipeWire;
    }
    d->mWidth = options.width;
    d->mHeight = options.height;
    if (d->mH264) {
        d->mDecoder = std::make_unique<H264FrameDecoder>();
        d->mPicture.assign(source->frameBytes(), 0);
    }
    {
        std::lock_guard lock(d->mLock);
        d->mFailure.clear();
        d->mNodeName = options.nodeName;
        d->mSource = std::move(source);
        d->mSourceForCapture = d->mSource.get();
    }
    camera.addDelegate(shared_from_this());
    SystemLog::log("Sharing %s as PipeWire node %u (%s)", options.description.c_str(), nodeID(), options.nodeName.c_str());
    return kOrvaOK;
}

void OrvaCameraShare::stopSharing()
{
    std::unique_ptr<PipeWireVideoSource> source;
    {
        std::lock_guard lock(d->mLock);
        if (!d->mSource) return;
        d->mSourceForCapture = nullptr;
        source = std::move(d->mSource);
    }
    // No capture callback of the share runs once the camera stopped or dropped it.
    if (auto self = weak_from_this().lock()) d->mCamera->removeDelegate(self);
    {
        std::lock_guard lock(d->mCameraLock);
        if (d->mCamera->d().mRunForShare.exchange(false)) (void)d->mCamera->stopCapture();
    }
    {
        std::lock_guard lock(d->mLock); // the capture thread is done with the node: its counts are final
        d->mSentBefore += source->framesSent();
        d->mDroppedBefore += source->framesDropped();
    }
    source.reset(); // the node goes (not under mLock: its thread's listener takes it)
}

bool OrvaCameraShare::isSharing() const
{
    return d->mSourceForCapture.load() != nullptr && !d->mSourceForCapture.load()->lost();
}

uint32_t OrvaCameraShare::nodeID() const
{
    std::lock_guard lock(d->mLock);
    return d->mSource ? d->mSource->nodeID() : 0;
}

std::string OrvaCameraShare::nodeName() const
{
    std::lock_guard lock(d->mLock);
    return d->mSource ? d->mNodeName : std::string();
}

uint32_t OrvaCameraShare::consumerCount() const
{
    std::lock_guard lock(d->mLock);
    return d->mSource ? d->mSource->consumers() : 0;
}

uint64_t OrvaCameraShare::framesShared() const
{
    std::lock_guard lock(d->mLock);
    return d->mSentBefore + (d->mSource ? d->mSource->framesSent() : 0);
}

uint64_t OrvaCameraShare::framesDropped() const
{
    std::lock_guard lock(d->mLock);
    return d->mDroppedBefore + (d->mSource ? d->mSource->framesDropped() : 0);
}

std::string OrvaCameraShare::failure() const
{
    std::lock_guard lock(d->mLock);
    return d->mFailure;
}

// The share's PipeWire thread: a consumer came or left, or the daemon went. A camera
// the host does not run is run while someone watches.
void OrvaCameraShare::Private::changed(OrvaCameraShare& share, PipeWireVideoSource::Event event, uint32_t consumers)
{
    const bool ended = event == PipeWireVideoSource::Event::Lost;
    if (ended) setFailure("PipeWire went away");
    {
        std::lock_guard lock(mCameraLock);
        // A share being stopped (no node for the capture thread) starts nothing.
        if (!ended && consumers > 0 && mSourceForCapture.load() && !mCamera->isCapturing()) {
            if (mCamera->startCapture() == kOrvaOK) mCamera->d().mRunForShare = true;
        } else if ((ended || consumers == 0) && mCamera->d().mRunForShare.exchange(false)) {
            (void)mCamera->stopCapture();
        }
    }
    uint32_t node = 0;
    {
        std::lock_guard lock(mLock);
        node = mSource ? mSource->nodeID() : 0;
    }
    NotificationCenter::defaultCenter().postNotificationName(
        KPXCameraShareChanged, share.weak_from_this().lock(),
        {{"consumers", std::any(consumers)}, {"node", std::any(node)}, {"ended", std::any(ended)}});
}

void OrvaCameraShare::didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                      const std::shared_ptr<OrvaDeviceInfo>&)
{
    PipeWireVideoSource* source = d->mSourceForCapture.load();
    if (!source || !frame || length == 0) return;
    const auto* bytes = static_cast<const uint8_t*>(frame);
    if (d->mH264) {
        // Every frame is decoded, wanted or not: a consumer that comes later needs the
        // pictures the next ones refer to. The picture goes into the capture thread's
        // own buffer, and from there into a free PipeWire buffer when there is one.
        const uint32_t n = d->mDecoder->decode(bytes, length, d->mWidth, d->mHeight, d->mPicture.data(),
                                               static_cast<uint32_t>(d->mPicture.size()));
        if (n == 0) return;
        (void)source->push(timestamp, [&](uint8_t* data, uint32_t size, uint32_t) {
            const uint32_t copied = std::min(n, size);
            std::memcpy(data, d->mPicture.data(), copied);
            return copied;
        });
        return;
    }
    (void)source->push(timestamp, [&](uint8_t* data, uint32_t size, uint32_t) {
        const uint32_t n = std::min(length, std::min(size, source->frameBytes()));
        std::memcpy(data, bytes, n);
        return n;
    });
}

} // namespace orva
