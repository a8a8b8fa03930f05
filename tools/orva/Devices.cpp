// Choosing and opening devices for the commands.
#include "Cli.h"

#include "devices/OrvaDeviceManager.h"
#include "devices/video/OrvaVideoDevice.h"

#include <cstdio>
#include <strings.h>

using namespace orva;

namespace cli {

std::shared_ptr<OrvaDeviceInfo> chooseDevice(const std::string& command, bool camera,
                                             const std::optional<std::string>& choice)
{
    auto manager = OrvaDeviceManager::getSharedInstance();
    auto list = camera ? manager->getVideoDeviceList() : manager->getAudioDeviceList();
    const char* kind = camera ? "camera" : "microphone";
    if (list->empty()) {
        std::fprintf(stderr, "orva %s: no %s is attached\n", command.c_str(), kind);
        return nullptr;
    }
    if (!choice) return list->front();
    char* end = nullptr;
    const unsigned long index = std::strtoul(choice->c_str(), &end, 10);
    if (!choice->empty() && *end == 0 && index < list->size()) return (*list)[index];
    for (auto& d : *list)
        if (strcasecmp(d->nameText().c_str(), choice->c_str()) == 0) return d;
    std::fprintf(stderr, "orva %s: no %s \"%s\"; the %ss are:\n", command.c_str(), kind, choice->c_str(), kind);
    for (size_t i = 0; i < list->size(); ++i)
        std::fprintf(stderr, "  [%zu] %s\n", i, (*list)[i]->nameText().c_str());
    return nullptr;
}

std::shared_ptr<OrvaVideoDevice> openCamera(const std::string& command, const std::optional<std::string>& choice)
{
    auto info = chooseDevice(command, true, choice);
    if (!info) return nullptr;
    auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(info));
    if (!camera || camera->openDevice() != 0) {
        std::fprintf(stderr, "orva %s: cannot open \"%s\"\n", command.c_str(), info->nameText().c_str());
        return nullptr;
    }
    return camera;
}

bool checkArgs(const std::string& command, const Args& args, size_t maxPositional)
{
    if (!args.error.empty()) {
        std::fprintf(stderr, "orva %s: %s\n", command.c_str(), args.error.c_str());
        return false;
    }
    if (auto bad = args.leftoverOption()) {
        std::fprintf(stderr, "orva %s: unknown option %s\n", command.c_str(), bad->c_str());
        return false;
    }
    if (args.positional().size() > maxPositional) {
        std::fprintf(stderr, "orva %s: unexpected argument \"%s\"\n", command.c_str(),
                     args.positional()[maxPositional].c_str());
        return false;
    }
    return true;
}

std::string fourccText(uint32_t code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

} // namespace cli
