// Which devices the commands work on. The system's cameras (V4L2) and microphones
// (PipeWire) by default; the simulated bus with --simulate (or ORVA_SIMULATE=1). When
// the system has no camera at all, or no microphone, the command says so on standard
// error and uses the built-in virtual one instead, so that every command works on a
// machine without devices; a camera that is attached but cannot be used is an error.
#include "DeviceChoice.h"
#include "Terminal.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <strings.h>
#include <unistd.h>
#include <cstdlib>
#include <string>

namespace cli {

namespace {

// How many devices the system implementation lists for one half (it starts and
// ends that half of the library to ask).
uint32_t systemDevices(bool video)
{
    if ((video ? VCI_Init() : ACI_Init()) != ZI_OK) return 0;
    uint32_t size = 0, count = 0;
    const int32_t status = video ? VCI_Enum_Devices(nullptr, &size, &count) : ACI_Enum_Devices(nullptr, &size, &count);
    (void)(video ? VCI_Cleanup() : ACI_Cleanup());
    return status == ZI_MORE_DATA ? count : 0;
}

} // namespace

bool chooseDevices(unsigned halves, bool simulate)
{
    if (simulate) {
        (void)ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR);
        return true;
    }
    if ((halves & ZI_HALF_VIDEO) && ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SYSTEM && systemDevices(true) == 0) {
        // A camera that is there but cannot be used is an error, not a reason to
        // record the test pattern.
        std::string unusable(static_cast<size_t>(ZISys_UnusableCameras(nullptr, 0)) + 1, '\0');
        unusable.resize(static_cast<size_t>(ZISys_UnusableCameras(unusable.data(), static_cast<uint32_t>(unusable.size()))));
        if (!unusable.empty()) {
            std::fprintf(err(), "orva: the camera is attached but cannot be used:\n");
            size_t start = 0;
            for (size_t end; (end = unusable.find('\n', start)) != std::string::npos; start = end + 1)
                std::fprintf(err(), "  %s\n", unusable.substr(start, end - start).c_str());
            return false;
        }
        std::fprintf(err(), "orva: no camera found (orva doctor says why); using the built-in virtual camera\n");
        (void)ZI_Select_Backend(ZI_HALF_VIDEO, ZI_BACKEND_SIMULATOR);
    }
    if ((halves & ZI_HALF_AUDIO) && ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SYSTEM && systemDevices(false) == 0) {
        std::fprintf(err(), "orva: no microphone found (orva doctor says why); using the built-in virtual microphone\n");
        (void)ZI_Select_Backend(ZI_HALF_AUDIO, ZI_BACKEND_SIMULATOR);
    }
    return true;
}

bool simulatedDevices()
{
    return ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SIMULATOR &&
           ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SIMULATOR;
}


using namespace orva;

namespace {

std::string pathOf(const OrvaDeviceInfo& device)
{
    const auto path = device.path();
    return path ? *path : std::string();
}

// The node of a device's path (/dev/video0; pipewire:NAME; the simulator's path).
std::string nodeOf(const OrvaDeviceInfo& device)
{
    const std::string path = pathOf(device);
    return path.substr(0, path.find(';'));
}

// The file a chain of symbolic links ends at (the path itself when it is none),
// followed link by link as udev's /dev/v4l/by-id links are made.
std::string followLinks(std::string path)
{
    for (int hop = 0; hop < 40; ++hop) {
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) break;
        const std::filesystem::path next(std::string(target, static_cast<size_t>(n)));
        path = (next.is_absolute() ? next : std::filesystem::path(path).parent_path() / next).lexically_normal().string();
    }
    return path;
}

// The chosen device of the kind, opened; null after saying why.
template <typename Device>
std::shared_ptr<Device> openChosen(const Invocation& invocation, bool camera, const std::optional<std::string>& choice)
{
    auto info = chooseDevice(invocation, camera, choice);
    if (!info) return nullptr;
    auto device = std::dynamic_pointer_cast<Device>(OrvaAVDevice::newDevice(info));
    if (!device) return nullptr;
    if (const int32_t status = device->openDevice(); status != 0) {
        invocation.fail(kExitFailure, "cannot open %s (%s): %s; orva doctor says why", info->nameText().c_str(),
                        nodeOf(*info).c_str(), OrvaStatusDescription(status));
        return nullptr;
    }
    return device;
}

} // namespace



