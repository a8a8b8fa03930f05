#include "UnplugWatch.h"

#include "Cli.h"
#include "DeviceChoice.h"

#include <orva/NotificationCenter.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/RunLoop.h>

#include <zedederadIvoSim.h>

#include <algorithm>
#include <any>

using namespace orva;

namespace cli {

UnplugWatch::UnplugWatch(const Invocation& invocation, std::vector<std::shared_ptr<OrvaDeviceInfo>> devices)
    : mDevices(std::move(devices))
{
    mObserver = NotificationCenter::defaultCenter().addObserver(KPXDeviceRemoved, [this](const Notification& n) {
        const auto it = n.userInfo.find(n.name);
        if (it == n.userInfo.end()) return;
        const auto* info = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(&it->second);
        if (!info || !*info) return;
        for (const auto& device : mDevices) {
            if (device && device->isEqualToDevice(**info)) {
                std::lock_guard lock(mMutex);
                if (!mGone) mGone = device->nameText();
            }
        }
    });
    // One that left before the observer was in place is missing from the manager's
    // lists already (the manager updates a list before it announces the change).
    auto manager = OrvaDeviceManager::getSharedInstance();
    for (const auto& device : mDevices) {
        if (!device) continue;
        const auto listed = device->deviceType() == 0 ? manager->getVideoDeviceList() : manager->getAudioDeviceList();
        const bool present = std::any_of(listed->begin(), listed->end(),
                                         [&](const auto& other) { return other && device->isEqualToDevice(*other); });
        std::lock_guard lock(mMutex);
        if (!present && !mGone) mGone = device->nameText();
    }
    if (const auto after = invocation.seconds("simulate-unplug", 0); after && *after > 0 && !mDevices.empty()) {
        const auto known = mDevices.front()->path();
        const std::string path = known ? *known : "";
        mUnplug = RunLoop::current().scheduledTimer(*after, false, [path](Timer&) { (void)ZISim_Unplug(path.c_str()); });
    }
}

UnplugWatch::~UnplugWatch()
{
    if (mUnplug) mUnplug->invalidate();
    NotificationCenter::defaultCenter().removeObserver(mObserver);
}

std::optional<std::string> UnplugWatch::gone() const
{
    std::lock_guard lock(mMutex);
    return mGone;
}

bool UnplugWatch::validOption(const Invocation& invocation)
{
    if (!invocation.value("simulate-unplug")) return true;
    if (!invocation.seconds("simulate-unplug", 0)) return false;
    if (!simulatedDevices()) {
        invocation.fail(kExitUsage, "--simulate-unplug unplugs a simulated device: add --simulate");
        return false;
    }
    return true;
}

} // namespace cli
