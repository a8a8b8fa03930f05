#include "Stream.h"

#include "Bus.h"

#include <chrono>

namespace zi {

Stream::Stream(void* handle, uint32_t event, int64_t periodMicroseconds, std::shared_ptr<Device> device,
               Producer producer)
    : mHandle(handle), mEvent(event), mPeriod(periodMicroseconds > 0 ? periodMicroseconds : 33333),
      mDevice(std::move(device)), mProducer(std::move(producer))
{
}

Stream::Stream(int64_t periodMicroseconds, std::shared_ptr<Device> device, Producer producer, Sink sink)
    : mPeriod(periodMicroseconds > 0 ? periodMicroseconds : 10000), mDevice(std::move(device)),
      mProducer(std::move(producer)), mSink(std::move(sink))
{
}

Stream::~Stream()
{
    stop();
}

void Stream::start()
{
    // The capture starts now, not when its thread first runs: under the manual clock
    // its first frame carries the time of the call.
    {
        auto& bus = Bus::instance();
        std::lock_guard lock(bus.mutex);
        mManualStart = bus.manualClock ? std::optional<int64_t>(bus.manualNow) : std::nullopt;
    }
    mThread = std::thread([self = shared_from_this()] { self->run(); });
}

void Stream::stop()
{
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
    }
    mWake.notify_all();
    Bus::instance().clockChanged.notify_all();
    if (!mThread.joinable()) return;
    if (mThread.get_id() == std::this_thread::get_id())
        mThread.detach(); // stopped from inside a delivery: the loop ends after it
    else
        mThread.join();
}

void Stream::run()
{
    using Clock = std::chrono::steady_clock;
    if (mManualStart) {
        runOnManualClock(*mManualStart); // until stopped or the real clock is back
        if (mStopping.load()) return;
    }
    const auto period = std::chrono::microseconds(mPeriod);
    auto next = Clock::now();
    // Every frame or buffer is stamped with the time it was made (its place on the
    // stream's clock), as a camera's driver stamps a buffer at capture, however late it
    // is delivered. A microphone loses nothing when its reader falls behind (the sound
    // server holds the samples): late buffers all come. A camera skips the frames it
    // could not deliver.
    const bool catchesUp = mSink || mEvent == ACI_EVENT_BUFFER;
    const int64_t firstStamp = Bus::instance().now();
    int64_t index = 0;
    for (;;) {
        {
            std::unique_lock lock(mMutex);
            if (mWake.wait_until(lock, next, [&] { return mStopping.load(); })) return;
        }
        const auto now = Clock::now();
        if (!catchesUp && now - next > period) { // fell behind: skip what is lost, like a camera
            const auto missed = (now - next) / period;
            index += missed;
            next += period * missed;
        }
        deliver(index, firstStamp + index * mPeriod);
        ++index;
        next += period;
    }
}

void Stream::runOnManualClock(int64_t start)
{
    auto& bus = Bus::instance();
    for (int64_t index = 0;; ++index) {
        const int64_t due = start + index * mPeriod;
        {
            std::unique_lock lock(bus.mutex);
            // The stop flag is not under the bus mutex: a stop that slips in just
            // before the wait is seen at the next short timeout.
            while (!mStopping.load() && bus.manualClock && bus.manualNow < due)
                bus.clockChanged.wait_for(lock, std::chrono::milliseconds(50));
            if (mStopping.load() || !bus.manualClock) return;
        }
        deliver(index, due);
    }
}

void Stream::deliver(int64_t index, int64_t timestamp)
{
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    bool plugged;
    {
        auto& bus = Bus::instance();
        std::lock_guard lock(bus.mutex);
        plugged = mDevice->plugged;
    }
    if (!plugged && mSink && !mSinkTold) {
        mSinkTold = true; // the tap hears once that its device is gone
        mSink(nullptr, 0, Bus::instance().now());
    }
    if (plugged && mProducer(index, data, length)) {
        if (mSink)
            mSink(data, length, timestamp);
        else
            Bus::instance().dispatch(mHandle, mEvent, data, length, timestamp);
        mDelivered++;
    }
}

} // namespace zi
