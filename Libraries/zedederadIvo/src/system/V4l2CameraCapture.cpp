// Capture: the node's format and interval set (VIDIOC_S_FMT, VIDIOC_S_PARM), mmap
// streaming buffers mapped read-write (the component rewrites H.264 in place), and a
// poll thread that dequeues each frame, converts it when the offered format differs
// from the node's, hands it to the subscribers and queues the buffer again.
#include "V4l2Camera.h"

#include "DeviceFile.h"
#include "Subscriptions.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

namespace zi::sys {

namespace {

constexpr uint32_t kBufferCount = 4;
constexpr int kErrorLimit = 30; // consecutive failed dequeues before the camera counts as gone

int64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

} // namespace

int32_t V4l2Camera::startCapture()
{
    std::lock_guard lock(mCaptureMutex);
    if (mGone) return ZI_ERR_NO_DEVICE;
    if (mStreaming) return ZI_OK;
    if (!mChosen) return ZI_ERR_INVALID_ARG;
    if (mThread.joinable()) mThread.join(); // an earlier loop that ended by itself (device gone)
    const Mode& mode = mModes[mChosen->first];
    const Interval& rate = mode.intervals[mChosen->second];

    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = mode.width;
    format.fmt.pix.height = mode.height;
    format.fmt.pix.pixelformat = mode.pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (devicefile::xioctl(mFd, VIDIOC_S_FMT, &format) != 0) return failure(errno);
    if (format.fmt.pix.width != mode.width || format.fmt.pix.height != mode.height ||
        format.fmt.pix.pixelformat != mode.pixelFormat)
        return ZI_ERR_INVALID_ARG; // the node would not take its own listed format
    mPixelFormat = mode.pixelFormat;
    mWidth = mode.width;
    mHeight = mode.height;
    mBytesPerLine = format.fmt.pix.bytesperline ? format.fmt.pix.bytesperline : mode.width * 2;

    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parameters.parm.capture.timeperframe.numerator = rate.numerator;
    parameters.parm.capture.timeperframe.denominator = rate.denominator;
    (void)devicefile::xioctl(mFd, VIDIOC_S_PARM, &parameters); // not every node sets its rate

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (devicefile::xioctl(mFd, VIDIOC_REQBUFS, &request) != 0) return failure(errno);
    if (request.count < 2) {
        releaseBuffers();
        return ZI_ERR_FAILED;
    }
    size_t largest = 0;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (devicefile::xioctl(mFd, VIDIOC_QUERYBUF, &buffer) != 0) {
            const int error = errno;
            releaseBuffers();
            return failure(error);
        }
        void* start = devicefile::mmap(buffer.length, PROT_READ | PROT_WRITE, mFd, buffer.m.offset);
        if (start == MAP_FAILED) {
            const int error = errno;
            releaseBuffers();
            return failure(error);
        }
        mBuffers.push_back({start, buffer.length});
        largest = std::max<size_t>(largest, buffer.length);
        if (devicefile::xioctl(mFd, VIDIOC_QBUF, &buffer) != 0) {
            const int error = errno;
            releaseBuffers();
            return failure(error);
        }
    }

    // The one buffer conversion writes into, made now so that frames allocate nothing.
    mDecoder.reset();
    if (mPixelFormat == V4L2_PIX_FMT_H264) {
        mConverted.resize(maxRewrittenLength(largest));
    } else {
        mConverted.resize(size_t{mWidth} * mHeight * 2);
        if (mPixelFormat == V4L2_PIX_FMT_MJPEG || mPixelFormat == V4L2_PIX_FMT_JPEG) {
            mDecoder = std::make_unique<MjpegDecoder>();
            if (!mDecoder->prepare(mWidth, mHeight)) {
                releaseBuffers();
                return ZI_ERR_FAILED;
            }
        }
    }

    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (devicefile::xioctl(mFd, VIDIOC_STREAMON, &type) != 0) {
        const int error = errno;
        releaseBuffers();
        return failure(error);
    }
    uint64_t drain;
    while (::read(mWakeFd, &drain, sizeof drain) > 0) {
    }
    mStopping = false;
    mReleaseOnLoopEnd = false;
    mStreaming = true;
    mThread = std::thread([self = shared_from_this()] { self->captureLoop(); });
    return ZI_OK;
}

