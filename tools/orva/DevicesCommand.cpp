// orva devices: list cameras and microphones; --watch follows arrivals and removals.
#include "Cli.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/NotificationCenter.h>
#include <orva/RunLoop.h>

#include <zedederadIvoSim.h>

#include <cstdio>
#include <mutex>

using namespace orva;

namespace cli {

namespace {

const char* kHotplugCameraPath = "zi-bus:usb-0000:00:14.0-2:1.0/video";
const char* kHotplugMicrophonePath = "zi-bus:usb-0000:00:14.0-2:1.2/audio";

void printDevice(size_t index, const OrvaDeviceInfo& info)
{
    auto path = info.path();
    std::printf("  [%zu] %s\n", index, info.nameText().c_str());
    std::printf("       path      %s\n", path ? path->c_str() : "(none)");
    std::printf("       vendor    0x%04X   product 0x%04X   revision 0x%04X   type %d (%s)\n", info.vendorID(),
                info.productID(), info.revisionID(), info.deviceType(), info.deviceType() == 0 ? "camera" : "microphone");
}

void printList(const char* title, const OrvaDeviceManager::DeviceList& list)
{
    std::printf("%s (%zu)\n", title, list.size());
    if (list.empty()) std::printf("  none\n");
    for (size_t i = 0; i < list.size(); ++i) printDevice(i, *list[i]);
}

void plugHotplugDevices()
{
    ZISimDeviceDesc camera{};
    camera.type = ZISIM_CAMERA;
    camera.path = kHotplugCameraPath;
    camera.name = "ZI Virtual Camera PTZ";
    camera.vendorID = 0x2E7A;
    camera.productID = 0x08E6;
    camera.revision = 0x0100;
    camera.withDefaultDescription = 1;
    (void)ZISim_Plug(&camera);
    ZISimDeviceDesc mic{};
    mic.type = ZISIM_MICROPHONE;
    mic.path = kHotplugMicrophonePath;
    mic.name = "ZI Virtual Microphone 2";
    mic.vendorID = 0x2E7A;
    mic.productID = 0x08E7;
    mic.revision = 0x0100;
    mic.withDefaultDescription = 1;
    (void)ZISim_Plug(&mic);
}

int watch(double seconds, double hotplugEvery)
{
    std::mutex printLock;
    auto observe = [&](const Notification& n) {
        auto it = n.userInfo.find(n.name);
        if (it == n.userInfo.end()) return;
        const auto* info = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(&it->second);
        if (!info || !*info) return;
        const bool added = n.name == KPXDeviceAdded;
        std::lock_guard lock(printLock);
        auto path = (*info)->path();
        std::printf("%s %s %-26s %s  (0x%04X:0x%04X)\n", added ? "+" : "-",
                    (*info)->deviceType() == 0 ? "camera    " : "microphone", (*info)->nameText().c_str(),
                    path ? path->c_str() : "", (*info)->vendorID(), (*info)->productID());
        std::fflush(stdout);
    };
    auto& center = NotificationCenter::defaultCenter();
    const auto addedToken = center.addObserver(KPXDeviceAdded, observe);
    const auto removedToken = center.addObserver(KPXDeviceRemoved, observe);

    auto manager = OrvaDeviceManager::getSharedInstance();
    printList("Cameras", *manager->getVideoDeviceList());
    printList("Microphones", *manager->getAudioDeviceList());
    std::printf("\nWatching for arrivals and removals%s. Press Ctrl-C to stop.\n",
                hotplugEvery > 0 ? " (a second virtual camera and microphone come and go)" : "");
    std::fflush(stdout);

    installInterruptHandler();
    auto& loop = RunLoop::current();
    auto poll = loop.scheduledTimer(0.05, true, [&](Timer&) {
        if (interrupted()) loop.stop();
    });
    std::shared_ptr<Timer> deadline, hotplug;
    if (seconds > 0) deadline = loop.scheduledTimer(seconds, false, [&](Timer&) { loop.stop(); });
    bool plugged = false;
    if (hotplugEvery > 0)
        hotplug = loop.scheduledTimer(hotplugEvery, true, [&](Timer&) {
            if (plugged) {
                (void)ZISim_Unplug(kHotplugCameraPath);
                (void)ZISim_Unplug(kHotplugMicrophonePath);
            } else {
                plugHotplugDevices();
            }
            plugged = !plugged;
        });
    loop.run();

    poll->invalidate();
    if (deadline) deadline->invalidate();
    if (hotplug) hotplug->invalidate();
    if (plugged) {
        (void)ZISim_Unplug(kHotplugCameraPath);
        (void)ZISim_Unplug(kHotplugMicrophonePath);
    }
    ZISim_WaitIdle();
    center.removeObserver(addedToken);
    center.removeObserver(removedToken);
    manager.reset();
    OrvaDeviceManager::destroy();
    std::printf("Stopped watching.\n");
    return 0;
}

} // namespace

int runDevices(Args& args)
{
    const bool watching = args.flag("watch");
    const auto secondsText = args.option("seconds");
    const auto hotplugText = args.option("simulate-hotplug");
    if (!args.error.empty()) {
        std::fprintf(stderr, "orva devices: %s\n", args.error.c_str());
        return 2;
    }
    if (auto bad = args.leftoverOption()) {
        std::fprintf(stderr, "orva devices: unknown option %s\n", bad->c_str());
        return 2;
    }
    if (!args.positional().empty()) {
        std::fprintf(stderr, "orva devices: unexpected argument \"%s\"\n", args.positional()[0].c_str());
        return 2;
    }
    double seconds = 0, hotplugEvery = 0;
    if (!readSeconds("devices", "seconds", secondsText, seconds)) return 2;
    if (hotplugText) {
        auto v = parseSeconds(*hotplugText);
        if (!v) {
            std::fprintf(stderr, "orva devices: --simulate-hotplug wants a positive number of seconds, not \"%s\"\n",
                         hotplugText->c_str());
            return 2;
        }
        hotplugEvery = *v;
    }
    if (hotplugText && !simulatedDevices()) {
        std::fprintf(stderr, "orva devices: --simulate-hotplug plugs simulated devices: add --simulate\n");
        return 2;
    }
    if ((secondsText || hotplugText) && !watching) {
        std::fprintf(stderr, "orva devices: --seconds and --simulate-hotplug go with --watch\n");
        return 2;
    }
    if (watching) return watch(seconds, hotplugEvery);

    auto manager = OrvaDeviceManager::getSharedInstance();
    printList("Cameras", *manager->getVideoDeviceList());
    printList("Microphones", *manager->getAudioDeviceList());
    manager.reset();
    OrvaDeviceManager::destroy();
    return 0;
}

} // namespace cli
