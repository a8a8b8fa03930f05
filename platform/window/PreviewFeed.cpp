#include "platform/window/PreviewFeed.h"

#include "platform/media/H264FrameDecoder.h"

#include <cstring>

namespace orva {

PreviewFeed::PreviewFeed(bool h264, uint32_t width, uint32_t height) : mH264(h264), mWidth(width), mHeight(height)
{
    const size_t pictureSize = h264 ? size_t{width} * height * 3 / 2 : size_t{width} * height * 2;
    mPictures.reserve(pictureSize);
    if (!h264) return;
    for (auto& slot : mQueue) slot.bytes.resize(size_t{width} * height / 2); // a generous compressed frame
    mDecoder = std::make_unique<H264FrameDecoder>();
    mDecoding = std::thread([this] { decodeFrames(); });
}

PreviewFeed::~PreviewFeed()
{
    mStop = true;
    mQueued.release();
    if (mDecoding.joinable()) mDecoding.join();
}

void PreviewFeed::didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                                  const std::shared_ptr<OrvaDeviceInfo>&)
{
    mCaptured++;
    if (!mH264) {
        if (length != size_t{mWidth} * mHeight * 2) return;
        auto& picture = mPictures.back();
        picture.bytes.resize(length); // within what was reserved
        std::memcpy(picture.bytes.data(), frame, length);
        picture.width = mWidth;
        picture.height = mHeight;
        picture.planar = false;
        picture.timestamp = timestamp;
        mPictures.publish();
        return;
    }
    const uint64_t written = mWritten.load(std::memory_order_relaxed);
    if (written - mRead.load(std::memory_order_acquire) == kQueue) {
        mSkipped++;
        return;
    }
    // The slot after the queued ones is the capture thread's until it is counted in.
    auto& queued = mQueue[written % kQueue];
    if (queued.bytes.size() < length) queued.bytes.resize(length); // a frame larger than any before
    std::memcpy(queued.bytes.data(), frame, length);
    queued.length = length;
    queued.timestamp = timestamp;
    mWritten.store(written + 1, std::memory_order_release);
    mQueued.release();
}

void PreviewFeed::decodeFrames()
{
    for (;;) {
        mQueued.acquire(); // the writer's release: its frame's bytes are there
        if (mStop) return;
        const uint64_t read = mRead.load(std::memory_order_relaxed);
        const auto& queued = mQueue[read % kQueue];
        auto& picture = mPictures.back();
        picture.bytes.resize(size_t{mWidth} * mHeight * 3 / 2);
        const uint32_t written = mDecoder->decode(queued.bytes.data(), queued.length, mWidth, mHeight,
                                                  picture.bytes.data(), static_cast<uint32_t>(picture.bytes.size()));
        const int64_t timestamp = queued.timestamp;
        mRead.store(read + 1, std::memory_order_release); // the slot is the writer's again
        if (written == 0) continue;
        picture.width = mWidth;
        picture.height = mHeight;
        picture.planar = true;
        picture.timestamp = timestamp;
        mPictures.publish();
    }
}

} // namespace orva
