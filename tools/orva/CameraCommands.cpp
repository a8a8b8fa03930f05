// orva formats, orva info, orva ptz.
#include "Cli.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>

#include <cstdio>

using namespace orva;

namespace cli {

namespace {
std::optional<std::string> firstPositional(const Args& args, size_t index = 0)
{
    auto p = args.positional();
    if (p.size() > index) return p[index];
    return std::nullopt;
}
} // namespace

int runFormats(Args& args)
{
    if (!checkArgs("formats", args, 1)) return 2;
    auto camera = openCamera("formats", firstPositional(args));
    if (!camera) return 1;
    auto formats = camera->getSupportedFormats();
    std::printf("%s: %zu formats\n", camera->deviceInfo()->nameText().c_str(), formats->size());
    std::printf("  %-6s %-11s %s\n", "codec", "size", "frame rates");
    for (const auto& f : *formats) {
        auto video = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
        if (!video) continue;
        std::string rates;
        const auto intervals = camera->getSupportedFrameIntervals(*video);
        for (const auto& interval : *intervals) {
            char text[32];
            const double fps = interval.doubleValue() > 0 ? 1e7 / interval.doubleValue() : 0;
            std::snprintf(text, sizeof text, "%s%.4g fps", rates.empty() ? "" : ", ", fps);
            rates += text;
        }
        char size[24];
        std::snprintf(size, sizeof size, "%dx%d", video->dimensions().width, video->dimensions().height);
        std::printf("  %-6s %-11s %s\n", fourccText(video->mediaSubType()).c_str(), size, rates.c_str());
    }
    camera->closeDevice();
    return 0;
}

int runInfo(Args& args)
{
    if (!checkArgs("info", args, 1)) return 2;
    auto camera = openCamera("info", firstPositional(args));
    if (!camera) return 1;
    auto info = camera->deviceInfo();
    std::printf("%s\n", info->nameText().c_str());
    std::printf("  vendor 0x%04X  product 0x%04X  revision 0x%04X\n", info->vendorID(), info->productID(),
                info->revisionID());
    auto show = [](const char* label, const Value& v, std::initializer_list<const char*> keys) {
        if (v.isNull()) {
            std::printf("  %-18s not available\n", label);
            return;
        }
        std::printf("  %-18s", label);
        for (auto k : keys) {
            const Value entry = v.get(k); // held while its number is read
            const Number* n = entry.number();
            std::printf(" %s %s", k, n ? n->description().c_str() : "?");
        }
        std::printf("\n");
    };
    show("firmware version", camera->getFirmwareVersion(), {"Major", "Minor", "BuildNo"});
    auto crc = camera->getFirmwareCRCControl();
    if (crc)
        std::printf("  %-18s 0x%04llX\n", "firmware CRC", static_cast<unsigned long long>(crc->integerValue()));
    else
        std::printf("  %-18s not available\n", "firmware CRC");
    show("EEPROM", camera->getEEPROMInfo(), {"Major", "Minor"});
    show("sensor", camera->getSensorInfo(), {"SensorTech", "SensorType"});
    std::printf("  %-18s %s\n", "relative pan/tilt", camera->isPTZRelativeSupported() ? "yes" : "no");
    std::printf("  %-18s %s\n", "built-in camera", OrvaVideoDevice::hasBuiltInCamera() ? "present" : "none");
    camera->closeDevice();
    return 0;
}

int runPtz(Args& args)
{
    auto cameraChoice = args.option("camera");
    if (!checkArgs("ptz", args, 2)) return 2;
    auto p = args.positional();
    if (p.empty()) {
        std::fprintf(stderr, "orva ptz: say left, right, up, down or reset (and a count: orva ptz left 3)\n");
        return 2;
    }
    const std::string move = p[0];
    int times = 1;
    if (p.size() > 1) {
        times = std::atoi(p[1].c_str());
        if (times < 1 || times > 100) {
            std::fprintf(stderr, "orva ptz: the count is 1 to 100, not \"%s\"\n", p[1].c_str());
            return 2;
        }
    }
    if (move != "left" && move != "right" && move != "up" && move != "down" && move != "reset") {
        std::fprintf(stderr, "orva ptz: unknown move \"%s\" (left, right, up, down, reset)\n", move.c_str());
        return 2;
    }
    auto camera = openCamera("ptz", cameraChoice);
    if (!camera) return 1;
    auto position = [&] {
        auto pan = camera->getPanRelCur(), tilt = camera->getTiltRelCur();
        std::printf("  head position: pan %s, tilt %s\n", pan ? pan->description().c_str() : "?",
                    tilt ? tilt->description().c_str() : "?");
    };
    if (!camera->isPTZRelativeSupported()) {
        std::printf("%s does not take relative pan/tilt moves\n", camera->deviceInfo()->nameText().c_str());
        camera->closeDevice();
        return 1;
    }
    position();
    if (move == "reset") {
        camera->resetPanTiltRel();
    } else {
        for (int i = 0; i < times; ++i) {
            if (move == "left") camera->panRelativeLeft();
            if (move == "right") camera->panRelativeRight();
            if (move == "up") camera->tiltRelativeUp();
            if (move == "down") camera->tiltRelativeDown();
        }
        std::printf("  queued %d move%s of 125 ms\n", times, times == 1 ? "" : "s");
        // Let the queued bursts run before closing.
        const int64_t waitMs = 125LL * times + 100;
        struct timespec ts{waitMs / 1000, (waitMs % 1000) * 1000000};
        nanosleep(&ts, nullptr);
        (void)camera->relativePanTiltStop(0);
    }
    position();
    camera->closeDevice();
    return 0;
}

} // namespace cli
