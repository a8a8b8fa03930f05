#include "FormatChoice.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <strings.h>
#include <unistd.h>

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

} // namespace
std::optional<VideoChoice> parseVideoFormat(const std::string& text)
{
    const size_t at = text.find('@');
    double fps = 0;
    if (at != std::string::npos) {
        const std::string rate = text.substr(at + 1);
        char* end = nullptr;
        fps = std::strtod(rate.c_str(), &end);
        if (rate.empty() || *end || !(fps > 0 && fps <= 1000)) return std::nullopt;
    }
    const auto parts = split(text.substr(0, at), ':');
    if (parts.size() != 2 || parts[0].size() != 4) return std::nullopt;
    const auto size = split(parts[1], 'x');
    if (size.size() != 2) return std::nullopt;
    const auto w = count(size[0], 16384), h = count(size[1], 16384);
    if (!w || !h) return std::nullopt;
    VideoChoice c;
    for (char ch : parts[0]) c.codec = c.codec << 8 | static_cast<uint8_t>(ch);
    c.width = static_cast<int32_t>(*w);
    c.height = static_cast<int32_t>(*h);
    c.fps = fps;
    return c;
}

std::optional<VideoChoice> videoChoice(const Invocation& invocation, const char* option, const char* fallback)
{
    const std::string text = invocation.value(option).value_or(fallback);
    auto choice = parseVideoFormat(text);
    if (!choice) {
        invocation.fail(kExitUsage, "--%s is CODEC:WIDTHxHEIGHT[@FPS] as orva formats lists it, such as "
                        "avc1:1280x720 or 2vuy:640x480@15, not \"%s\"", option, text.c_str());
        return std::nullopt;
    }
    if (const auto fps = invocation.value("fps")) {
        char* end = nullptr;
        const double rate = std::strtod(fps->c_str(), &end);
        if (fps->empty() || *end || !(rate > 0 && rate <= 1000)) {
            invocation.fail(kExitUsage, "--fps is frames a second as orva formats lists them (30, 15, 29.97), not \"%s\"",
                            fps->c_str());
            return std::nullopt;
        }
        if (choice->fps > 0 && std::abs(choice->fps - rate) > 1e-9) {
            invocation.fail(kExitUsage, "--fps %s and --%s %s ask for different rates", fps->c_str(), option, text.c_str());
            return std::nullopt;
        }
        choice->fps = rate;
    }
    return choice;
}

std::shared_ptr<const FormatDescription> chooseVideoFormat(const Invocation& invocation, OrvaVideoDevice& camera,
                                                           const VideoChoice& choice)
{
    const std::string name = camera.deviceInfo()->nameText();
    const std::string size = fourccText(choice.codec) + ":" + std::to_string(choice.width) + "x" + std::to_string(choice.height);
    const auto format = findVideoFormat(camera, choice);
    if (!format) {
        invocation.fail(kExitFailure, "%s has no format %s; see orva formats", name.c_str(), size.c_str());
        return nullptr;
    }
    camera.setFrameInterval(nullptr); // the camera's default
    if (choice.fps <= 0) return format;
    // The listed rate that rounds to the asked one, else one within half a percent
    // (29.97 for 30 on a camera that only has the former).
    const auto intervals = camera.getSupportedFrameIntervals(*format);
    std::optional<uint32_t> best;
    double bestError = 0.005;
    for (const auto& n : intervals ? *intervals : std::vector<Number>{}) {
        const auto interval = static_cast<uint32_t>(n.integerValue());
        if (interval == 0) continue;
        const double error = std::abs(1e7 / interval - choice.fps) / choice.fps;
        if (std::abs(rateRounded(interval) - choice.fps) < 0.005) {
            best = interval;
            break;
        }
        if (error < bestError) best = interval, bestError = error;
    }
    if (!best) {
        std::string rates;
        for (const auto& n : intervals ? *intervals : std::vector<Number>{})
            if (n.integerValue() > 0) rates += (rates.empty() ? "" : ", ") + rateText(static_cast<uint32_t>(n.integerValue()));
        invocation.fail(kExitFailure, "%s has no rate %g fps for %s; it has %s", name.c_str(), choice.fps, size.c_str(),
                        rates.empty() ? "none listed" : rates.c_str());
        return nullptr;
    }
    camera.setFrameInterval(std::make_shared<const Number>(Number::numberWithUnsignedInt(*best)));
    return format;
}

std::pair<int64_t, int64_t> rateFraction(uint32_t interval)
{
    if (interval == 0) return {0, 1};
    // Cameras declare whole rates (30/1) or NTSC ones (30000/1001); the library's
    // 100 ns interval is either, rounded or cut.
    const double fps = 1e7 / interval;
    auto near = [interval](double exact) { return std::abs(exact - interval) <= 1.0; };
    const auto whole = static_cast<int64_t>(std::llround(fps));
    if (whole > 0 && near(1e7 / static_cast<double>(whole))) return {whole, 1};
    const auto ntsc = static_cast<int64_t>(std::llround(fps * 1.001));
    if (ntsc > 0 && near(1e7 * 1001 / (static_cast<double>(ntsc) * 1000))) return {ntsc * 1000, 1001};
    const int64_t divisor = std::gcd(int64_t{10000000}, int64_t{interval});
    return {10000000 / divisor, interval / divisor};
}

double rateRounded(uint32_t interval)
{
    const auto [numerator, denominator] = rateFraction(interval);
    return std::round(100.0 * static_cast<double>(numerator) / static_cast<double>(denominator)) / 100.0;
}

std::string rateText(uint32_t interval)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", rateRounded(interval));
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
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