int32_t V4l2Camera::stopCapture()
{
    std::unique_lock lock(mCaptureMutex);
    if (!mThread.joinable()) {
        if (mStreaming || !mBuffers.empty()) releaseBuffers();
        mStreaming = false;
        return ZI_OK;
    }
    mStopping = true;
    const uint64_t one = 1;
    (void)::write(mWakeFd, &one, sizeof one);
    if (mThread.get_id() == std::this_thread::get_id()) {
        // Called from a frame callback: the loop lets the buffers go once it returns.
        mReleaseOnLoopEnd = true;
        mThread.detach();
        mStreaming = false;
        return ZI_OK;
    }
    mThread.join();
    releaseBuffers();
    mStreaming = false;
    return ZI_OK;
}

void V4l2Camera::releaseBuffers()
{
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    (void)devicefile::xioctl(mFd, VIDIOC_STREAMOFF, &type);
    for (const auto& buffer : mBuffers) devicefile::munmap(buffer.start, buffer.length);
    mBuffers.clear();
    v4l2_requestbuffers none{};
    none.count = 0;
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    (void)devicefile::xioctl(mFd, VIDIOC_REQBUFS, &none);
}

void V4l2Camera::captureLoop()
{
    pollfd fds[2] = {{mFd, POLLIN, 0}, {mWakeFd, POLLIN, 0}};
    int errors = 0;
    while (!mStopping) {
        const int ready = devicefile::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents || mStopping) break;
        if (fds[0].revents == 0) continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (devicefile::xioctl(mFd, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN) continue;
            // ENODEV: unplugged. Anything else, again and again: as good as gone.
            if (errno == ENODEV || errno == ENXIO || ++errors >= kErrorLimit) {
                mGone = true;
                break;
            }
            continue;
        }
        errors = 0;
        if (buffer.index < mBuffers.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0) {
            const bool monotonic =
                (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC &&
                (buffer.timestamp.tv_sec != 0 || buffer.timestamp.tv_usec != 0);
            const int64_t timestamp = monotonic ? int64_t{buffer.timestamp.tv_sec} * 1000000 + buffer.timestamp.tv_usec
                                                : monotonicMicroseconds();
            const uint32_t used = std::min<uint32_t>(buffer.bytesused, static_cast<uint32_t>(mBuffers[buffer.index].length));
            deliver(static_cast<uint8_t*>(mBuffers[buffer.index].start), used, timestamp);
        }
        if (mStopping) break;
        if (devicefile::xioctl(mFd, VIDIOC_QBUF, &buffer) != 0 && (errno == ENODEV || errno == ENXIO)) {
            mGone = true;
            break;
        }
    }
    if (mReleaseOnLoopEnd) releaseBuffers();
}

void V4l2Camera::deliver(uint8_t* data, uint32_t bytesUsed, int64_t timestamp)
{
    const size_t rowBytes = size_t{mWidth} * 2;
    const size_t frameBytes = rowBytes * mHeight;
    switch (mPixelFormat) {
    case V4L2_PIX_FMT_H264: {
        const size_t rewritten = rewriteShortStartCodes(data, bytesUsed, mConverted.data());
        if (rewritten == 0)
            mSubscriptions.dispatch(mHandle, VCI_EVENT_FRAME, data, bytesUsed, timestamp);
        else
            mSubscriptions.dispatch(mHandle, VCI_EVENT_FRAME, mConverted.data(), static_cast<uint32_t>(rewritten),
                                    timestamp);
        return;
    }
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG:
        if (mDecoder && mDecoder->decode(data, bytesUsed, mConverted.data()))
            mSubscriptions.dispatch(mHandle, VCI_EVENT_FRAME, mConverted.data(), static_cast<uint32_t>(frameBytes),
                                    timestamp);
        return;
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_YUYV: {
        // A short frame (the camera dropped data) is not handed on.
        if (bytesUsed < size_t{mBytesPerLine} * (mHeight - 1) + rowBytes) return;
        const bool swap = mPixelFormat == V4L2_PIX_FMT_YUYV;
        if (!swap && mBytesPerLine == rowBytes) {
            mSubscriptions.dispatch(mHandle, VCI_EVENT_FRAME, data, static_cast<uint32_t>(frameBytes), timestamp);
            return;
        }
        for (uint32_t row = 0; row < mHeight; ++row) {
            const uint8_t* in = data + size_t{row} * mBytesPerLine;
            uint8_t* out = mConverted.data() + row * rowBytes;
            if (swap)
                swapBytePairs(in, out, rowBytes);
            else
                std::memcpy(out, in, rowBytes);
        }
        mSubscriptions.dispatch(mHandle, VCI_EVENT_FRAME, mConverted.data(), static_cast<uint32_t>(frameBytes),
                                timestamp);
        return;
    }
    default:
        return;
    }
}

} // namespace zi::sys
