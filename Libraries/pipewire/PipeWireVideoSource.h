// A camera offered to the desktop as a PipeWire video source: a node of class
// Video/Source and role Camera that drives its own graph, one cycle per frame pushed.
// Consumers (browsers through the camera portal, OBS, GStreamer's pipewiresrc) link to
// it; it counts them from the registry's links and tells its listener as they come
// and go, and when the daemon goes.
//
// Threads: create() and the destructor on any thread but the connection's loop
// thread; push() on one thread at a time (the capture thread): it never blocks, locks
// or allocates: without a free buffer (a consumer that does not take them) the frame
// is dropped and counted. The listener runs on the connection's loop thread.
#pragma once

#include "PipeWireConnection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct pw_registry;
struct pw_stream;
struct spa_hook;
struct spa_pod;
struct spa_dict;

namespace orva::pipewire {

class PipeWireVideoSource {
public:
    enum class PixelFormat { UYVY, I420 };
    struct Options {
        std::string nodeName;    // node.name
        std::string description; // node.description: the camera's name
        std::string cameraPath;  // orva.camera.path: the camera's record path
        PixelFormat format = PixelFormat::UYVY;
        uint32_t width = 0, height = 0;
        uint32_t rateNumerator = 30, rateDenominator = 1; // frames a second
    };
    enum class Event { ConsumersChanged, Lost };
    using Listener = std::function<void(Event event, uint32_t consumers)>;

    // The id of the Video/Source node called `nodeName` in the daemon's graph (made by
    // any process), 0 when there is none. Waits for the daemon, two seconds at most.
    static uint32_t findNode(const std::shared_ptr<PipeWireConnection>& connection, const std::string& nodeName);

    // Null, with the reason in `error`, when the node cannot be made.
    static std::unique_ptr<PipeWireVideoSource> create(std::shared_ptr<PipeWireConnection> connection,
                                                       const Options& options, Listener listener, std::string* error);
    ~PipeWireVideoSource();
    PipeWireVideoSource(const PipeWireVideoSource&) = delete;
    PipeWireVideoSource& operator=(const PipeWireVideoSource&) = delete;

    uint32_t nodeID() const { return mNodeID.load(); }
    uint32_t consumers() const { return mConsumers.load(); }
    // A consumer is linked and the graph runs: frames are wanted.
    bool wanted() const { return mStreaming.load(); }
    bool lost() const { return mLost.load(); }
    uint64_t framesSent() const { return mSent.load(); }
    uint64_t framesDropped() const { return mDropped.load(); }
    uint32_t frameBytes() const;

    // Capture thread: one frame, stamped with its capture time (microseconds). `fill`
    // is called as fill(data, size, stride) to write the frame into `data` (`size`
    // bytes, rows `stride` apart for UYVY; planes one after the other for I420) and
    // answers the bytes written, 0 to skip the frame. It is called in place, never
    // stored (no allocation on the capture thread). False when the frame was not sent
    // (nobody wants it, no free buffer, the daemon went).
    template <typename Fill>
    bool push(int64_t timestamp, const Fill& fill)
    {
        return pushWith(timestamp, &PipeWireVideoSource::call<Fill>, &fill);
    }

private:
    using FillFunction = uint32_t (*)(const void* fill, uint8_t* data, uint32_t size, uint32_t stride);
    template <typename Fill>
    static uint32_t call(const void* fill, uint8_t* data, uint32_t size, uint32_t stride)
    {
        return (*static_cast<const Fill*>(fill))(data, size, stride);
    }
    bool pushWith(int64_t timestamp, FillFunction fill, const void* context);
    explicit PipeWireVideoSource(std::shared_ptr<PipeWireConnection> connection);
    static void onStateChanged(void* data, int old, int state, const char* error);
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param);
    static void onGlobal(void* data, uint32_t id, uint32_t permissions, const char* type, uint32_t version,
                         const spa_dict* props);
    static void onGlobalRemove(void* data, uint32_t id);
    void tell(Event event);
    void recount(); // loop thread

    std::shared_ptr<PipeWireConnection> mConnection;
    Options mOptions;
    Listener mListener;
    pw_stream* mStream = nullptr;
    std::unique_ptr<spa_hook> mStreamListener;
    pw_registry* mRegistry = nullptr;
    std::unique_ptr<spa_hook> mRegistryListener;
    std::map<uint32_t, uint32_t> mLinks; // link id -> its consumer's node id (loop thread)
    std::atomic<uint32_t> mNodeID{0};
    std::atomic<uint32_t> mConsumers{0};
    std::atomic<bool> mStreaming{false};
    std::atomic<bool> mLost{false};
    std::atomic<int> mState{0};
    std::atomic<uint64_t> mSent{0}, mDropped{0};
    uint64_t mSequence = 0; // the pushing thread's
};

} // namespace orva::pipewire
