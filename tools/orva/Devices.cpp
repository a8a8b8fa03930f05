// Choosing and opening devices, and the format spellings the commands share.
#include "Cli.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <strings.h>

#include <orva/OrvaStatus.h>

using namespace orva;

namespace cli {

namespace {

// Digits only, 1 to `limit`.
std::optional<uint32_t> count(const std::string& text, uint32_t limit)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v < 1 || v > limit) return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

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
    std::error_code ec;
    const std::string real = std::filesystem::exists(c, ec) ? std::filesystem::canonical(c, ec).string() : c;
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

std::optional<VideoChoice> parseVideoFormat(const std::string& text)
{
    const auto parts = split(text, ':');
    if (parts.size() != 2 || parts[0].size() != 4) return std::nullopt;
    const auto size = split(parts[1], 'x');
    if (size.size() != 2) return std::nullopt;
    const auto w = count(size[0], 16384), h = count(size[1], 16384);
    if (!w || !h) return std::nullopt;
    VideoChoice c;
    for (char ch : parts[0]) c.codec = c.codec << 8 | static_cast<uint8_t>(ch);
    c.width = static_cast<int32_t>(*w);
    c.height = static_cast<int32_t>(*h);
    return c;
}

std::optional<AudioChoice> parseAudioFormat(const std::string& text)
{
    const auto parts = split(text, ':');
    AudioChoice c;
    if (parts.size() == 4 && parts[0] == "lpcm" && parts[3] == "16") {
        c.tag = kAudioFormatLinearPCM;
        c.bits = 16;
    } else if (parts.size() == 3 && parts[0] == "aac") {
        c.tag = kAudioFormatMPEG4AAC;
    } else {
        return std::nullopt;
    }
    const auto rate = count(parts[1], 384000), channels = count(parts[2], 32);
    if (!rate || !channels) return std::nullopt;
    c.rate = *rate;
    c.channels = *channels;
    return c;
}

std::shared_ptr<const FormatDescription> findVideoFormat(OrvaVideoDevice& camera, const VideoChoice& choice)
{
    const auto formats = camera.getSupportedFormats();
    if (!formats) return nullptr;
    for (const auto& f : *formats) {
        auto v = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
        if (v && v->mediaSubType() == choice.codec && v->dimensions() == VideoDimensions{choice.width, choice.height})
            return f;
    }
    return nullptr;
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
