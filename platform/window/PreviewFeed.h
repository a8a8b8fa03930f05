// The camera's pictures for the preview window. On the capture thread it takes each
// frame: 2vuy is copied into the latest-frame slot at once; H.264 is queued (16
// frames at most, copied into buffers kept from the first frames) for a decoding
// thread of its own, which decodes every frame in order (libavcodec) and puts each
// picture, I420, into the slot. The capture thread never waits for the decoder or the
// window, and takes no lock: with the queue full a frame is skipped and counted.
// Neither side allocates once the buffers have their size.
#pragma once

#include "platform/window/LatestFrame.h"

#include <orva/OrvaAVDeviceDelegate.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <thread>
#include <vector>

namespace orva {

class H264FrameDecoder;

class PreviewFeed : public OrvaAVDeviceDelegate {
public:
    PreviewFeed(bool h264, uint32_t width, uint32_t height);
    ~PreviewFeed() override; // the decoding thread ends here
    PreviewFeed(const PreviewFeed&) = delete;
    PreviewFeed& operator=(const PreviewFeed&) = delete;

    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>& device) override;

    // The window's thread takes the newest picture from here.
    LatestFrame& pictures() { return mPictures; }
    uint64_t framesCaptured() const { return mCaptured.load(); }
    uint64_t framesSkipped() const { return mSkipped.load(); } // H.264 the decoder did not keep up with

private:
    void decodeFrames();

    static constexpr size_t kQueue = 16;
    struct Queued {
        std::vector<uint8_t> bytes;
        uint32_t length = 0;
        int64_t timestamp = 0;
    };
    const bool mH264;
    const uint32_t mWidth, mHeight;
    LatestFrame mPictures;
    std::atomic<uint64_t> mCaptured{0}, mSkipped{0};

    // One writer (the capture thread), one reader (the decoding thread): frame n is
    // in slot n % kQueue; the semaphore counts the frames queued and wakes the reader.
    std::array<Queued, kQueue> mQueue;
    std::atomic<uint64_t> mWritten{0}, mRead{0};
    std::counting_semaphore<> mQueued{0};
    std::atomic<bool> mStop{false};
    std::unique_ptr<H264FrameDecoder> mDecoder;
    std::thread mDecoding;
};

} // namespace orva
