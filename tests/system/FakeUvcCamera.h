// A scripted UVC camera behind the capture library's device-file seam: it answers
// the V4L2 and UVC ioctls of the nodes it was given from tables (formats, sizes,
// intervals, controls, extension-unit controls), serves frames the test pushes out
// of buffers it owns, and fails the calls a test names. It keeps no logic of the
// backend's own: it is the camera, not a second backend.
#pragma once

#include <zedederadIvoSystem.h>

#include <linux/videodev2.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace orvatest {

class FakeUvcCamera {
public:
    struct Format {
        uint32_t pixelFormat;
        uint32_t width, height;
        std::vector<v4l2_fract> intervals; // seconds per frame
    };
    struct Control {
        int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0, current = 0;
        uint32_t type = V4L2_CTRL_TYPE_INTEGER;
        std::vector<uint32_t> menuIndices; // for menus: the indices that exist
    };
    static Control range(int32_t minimum, int32_t maximum, int32_t defaultValue, int32_t current)
    {
        Control c;
        c.minimum = minimum;
        c.maximum = maximum;
        c.defaultValue = defaultValue;
        c.current = current;
        return c;
    }
    static Control menu(std::vector<uint32_t> indices, int32_t defaultValue, int32_t current)
    {
        Control c = range(0, 3, defaultValue, current);
        c.type = V4L2_CTRL_TYPE_MENU;
        c.menuIndices = std::move(indices);
        return c;
    }
    struct UnitControl {
        std::vector<uint8_t> current, minimum, maximum, defaultValue;
    };

    FakeUvcCamera();
    ~FakeUvcCamera(); // uninstalls the seam

    // Describing the nodes (before the library opens them).
    void addNode(const std::string& node, uint32_t capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING);
    void addFormat(const std::string& node, Format format);
    void setControl(const std::string& node, uint32_t id, Control control);
    void setUnitControl(const std::string& node, uint8_t unit, uint8_t selector, UnitControl control);
    // open() of the node answers -1 with this errno (0: opens).
    void failOpen(const std::string& node, int error);
    // The next `times` ioctls `request` answer -1 with this errno.
    void failIoctl(unsigned long request, int error, int times = 1);

    // Streaming: hands a frame to the node's next queued buffer; false when the
    // library has no buffer queued (the frame is dropped, as a camera drops it).
    bool pushFrame(const std::string& node, const std::vector<uint8_t>& bytes, int64_t timestampMicroseconds,
                   bool error = false);
    // For benchmarks: copies a frame into every buffer of the node once, then hands
    // them out without copying again (as a camera's DMA fills them).
    void prefill(const std::string& node, const std::vector<uint8_t>& bytes);
    bool pushPrefilled(const std::string& node, uint32_t length, int64_t timestampMicroseconds);
    // The table the camera answers through (for a second copy of the seam).
    const ZISysDeviceFileOps& ops() const { return mOps; }
    // Waits (up to 10 s) until the node is streaming with `buffers` buffers queued.
    bool waitStreaming(const std::string& node, size_t buffers = 1);
    bool streaming(const std::string& node);
    // What the library asked for.
    v4l2_pix_format lastFormat(const std::string& node);
    v4l2_fract lastInterval(const std::string& node);
    int32_t controlValue(const std::string& node, uint32_t id);
    std::vector<uint8_t> unitValue(const std::string& node, uint8_t unit, uint8_t selector);
    // How many VIDIOC_S_EXT_CTRLS calls set how many controls each, in order.
    std::vector<uint32_t> extendedSets(const std::string& node);
    int openFiles();
    // How many times the node was opened so far.
    int opens(const std::string& node);

private:
    struct Buffer {
        std::vector<uint8_t> memory;
        v4l2_buffer state{};
    };
    struct Node {
        uint32_t capabilities = 0;
        int openError = 0;
        std::vector<Format> formats;
        std::map<uint32_t, Control> controls;
        std::map<std::pair<uint8_t, uint8_t>, UnitControl> units;
        v4l2_pix_format format{};
        v4l2_fract interval{};
        std::vector<Buffer> buffers;
        std::deque<uint32_t> queued, filled;
        bool streaming = false;
        std::vector<uint32_t> extendedSets;
        int opens = 0;
    };
    struct Failure {
        int error;
        int times;
    };

    static int onOpen(void* self, const char* path, int flags);
    static int onClose(void* self, int fd);
    static int onIoctl(void* self, int fd, unsigned long request, void* argument);
    static void* onMmap(void* self, void* address, size_t length, int protection, int flags, int fd, off_t offset);
    static int onMunmap(void* self, void* address, size_t length);
    static int onPoll(void* self, struct pollfd* fds, nfds_t count, int timeout);
    int ioctl(Node& node, int fd, unsigned long request, void* argument);
    int queryCapabilities(Node& node, int fd, unsigned long request, void* argument);
    int enumerateFormats(Node& node, int fd, unsigned long request, void* argument);
    int enumerateSizes(Node& node, int fd, unsigned long request, void* argument);
    int enumerateIntervals(Node& node, int fd, unsigned long request, void* argument);
    int setFormat(Node& node, int fd, unsigned long request, void* argument);
    int setParameters(Node& node, int fd, unsigned long request, void* argument);
    int requestBuffers(Node& node, int fd, unsigned long request, void* argument);
    int queryBuffer(Node& node, int fd, unsigned long request, void* argument);
    int queueBuffer(Node& node, int fd, unsigned long request, void* argument);
    int dequeueBuffer(Node& node, int fd, unsigned long request, void* argument);
    int queryControl(Node& node, int fd, unsigned long request, void* argument);
    int queryMenu(Node& node, int fd, unsigned long request, void* argument);
    int unitControl(Node& node, int fd, unsigned long request, void* argument);
    int extendedControls(Node& node, int fd, unsigned long request, void* argument);
    int stream(Node& node, int fd, unsigned long request, void* argument);

    bool push(Node& node, const std::string& path, const std::vector<uint8_t>* bytes, uint32_t length,
              int64_t timestamp, bool error);

    ZISysDeviceFileOps mOps{};
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<std::string, Node> mNodes;
    std::map<int, std::string> mFiles; // open descriptor (an eventfd) -> node
    std::map<unsigned long, Failure> mFailures;
};

} // namespace orvatest
