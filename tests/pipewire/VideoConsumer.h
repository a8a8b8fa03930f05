// An application watching a PipeWire camera, as a browser or OBS does: a video capture
// stream linked to a node by its name, taking raw frames (UYVY or I420) and keeping
// each frame's bytes and time. A stalled consumer takes none, so its buffers stay full.
// Its stream runs on a connection of its own; the accessors are thread-safe.
#pragma once

#include <PipeWireConnection.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pw_stream;
struct spa_hook;
struct spa_pod;

namespace orvatest {

class VideoConsumer {
public:
    // Connects to the node named `target`; ready() tells whether it linked.
    explicit VideoConsumer(const std::string& target, bool stalled = false);
    ~VideoConsumer();
    VideoConsumer(const VideoConsumer&) = delete;
    VideoConsumer& operator=(const VideoConsumer&) = delete;

    bool connected() const { return mStream != nullptr; }
    size_t frames();
    std::vector<uint8_t> frame(size_t index);
    int64_t pts(size_t index); // nanoseconds, from the buffer's header
    int64_t arrival(size_t index); // monotonic nanoseconds when the consumer got it
    // The agreed format: SPA_VIDEO_FORMAT_*, and the size.
    uint32_t format();
    uint32_t width();
    uint32_t height();

private:
    static void onProcess(void* data);
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param);

    std::shared_ptr<orva::pipewire::PipeWireConnection> mConnection;
    pw_stream* mStream = nullptr;
    std::unique_ptr<spa_hook> mListener;
    bool mStalled = false;
    std::mutex mMutex;
    std::vector<std::vector<uint8_t>> mFrames;
    std::vector<int64_t> mPts, mArrivals;
    uint32_t mFormat = 0, mWidth = 0, mHeight = 0;
};

} // namespace orvatest
