// Tells a capturing command that one of its devices left the system (unplugged, its
// driver or its sound daemon gone), so that it ends at once and says so instead of
// waiting out its time. Removals are heard on the library's event thread and read on
// the main thread. With --simulate, `--simulate-unplug SECONDS` unplugs the first
// device that many seconds in (how the ending looks, without a real cable).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orva {
class OrvaDeviceInfo;
class Timer;
} // namespace orva

namespace cli {

class Invocation;

class UnplugWatch {
public:
    // Made before the devices start: a device already gone counts as gone.
    UnplugWatch(const Invocation& invocation, std::vector<std::shared_ptr<orva::OrvaDeviceInfo>> devices);
    ~UnplugWatch();
    UnplugWatch(const UnplugWatch&) = delete;
    UnplugWatch& operator=(const UnplugWatch&) = delete;

    // The name of the first device that left, if one did.
    std::optional<std::string> gone() const;

    // Checks --simulate-unplug: a positive number of seconds, and only with --simulate.
    // Answers false after saying what is wrong.
    static bool validOption(const Invocation& invocation);

private:
    std::vector<std::shared_ptr<orva::OrvaDeviceInfo>> mDevices;
    uint64_t mObserver = 0;
    std::shared_ptr<orva::Timer> mUnplug;
    mutable std::mutex mMutex;
    std::optional<std::string> mGone;
};

} // namespace cli
