// One open camera node: its formats as the library offers them, capture through mmap
// streaming buffers on a poll thread of its own, and its controls (the standard
// camera-terminal and processing-unit selectors mapped onto V4L2 controls, vendor
// property sets through the UVC extension units found in the USB descriptors).
//
// Threads: the ABI functions call the public members from any host thread, one at a
// time per camera. Frames reach the handle's subscribers on the poll thread; a
// subscriber may stop the capture from inside its callback. markGone() may be called
// from the library's event thread at any time.
#pragma once

#include "CameraDirectory.h"
#include "FrameConverter.h"
#include "UvcDescriptors.h"

#include "zedederadIvo.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zi {
class Subscriptions;
}

namespace zi::sys {

class V4l2Camera : public std::enable_shared_from_this<V4l2Camera> {
public:
    // Opens the node; null when it cannot be opened or does not capture video.
    static std::shared_ptr<V4l2Camera> open(const CameraNode& node, Subscriptions& subscriptions);
    ~V4l2Camera();
    V4l2Camera(const V4l2Camera&) = delete;
    V4l2Camera& operator=(const V4l2Camera&) = delete;

    // The ABI handle the frames are delivered for; set once after open.
    void setHandle(void* handle) { mHandle = handle; }
    const CameraNode& node() const { return mNode; }

    // ---- Formats: 'avc1' and '2vuy', their sizes and intervals (100 ns units) ----
    std::vector<uint32_t> codes() const;
    std::vector<_VCI_FRAME_SIZE> sizes(uint32_t code) const;
    std::vector<uint32_t> intervals(uint32_t code, uint32_t width, uint32_t height) const;
    // Chooses the node format and interval for the parameters: the camera's nearest
    // interval when the asked one is not offered. ZI_ERR_INVALID_ARG for a format the
    // camera lacks.
    int32_t setCaptureParameters(const _VCI_CAPTURE_PARAMETERS& parameters);

    // ---- Capture ----
    // 0 (also when running); ZI_ERR_BUSY when another program holds the camera;
    // ZI_ERR_INVALID_ARG without parameters; ZI_ERR_NO_DEVICE once unplugged.
    int32_t startCapture();
    // 0; returns once no frame is being delivered (at once when called from a frame).
    int32_t stopCapture();
    // The camera was unplugged: every later call but stop and close fails with
    // ZI_ERR_NO_DEVICE.
    void markGone() { mGone = true; }
    bool gone() const { return mGone; }

    // ---- Controls ----
    int32_t getProperty(PropertyQuery query, const PropertySet& set, uint32_t id, void* value, uint32_t* size);
    int32_t setProperty(const PropertySet& set, uint32_t id, const void* value, uint32_t* size);
    std::vector<PropertySet> propertySets() const;
    // ZI_ERR_NO_PROPERTY for a set the camera lacks.
    int32_t propertyItems(const PropertySet& set, std::vector<uint32_t>& ids) const;

    // A node format behind an offered one (public for the format table's helpers).
    struct Interval {
        uint32_t numerator = 0, denominator = 0; // seconds per frame, as the node gives it
        uint32_t units = 0;                      // the same in 100 ns units
    };
    // A standard control: a UVC selector of the camera terminal or processing unit
    // and the V4L2 control(s) behind it.
    struct Control;

    struct Mode {
        uint32_t code = 0;        // 'avc1' or '2vuy'
        uint32_t pixelFormat = 0; // the node's V4L2 format
        int rank = 0;             // preference among node formats giving one code (0 best)
        uint32_t width = 0, height = 0;
        std::vector<Interval> intervals;
    };

private:
    V4l2Camera(CameraNode node, int fd, Subscriptions& subscriptions);
    void enumerateModes();
    void findControls();
    void captureLoop();
    // Converts one dequeued buffer and hands it to the subscribers.
    void deliver(uint8_t* data, uint32_t bytesUsed, int64_t timestamp);
    // Stops streaming and lets the buffers go (after the poll thread ended).
    void releaseBuffers();
    int32_t failure(int error) const;

    const Control* control(const PropertySet& set, uint32_t id) const;
    const ExtensionUnit* extensionUnit(const PropertySet& set) const;
    int32_t getStandard(const Control& control, PropertyQuery query, uint8_t* bytes);
    int32_t setStandard(const Control& control, const uint8_t* bytes);
    int32_t queryExtensionUnit(const ExtensionUnit& unit, uint8_t selector, uint8_t request, std::vector<uint8_t>& data);

    CameraNode mNode;
    int mFd = -1;
    Subscriptions& mSubscriptions;
    void* mHandle = nullptr;
    std::atomic<bool> mGone{false};

    std::vector<Mode> mModes;
    std::optional<std::pair<size_t, size_t>> mChosen; // mode, interval
    std::vector<const Control*> mControls;             // the standard controls the node has
    std::vector<ExtensionUnit> mUnits;

    // Capture state.
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };
    std::mutex mCaptureMutex; // start/stop
    std::vector<Buffer> mBuffers;
    std::thread mThread;
    int mWakeFd = -1;
    std::atomic<bool> mStopping{false};
    std::atomic<bool> mStreaming{false};
    bool mReleaseOnLoopEnd = false; // stopped from a frame callback: the loop lets go
    uint32_t mPixelFormat = 0, mWidth = 0, mHeight = 0, mBytesPerLine = 0;
    std::vector<uint8_t> mConverted;
    std::unique_ptr<MjpegDecoder> mDecoder;
};

} // namespace zi::sys
