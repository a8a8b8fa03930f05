// A running capture on one handle: a thread that makes a frame (or audio buffer)
// every period and hands it to the handle's subscribers for the data event, with a
// timestamp from the bus clock. Frames that fall more than a period behind are
// skipped, as a camera drops them. Under the manual clock a frame is made when the
// clock reaches its time (the stream's start plus a whole number of periods) and
// carries exactly that time; moving the clock on by several periods delivers every
// frame due in between. stop() ends the thread (from any thread, the
// stream's own included) and returns once no delivery is running elsewhere.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace zi {

struct Device;

class Stream : public std::enable_shared_from_this<Stream> {
public:
    // Makes frame `index`; answers false to skip it. The data stays valid until the
    // next call.
    using Producer = std::function<bool(int64_t index, const uint8_t*& data, uint32_t& length)>;

    // Hands data somewhere other than the handle's subscribers (the platform tap);
    // once with no data when the device is unplugged.
    using Sink = std::function<void(const uint8_t* data, uint32_t length, int64_t timestamp)>;

    Stream(void* handle, uint32_t event, int64_t periodMicroseconds, std::shared_ptr<Device> device, Producer producer);
    Stream(int64_t periodMicroseconds, std::shared_ptr<Device> device, Producer producer, Sink sink);
    ~Stream();
    void start();
    void stop();
    int64_t framesDelivered() const { return mDelivered.load(); }

private:
    void run();
    // Returns when stopped or when the bus is back on the real clock.
    void runOnManualClock(int64_t start);
    // Makes frame `index` and hands it on with the timestamp.
    void deliver(int64_t index, int64_t timestamp);
    void* mHandle = nullptr;
    uint32_t mEvent = 0;
    int64_t mPeriod;
    std::shared_ptr<Device> mDevice;
    Producer mProducer;
    Sink mSink;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::atomic<bool> mStopping{false};
    std::atomic<int64_t> mDelivered{0};
    std::optional<int64_t> mManualStart; // the manual clock's time at start(), when it runs
    bool mSinkTold = false; // the sink heard that the device is gone
};

} // namespace zi
