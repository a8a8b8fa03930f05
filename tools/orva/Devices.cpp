// Choosing and opening devices for the commands.
#include "Cli.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>

#include <cstdio>
#include <cstring>
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

namespace {
// The chosen device of the kind, opened; null after saying why.
template <typename Device>
std::shared_ptr<Device> openChosen(const std::string& command, bool camera, const std::optional<std::string>& choice)
{
    auto info = chooseDevice(command, camera, choice);
    if (!info) return nullptr;
    auto device = std::dynamic_pointer_cast<Device>(OrvaAVDevice::newDevice(info));
    if (!device || device->openDevice() != 0) {
        std::fprintf(stderr, "orva %s: cannot open \"%s\"\n", command.c_str(), info->nameText().c_str());
        return nullptr;
    }
    return device;
}
} // namespace

std::shared_ptr<OrvaVideoDevice> openCamera(const std::string& command, const std::optional<std::string>& choice)
{
    return openChosen<OrvaVideoDevice>(command, true, choice);
}

std::shared_ptr<OrvaAudioDevice> openMicrophone(const std::string& command, const std::optional<std::string>& choice)
{
    return openChosen<OrvaAudioDevice>(command, false, choice);
}

bool parseVideoFormat(const std::string& text, uint32_t& codec, int32_t& width, int32_t& height)
{
    unsigned w = 0, h = 0;
    char code[5] = {};
    if (std::sscanf(text.c_str(), "%4[^:]:%ux%u", code, &w, &h) != 3 || std::strlen(code) != 4) return false;
    if (w == 0 || h == 0 || w > 16384 || h > 16384) return false;
    codec = static_cast<uint32_t>(code[0]) << 24 | static_cast<uint32_t>(code[1]) << 16 |
            static_cast<uint32_t>(code[2]) << 8 | static_cast<uint32_t>(code[3]);
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

std::optional<AudioChoice> parseAudioFormat(const std::string& text)
{
    AudioChoice c;
    unsigned rate = 0, channels = 0, bits = 0;
    char name[8] = {};
    const int n = std::sscanf(text.c_str(), "%7[^:]:%u:%u:%u", name, &rate, &channels, &bits);
    const std::string codec = name;
    if (codec == "lpcm" && n == 4 && bits == 16) {
        c.tag = kAudioFormatLinearPCM;
        c.bits = 16;
    } else if (codec == "aac" && n == 3) {
        c.tag = kAudioFormatMPEG4AAC;
    } else {
        return std::nullopt;
    }
    if (rate == 0 || channels == 0) return std::nullopt;
    c.rate = rate;
    c.channels = channels;
    return c;
}

std::shared_ptr<const FormatDescription> findAudioFormat(OrvaAudioDevice& mic, const AudioChoice& choice)
{
    auto formats = mic.getSupportedFormats();
    if (!formats) return nullptr;
    for (const auto& f : *formats) {
        auto a = std::dynamic_pointer_cast<const AudioFormatDescription>(f);
        if (!a) continue;
        const auto& d = a->streamBasicDescription();
        if (d.mFormatID == choice.tag && d.mSampleRate == choice.rate && d.mChannelsPerFrame == choice.channels &&
            (choice.tag != kAudioFormatLinearPCM || d.mBitsPerChannel == choice.bits))
            return f;
    }
    return nullptr;
}

std::string audioFormatText(const AudioStreamBasicDescription& d)
{
    char text[64];
    if (d.mFormatID == kAudioFormatLinearPCM)
        std::snprintf(text, sizeof text, "lpcm:%.0f:%u:%u", d.mSampleRate, d.mChannelsPerFrame, d.mBitsPerChannel);
    else if (d.mFormatID == kAudioFormatMPEG4AAC)
        std::snprintf(text, sizeof text, "aac:%.0f:%u", d.mSampleRate, d.mChannelsPerFrame);
    else
        std::snprintf(text, sizeof text, "tag 0x%04X:%.0f:%u:%u", d.mFormatID, d.mSampleRate, d.mChannelsPerFrame,
                      d.mBitsPerChannel);
    return text;
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
