// The simulated device bus: devices, handles, subscriptions, the event thread, fault
// injection, the call journal and the clock. One process-wide instance; every member
// function is thread-safe. Callbacks are never called with the bus mutex held.
#pragma once

#include "zedederadIvo.h"
#include "zedederadIvoSim.h"
#include "ToneSignal.h"
#include "Listing.h"
#include "Text.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zi {

struct Property {
    uint32_t width = 0;
    std::vector<uint8_t> cur, def, min, max;
};

struct PropertySetDesc {
    std::array<uint8_t, 16> uuid{};
    std::map<uint32_t, Property> items; // ordered by id
    std::vector<uint32_t> order;        // listing order of ids
};

struct VideoFormat {
    uint32_t fourcc = 0;
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> intervals;
};

struct Device {
    uint32_t type = ZISIM_CAMERA;
    std::string path, name;
    std::array<uint16_t, ZI_DEVICE_TEXT_UNITS> rawPath{}, rawName{};
    uint16_t vendorID = 0, productID = 0, revision = 0;
    bool plugged = true;
    std::vector<VideoFormat> videoFormats;
    std::vector<PropertySetDesc> propertySets;
    std::vector<_ACI_WAVE_FORMAT> waveFormats;
    uint8_t mute = 0;
    uint8_t volume = 200;
    std::array<float, 8> signalLevelDb = ToneSettings{}.levelDb; // the microphone's tone
    bool signalSweep = true;
    std::optional<_VCI_CAPTURE_PARAMETERS> captureParameters;
    std::optional<_ACI_WAVE_FORMAT> waveFormat;
};

class Stream;

struct Handle {
    uint32_t id = 0;
    std::shared_ptr<Device> device;
    std::shared_ptr<Stream> stream; // the running capture, if any
};

struct Subscription {
    uint64_t id = 0;
    void* handle = nullptr; // null: library-wide
    uint32_t event = 0;
    VCI_EVENT_CALLBACK video = nullptr;
    ACI_EVENT_CALLBACK audio = nullptr;
    void* context = nullptr;
    bool active = true;
    int inFlight = 0;
    std::thread::id callingThread;
};

class Bus {
public:
    static Bus& instance();

    std::mutex mutex; // guards everything below
    std::condition_variable changed;

    // Journal and faults. Both take the mutex themselves.
    void journal(std::string line);
    uint32_t journalCount();
    std::optional<std::string> journalLine(uint32_t index);
    void journalClear();
    std::optional<int32_t> injected(const char* function);

    // Clock.
    int64_t now();

    // Init counts; starting the built-in devices and the event thread.
    int32_t init(bool video);
    int32_t cleanup(bool video);
    bool initialised(bool video);

    // Devices (call with mutex held).
    std::shared_ptr<Device> findDevice(const std::string& path);
    std::vector<std::shared_ptr<Device>> devicesOfType(uint32_t type);
    int32_t plug(const ZISimDeviceDesc& desc, bool builtIn);
    int32_t unplug(const std::string& path);
    void plugBuiltIns(); // takes the mutex

    // Handles (mutex held).
    void* openHandle(const std::shared_ptr<Device>& device);
    std::shared_ptr<Handle> handle(void* h);
    std::string handleName(void* h);
    // Closes a handle; its running stream, if any, is handed back to be stopped
    // after the mutex is released.
    int32_t closeHandle(void* h, std::shared_ptr<Stream>& stream);

    // Subscriptions. subscribe/unsubscribe take the mutex; unsubscribe waits for a
    // callback of that subscription running on another thread.
    int32_t subscribe(void* handle, uint32_t event, VCI_EVENT_CALLBACK video, ACI_EVENT_CALLBACK audio, void* context);
    int32_t unsubscribe(void* handle, uint32_t event);
    // Calls the subscribers of (handle, event) on this thread with a data record.
    // Answers how many were called.
    static constexpr size_t kMaxSubscribersPerEvent = 16;
    int dispatch(void* handle, uint32_t event, const void* data, uint32_t length, int64_t timestamp);
    // Whether some other handle of the device has a running stream (mutex held).
    bool deviceStreaming(const std::shared_ptr<Device>& device);
    // The open handles of a device, in opening order (mutex held).
    std::vector<void*> handlesOf(const std::shared_ptr<Device>& device);
    // The same into `out` (at most `capacity`), without allocating: for the frame path.
    size_t handlesOf(const std::shared_ptr<Device>& device, void** out, size_t capacity);
    // Queue a library-wide event for delivery on the event thread.
    void postDeviceEvent(uint32_t event);
    void waitIdle();

    void reset();
    void injectFromEnvironment(); // ORVA_SIM_FAULTS, once at start

    // Fault injection and clock state (mutex held).
    struct Injection {
        uint32_t skip = 0;
        int32_t result = 0;
        uint32_t times = 0;
    };
    std::map<std::string, Injection> injections;
    bool holdEvents = false;
    bool manualClock = false;
    int64_t manualNow = 0;
    std::condition_variable clockChanged; // with mutex: the manual clock moved or was switched
    std::condition_variable callbacksDone; // with mutex: a callback returned while an unsubscribe waits
    bool builtInsEnabled = true;
    bool everPlugged = false;

private:
    Bus() = default;
    ~Bus();
    void startEventThreadLocked();
    void stopEventThread(std::unique_lock<std::mutex>& lock);
    void eventLoop();
    void deliver(uint32_t event);
    int mCallbackWaiters = 0; // unsubscribes waiting for callbacks in flight (mutex held)

    std::vector<std::shared_ptr<Device>> mDevices;
    std::unordered_map<void*, std::shared_ptr<Handle>> mHandles;
    uint32_t mNextHandleID = 1;
    std::vector<std::shared_ptr<Subscription>> mSubscriptions;
    uint64_t mNextSubscriptionID = 1;
    int mVideoInits = 0, mAudioInits = 0;

    std::vector<std::string> mJournal;
    std::deque<uint32_t> mEvents;
    bool mDelivering = false;
    bool mStopEvents = false;
    uint64_t mEventGeneration = 0;
    std::thread mEventThread;

};

// Helpers for the ABI files.
std::string ptrArg(const void* p);
std::string fourccText(uint32_t code);
uint32_t fourccFromPixelFormat(const _VCI_PIXEL_FORMAT& format);
std::string uuidText(const uint8_t* bytes);

// Standard descriptions of the built-in devices.
void describeDefaultCamera(Device& device);
void describeDefaultMicrophone(Device& device);

} // namespace zi
