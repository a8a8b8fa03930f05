// orva devices: list cameras and microphones; --watch follows arrivals and removals.
// With --json the list is one document, and --watch writes a JSON line per event.
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "Commands.h"
#include "JsonWriter.h"

#include <orva/OrvaCameraShare.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/NotificationCenter.h>
#include <orva/RunLoop.h>

#include <zedederadIvoBackend.h>
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
    std::fprintf(out(), "  [%zu] %s\n", index, info.nameText().c_str());
    std::fprintf(out(), "       path      %s\n", path ? path->c_str() : "(none)");
    std::fprintf(out(), "       vendor    0x%04X   product 0x%04X   revision 0x%04X   type %d (%s)\n", info.vendorID(),
                 info.productID(), info.revisionID(), info.deviceType(), info.deviceType() == 0 ? "camera" : "microphone");
}

void printList(const char* title, const OrvaDeviceManager::DeviceList& list)
{
    std::fprintf(out(), "%s (%zu)\n", title, list.size());
    if (list.empty()) std::fprintf(out(), "  none\n");
    for (size_t i = 0; i < list.size(); ++i) printDevice(i, *list[i]);
}

void writeDevice(JsonWriter& json, size_t index, const OrvaDeviceInfo& info)
{
    auto path = info.path();
    json.beginObject()
        .field("index", static_cast<int64_t>(index))
        .field("name", info.nameText())
        .field("path", path ? *path : std::string())
        .field("vendor_id", static_cast<int64_t>(info.vendorID()))
        .field("product_id", static_cast<int64_t>(info.productID()))
        .field("revision", static_cast<int64_t>(info.revisionID()))
        .field("type", info.deviceType() == 0 ? "camera" : "microphone");
    // A camera some process shares over PipeWire now: its node.
    const uint32_t node = info.deviceType() == 0 ? OrvaCameraShare::sharedNodeOf(info) : 0;
    json.key("shared_node");
    node ? json.value(static_cast<int64_t>(node)) : json.null();
    json.endObject();
}

void writeList(JsonWriter& json, const char* key, const OrvaDeviceManager::DeviceList& list)
{
    json.key(key).beginArray();
    for (size_t i = 0; i < list.size(); ++i) writeDevice(json, i, *list[i]);
    json.endArray();
}

// An empty list is a failure when the capture library failed to answer (rather
// than having no device to list).
bool libraryFailed(bool video)
{
    if ((video ? VCI_Init() : ACI_Init()) != ZI_OK) return true;
    uint32_t size = 0, count = 0;
    const int32_t status = video ? VCI_Enum_Devices(nullptr, &size, &count) : ACI_Enum_Devices(nullptr, &size, &count);
    (void)(video ? VCI_Cleanup() : ACI_Cleanup());
    return status != ZI_OK && status != ZI_MORE_DATA;
}

void plugHotplugDevices()
{
    ZISimDeviceDesc camera{};
    camera.type = ZISIM_CAMERA;
    camera.path = kHotplugCameraPath;
    camera.name = "Orva Virtual Camera PTZ";
    camera.vendorID = 0x2E7A;
    camera.productID = 0x7E03;
    camera.revision = 0x0100;
    camera.withDefaultDescription = 1;
    (void)ZISim_Plug(&camera);
    ZISimDeviceDesc mic{};
    mic.type = ZISIM_MICROPHONE;
    mic.path = kHotplugMicrophonePath;
    mic.name = "Orva Virtual Microphone 2";
    mic.vendorID = 0x2E7A;
    mic.productID = 0x7E04; // the virtual devices have product IDs of their own
    mic.revision = 0x0100;
    mic.withDefaultDescription = 1;
    (void)ZISim_Plug(&mic);
}

