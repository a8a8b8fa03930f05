// The scripted UVC camera in a program the test starts (the orva command-line host):
// preloaded (LD_PRELOAD) beside umockdev's library, it puts a camera behind the
// capture library's device-file seam before main() runs, and a thread hands it a
// frame every 1/30 s while it streams, in the format the library set: YUYV 640x480
// with moving bars, or the same at 1280x720 as a JPEG. With the test's umockdev
// testbed (whose directory the program inherits) the program sees a USB camera of the
// maker at /dev/video0 with its metadata node at /dev/video1.
//
// ORVA_SCRIPTED_CAMERA_FAULT makes it a camera a person cannot use: "unreadable" (its
// nodes refuse opening with EACCES, as a mode-000 node refuses a user outside its
// group), "busy" (another program streams: setting the format answers EBUSY), or
// "unsupported" (it offers only a pixel format the library does not capture).
#include "FakeUvcCamera.h"

#include <turbojpeg.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using orvatest::FakeUvcCamera;

const std::string kNode = "/dev/video0";

// A 4:2:2 picture: eight vertical bars of luma moved by `shift` pixels, grey chroma.
std::vector<uint8_t> yuyvPicture(uint32_t width, uint32_t height, uint32_t shift)
{
    std::vector<uint8_t> bytes(size_t{width} * height * 2);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = &bytes[(size_t{y} * width + x) * 2];
            pixel[0] = static_cast<uint8_t>(16 + 27 * (((x + shift) * 8 / width) % 8)); // Y
            pixel[1] = (x % 2) ? 112 : 144;                                             // U or V
        }
    return bytes;
}

std::vector<uint8_t> jpegOf(const std::vector<uint8_t>& yuyv, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> y(size_t{width} * height), u(y.size() / 2), v(y.size() / 2);
    for (size_t i = 0; i < y.size(); i += 2) {
        y[i] = yuyv[2 * i];
        u[i / 2] = yuyv[2 * i + 1];
        y[i + 1] = yuyv[2 * i + 2];
        v[i / 2] = yuyv[2 * i + 3];
    }
    const unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    const int strides[3] = {static_cast<int>(width), static_cast<int>(width / 2), static_cast<int>(width / 2)};
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> out;
    if (tjCompressFromYUVPlanes(encoder, planes, static_cast<int>(width), strides, static_cast<int>(height), TJSAMP_422,
                                &jpeg, &size, 90, 0) == 0)
        out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return out;
}

int64_t monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

class ScriptedCamera {
public:
    ScriptedCamera()
    {
        mCamera.addNode(kNode);
        mCamera.addNode("/dev/video1", V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        const v4l2_fract thirty{1, 30}, fifteen{1, 15}, ntsc{1001, 30000};
        const std::string fault = std::getenv("ORVA_SCRIPTED_CAMERA_FAULT") ? std::getenv("ORVA_SCRIPTED_CAMERA_FAULT") : "";
        if (fault == "unsupported") {
            mCamera.addFormat(kNode, {V4L2_PIX_FMT_NV12, 640, 480, {thirty}});
        } else {
            mCamera.addFormat(kNode, {V4L2_PIX_FMT_YUYV, 640, 480, {thirty, fifteen}});
            mCamera.addFormat(kNode, {V4L2_PIX_FMT_MJPEG, 1280, 720, {ntsc, fifteen}});
        }
        if (fault == "unreadable") {
            mCamera.failOpen(kNode, EACCES);
            mCamera.failOpen("/dev/video1", EACCES);
        }
        if (fault == "busy") mCamera.failIoctl(VIDIOC_S_FMT, EBUSY, 1000);
        mCamera.setControl(kNode, V4L2_CID_BRIGHTNESS, FakeUvcCamera::range(-64, 64, 0, 0));
        mCamera.setControl(kNode, V4L2_CID_CONTRAST, FakeUvcCamera::range(0, 95, 32, 32));
        // Anti-flicker without the automatic setting: off, 50 Hz, 60 Hz.
        auto powerLine = FakeUvcCamera::menu({0, 1, 2}, 1, 1);
        powerLine.maximum = 2;
        mCamera.setControl(kNode, V4L2_CID_POWER_LINE_FREQUENCY, powerLine);
        // The pictures are made before main() runs: a capture's first frame comes at
        // once, even in a slow (sanitized) program.
        for (uint32_t shift = 0; shift < 640; shift += 160) mYuyv.push_back(yuyvPicture(640, 480, shift));
        for (uint32_t shift = 0; shift < 1280; shift += 320) mJpeg.push_back(jpegOf(yuyvPicture(1280, 720, shift), 1280, 720));
        mPump = std::thread([this] { pump(); });
    }
    ~ScriptedCamera()
    {
        mStop = true;
        mPump.join();
    }

private:
    void pump()
    {
        uint32_t frame = 0;
        auto next = std::chrono::steady_clock::now();
        while (!mStop) {
            next += std::chrono::microseconds(33333);
            std::this_thread::sleep_until(next);
            if (!mCamera.streaming(kNode)) continue;
            const auto& pictures = mCamera.lastFormat(kNode).pixelformat == V4L2_PIX_FMT_MJPEG ? mJpeg : mYuyv;
            (void)mCamera.pushFrame(kNode, pictures[frame++ % pictures.size()], monotonicMicroseconds());
        }
    }

    FakeUvcCamera mCamera;
    std::vector<std::vector<uint8_t>> mYuyv, mJpeg; // a short loop of moving bars in each format
    std::atomic<bool> mStop{false};
    std::thread mPump;
};

ScriptedCamera gCamera;

} // namespace