std::shared_ptr<OrvaDeviceInfo> chooseDevice(const Invocation& invocation, bool camera,
                                             const std::optional<std::string>& choice)
{
    auto manager = OrvaDeviceManager::getSharedInstance();
    auto list = camera ? manager->getVideoDeviceList() : manager->getAudioDeviceList();
    const char* kind = camera ? "camera" : "microphone";
    if (list->empty()) {
        invocation.fail(kExitFailure, "no %s is attached (orva doctor says why)", kind);
        return nullptr;
    }
    if (!choice) return list->front();
    // One rule for every command: the index, then the path as orva prints it, the
    // node (or a link to it), the PipeWire node name, the serial number, the name.
    const std::string& c = *choice;
    const bool index = !c.empty() && c.size() < 9 && c.find_first_not_of("0123456789") == std::string::npos;
    if (index && std::stoul(c) < list->size()) return (*list)[std::stoul(c)];
    // A link to a node (/dev/v4l/by-id/...) stands for the node.
    const std::string real = followLinks(c);
    auto matches = [&](const OrvaDeviceInfo& d) {
        const std::string path = pathOf(d);
        const std::string node = path.substr(0, path.find(';'));
        return path == c || node == c || node == real || node == "pipewire:" + c ||
               path.find(";serial=" + c) != std::string::npos;
    };
    for (auto& d : *list)
        if (matches(*d)) return d;
    for (auto& d : *list)
        if (strcasecmp(d->nameText().c_str(), c.c_str()) == 0) return d;
    invocation.fail(kExitFailure, "no %s \"%s\"; the %ss are (choose by index, name, path, node or serial):", kind,
                    c.c_str(), kind);
    for (size_t i = 0; i < list->size(); ++i)
        std::fprintf(err(), "  [%zu] %s  %s\n", i, (*list)[i]->nameText().c_str(), pathOf(*(*list)[i]).c_str());
    return nullptr;
}

std::string startFailure(const OrvaAVDevice& device, int32_t status)
{
    const auto info = device.deviceInfo();
    const std::string node = info ? nodeOf(*info) : std::string();
    const std::string name = (info ? info->nameText() : std::string("the device")) + (node.empty() ? "" : " (" + node + ")");
    if (status == kOrvaErrorCameraBusy || status == kOrvaErrorMicrophoneBusy) {
        // Who holds the node, where /proc tells (programs of this user).
        std::string holders;
        std::error_code ec;
        if (!node.empty() && node[0] == '/')
            for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
                const std::string pid = process.path().filename().string();
                if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
                std::error_code fdError;
                for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
                    std::error_code linkError;
                    if (std::filesystem::read_symlink(fd.path(), linkError).string() != node) continue;
                    std::ifstream comm(process.path() / "comm");
                    std::string command;
                    std::getline(comm, command);
                    holders += (holders.empty() ? "" : ", ") + command + " (pid " + pid + ")";
                    break;
                }
            }
        return name + " is in use by another program" + (holders.empty() ? "" : ": " + holders) +
               "; close it and try again";
    }
    if (status == kOrvaErrorNoFormat)
        return name + " does not support the chosen format (unsupported; orva formats lists what it offers)";
    return name + " did not start: " + OrvaStatusDescription(status) + " (status " + std::to_string(status) +
           "); orva doctor may say why";
}

std::shared_ptr<OrvaVideoDevice> openCamera(const Invocation& invocation, const std::optional<std::string>& choice)
{
    return openChosen<OrvaVideoDevice>(invocation, true, choice);
}

std::shared_ptr<OrvaAudioDevice> openMicrophone(const Invocation& invocation, const std::optional<std::string>& choice)
{
    return openChosen<OrvaAudioDevice>(invocation, false, choice);
}

} // namespace cli
