// A delegate that keeps what a device delivers, for tests to wait on and look at:
// each frame's or buffer's bytes (the first `keep` of them), length, time, the thread
// it came on and the pointer it came in. Delivery threads add; the test thread reads
// under the lock or through the accessors.
#pragma once

#include "Wait.h"

#include <orva/OrvaAVDevice.h>

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace orvatest {

class DeliveryLog : public orva::OrvaAVDeviceDelegate {
public:
    explicit DeliveryLog(uint32_t keep = std::numeric_limits<uint32_t>::max()) : mKeep(keep) {}

    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<orva::OrvaDeviceInfo>& device) override
    {
        std::lock_guard lock(mutex);
        const auto* bytes = static_cast<const uint8_t*>(frame);
        data.emplace_back(bytes, bytes + std::min(length, mKeep));
        lengths.push_back(length);
        timestamps.push_back(timestamp);
        threads.push_back(std::this_thread::get_id());
        pointers.push_back(frame);
        if (device) deviceType = device->deviceType();
        changed.notify_all();
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return lengths.size();
    }
    // Until `n` have come; false after the tests' patience.
    bool waitFor(size_t n)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return lengths.size() >= n; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> data;
    std::vector<uint32_t> lengths;
    std::vector<int64_t> timestamps;
    std::vector<std::thread::id> threads;
    std::vector<const void*> pointers;
    int32_t deviceType = -1;

private:
    const uint32_t mKeep;
};

} // namespace orvatest