int watch(const Invocation& invocation, double seconds, double hotplugEvery)
{
    std::mutex printLock;
    const bool json = invocation.json();
    auto observe = [&](const Notification& n) {
        auto it = n.userInfo.find(n.name);
        if (it == n.userInfo.end()) return;
        const auto* info = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(&it->second);
        if (!info || !*info) return;
        const bool added = n.name == KPXDeviceAdded;
        std::lock_guard lock(printLock);
        if (json) { // a line per event
            JsonWriter line(out(), true);
            line.beginObject().field("event", added ? "added" : "removed").key("device");
            writeDevice(line, 0, **info);
            line.endObject();
            return;
        }
        auto path = (*info)->path();
        std::fprintf(out(), "%s %s %-26s %s  (0x%04X:0x%04X)\n", added ? "+" : "-",
                     (*info)->deviceType() == 0 ? "camera    " : "microphone", (*info)->nameText().c_str(),
                     path ? path->c_str() : "", (*info)->vendorID(), (*info)->productID());
        std::fflush(out());
    };
    auto& center = NotificationCenter::defaultCenter();
    const auto addedToken = center.addObserver(KPXDeviceAdded, observe);
    const auto removedToken = center.addObserver(KPXDeviceRemoved, observe);

    // The lists are taken first: the manager announces changes against them.
    auto manager = OrvaDeviceManager::getSharedInstance();
    const auto cameras = manager->getVideoDeviceList(), microphones = manager->getAudioDeviceList();
    {
        std::lock_guard lock(printLock);
        if (json) { // a line per device there is, then a line per event
            for (const auto* list : {cameras.get(), microphones.get()})
                for (size_t i = 0; i < list->size(); ++i) {
                    JsonWriter line(out(), true);
                    line.beginObject().field("event", "present").key("device");
                    writeDevice(line, i, *(*list)[i]);
                    line.endObject();
                }
        } else {
            printList("Cameras", *cameras);
            printList("Microphones", *microphones);
        }
        std::fflush(out());
    }
    std::fprintf(err(), "Watching for arrivals and removals%s. Ctrl-C stops.\n",
                 hotplugEvery > 0 ? " (a second virtual camera and microphone come and go)" : "");

    auto& loop = RunLoop::current();
    std::shared_ptr<Timer> hotplug;
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
    const bool wasInterrupted = runFor(seconds > 0 ? seconds : 1e9, 0.25, nullptr);
    if (hotplug) hotplug->invalidate();
    if (plugged) {
        (void)ZISim_Unplug(kHotplugCameraPath);
        (void)ZISim_Unplug(kHotplugMicrophonePath);
    }
    if (hotplugEvery > 0) ZISim_WaitIdle();
    center.removeObserver(addedToken);
    center.removeObserver(removedToken);
    manager.reset();
    OrvaDeviceManager::destroy();
    std::fprintf(err(), "Stopped watching.\n");
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

} // namespace

int runDevices(Invocation& invocation)
{
    const bool watching = invocation.flag("watch");
    const auto hotplugText = invocation.value("simulate-hotplug");
    if ((invocation.value("seconds") || hotplugText) && !watching)
        return invocation.fail(kExitUsage, "--seconds and --simulate-hotplug go with --watch");
    const auto seconds = invocation.seconds("seconds", 0);
    const auto hotplugEvery = invocation.seconds("simulate-hotplug", 0);
    if (!seconds || !hotplugEvery) return kExitUsage;
    if (hotplugText && !simulatedDevices())
        return invocation.fail(kExitUsage, "--simulate-hotplug plugs simulated devices: add --simulate");
    if (watching) return watch(invocation, *seconds, *hotplugEvery);

    auto manager = OrvaDeviceManager::getSharedInstance();
    const auto cameras = manager->getVideoDeviceList(), microphones = manager->getAudioDeviceList();
    const bool camerasFailed = cameras->empty() && libraryFailed(true);
    const bool microphonesFailed = microphones->empty() && libraryFailed(false);
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject();
        writeList(json, "cameras", *cameras);
        writeList(json, "microphones", *microphones);
        json.endObject();
    } else {
        printList("Cameras", *cameras);
        printList("Microphones", *microphones);
    }
    manager.reset();
    OrvaDeviceManager::destroy();
    if (camerasFailed) invocation.fail(kExitFailure, "the capture library failed to list the cameras");
    if (microphonesFailed) invocation.fail(kExitFailure, "the capture library failed to list the microphones");
    return camerasFailed || microphonesFailed ? kExitFailure : kExitOk;
}

} // namespace cli
