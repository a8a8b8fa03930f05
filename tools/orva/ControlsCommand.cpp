// orva controls [CAMERA] | orva controls set NAME VALUE [--camera C]
#include "Cli.h"

#include <orva/OrvaVideoDevice.h>

#include <cerrno>
#include <cstdio>
#include <functional>

using namespace orva;

namespace cli {

namespace {

using Getter = std::optional<Number> (OrvaVideoDevice::*)();
using Setter = void (OrvaVideoDevice::*)(const std::optional<Number>&);

struct Control {
    const char* name;
    Getter min, max, def, cur;
    Setter set;
    std::function<std::string(OrvaVideoDevice&)> autoMode; // empty when the control has none
};

std::string onOff(bool on)
{
    return on ? "on" : "off";
}

const std::vector<Control>& controls()
{
    using V = OrvaVideoDevice;
    static const std::vector<Control> table = {
        {"brightness", &V::getBrightnessMin, &V::getBrightnessMax, &V::getBrightnessDefault, &V::getBrightnessCur,
         &V::setBrightnessCur, nullptr},
        {"contrast", &V::getContrastMin, &V::getContrastMax, &V::getContrastDefault, &V::getContrastCur,
         &V::setContrastCur, nullptr},
        {"saturation", &V::getSaturationMin, &V::getSaturationMax, &V::getSaturationDefault, &V::getSaturationCur,
         &V::setSaturationCur, nullptr},
        {"hue", &V::getHueMin, &V::getHueMax, &V::getHueDefault, &V::getHueCur, &V::setHueCur,
         [](V& c) { return onOff(c.isAutoHueSet()); }},
        {"sharpness", &V::getSharpnessMin, &V::getSharpnessMax, &V::getSharpnessDefault, &V::getSharpnessCur,
         &V::setSharpnessCur, nullptr},
        {"white-balance", &V::getWhiteBalMin, &V::getWhiteBalMax, &V::getWhiteBalDefault, &V::getWhiteBalCur,
         &V::setWhiteBalCur,
         [](V& c) {
             auto n = c.isAutoWhiteBalanceSet();
             return n ? onOff(n->boolValue()) : std::string("?");
         }},
        {"exposure", &V::getExposureMin, &V::getExposureMax, &V::getExposureDefault, &V::getExposureCur,
         &V::setExposureCur, [](V& c) { return onOff(c.isAutoExposureSet()); }},
        {"focus", &V::getFocusMin, &V::getFocusMax, &V::getFocusDefault, &V::getFocusCur, &V::setFocusCur,
         [](V& c) {
             auto n = c.isAutoFocusSet();
             return n ? onOff(n->boolValue()) : std::string("?");
         }},
        {"zoom", &V::getZoomMin, &V::getZoomMax, &V::getZoomDef, &V::getZoomCur, &V::setZoomCur, nullptr},
        {"pan", &V::getPanMin, &V::getPanMax, &V::getPanDef, &V::getPanCur, &V::setPanCur, nullptr},
        {"tilt", &V::getTiltMin, &V::getTiltMax, &V::getTiltDef, &V::getTiltCur, &V::setTiltCur, nullptr},
        {"pan-relative", &V::getPanRelMin, &V::getPanRelMax, &V::getPanRelDef, &V::getPanRelCur, &V::setPanRelCur,
         nullptr},
        {"tilt-relative", &V::getTiltRelMin, &V::getTiltRelMax, &V::getTiltRelDef, &V::getTiltRelCur,
         &V::setTiltRelCur, nullptr},
        {"anti-flicker", nullptr, nullptr, &V::getAntiFlickerDefault, &V::getAntiFlickerCur, &V::setAntiFlickerCur,
         nullptr},
        {"mirror", nullptr, nullptr, &V::getMirrorDef, &V::getMirrorCur, &V::setMirrorCur, nullptr},
    };
    return table;
}

std::string text(const std::optional<Number>& n)
{
    return n ? n->description() : "-";
}

bool parseOnOff(const std::string& s, bool& on)
{
    if (s == "on" || s == "1" || s == "yes") return on = true, true;
    if (s == "off" || s == "0" || s == "no") return on = false, true;
    return false;
}

int setControl(OrvaVideoDevice& camera, const std::string& name, const std::string& valueText)
{
    // Switches.
    bool on = false;
    const bool isSwitch = name == "auto-exposure" || name == "auto-focus" || name == "auto-white-balance" ||
                          name == "auto-hue" || name == "sunwise";
    if (isSwitch) {
        if (!parseOnOff(valueText, on)) {
            std::fprintf(stderr, "orva controls: %s is on or off, not \"%s\"\n", name.c_str(), valueText.c_str());
            return 2;
        }
        if (name == "auto-exposure") camera.setAutoExposure(on);
        if (name == "auto-focus") camera.setAutoFocusCur(on);
        if (name == "auto-white-balance") camera.setWhiteBalAuto(on);
        if (name == "auto-hue") camera.setAutoHue(on);
        if (name == "sunwise") camera.setSunwise(on);
        std::printf("%s set to %s\n", name.c_str(), on ? "on" : "off");
        return 0;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(valueText.c_str(), &end, 0);
    if (valueText.empty() || *end != 0 || errno == ERANGE) {
        std::fprintf(stderr, "orva controls: \"%s\" is not a whole number\n", valueText.c_str());
        return 2;
    }
    if (name == "field-of-view") {
        camera.setFieldOfView(static_cast<int32_t>(value));
        std::optional<Number> now;
        const bool ok = camera.getFieldOfView(&now);
        std::printf("field-of-view is now %s\n", ok ? text(now).c_str() : "unknown");
        return 0;
    }
    for (const auto& c : controls()) {
        if (name != c.name) continue;
        const auto min = c.min ? (camera.*c.min)() : std::nullopt;
        const auto max = c.max ? (camera.*c.max)() : std::nullopt;
        if ((min && value < min->integerValue()) || (max && value > max->integerValue()))
            std::fprintf(stderr, "warning: %lld is outside %s's range %s..%s; the camera gets it as it is\n", value,
                         c.name, text(min).c_str(), text(max).c_str());
        (camera.*c.set)(Number::numberWithInteger(value));
        std::printf("%s is now %s\n", c.name, text((camera.*c.cur)()).c_str());
        return 0;
    }
    std::fprintf(stderr, "orva controls: unknown control \"%s\"; the controls are:\n ", name.c_str());
    for (const auto& c : controls()) std::fprintf(stderr, " %s", c.name);
    std::fprintf(stderr, " field-of-view auto-exposure auto-focus auto-white-balance auto-hue sunwise\n");
    return 2;
}

} // namespace

int runControls(Args& args)
{
    auto cameraOption = args.option("camera");
    auto p = args.positional();
    const bool setting = !p.empty() && p[0] == "set";
    if (!checkArgs("controls", args, setting ? 3 : 1)) return 2;
    if (setting && p.size() != 3) {
        std::fprintf(stderr, "orva controls set: give NAME VALUE, e.g. orva controls set brightness 140\n");
        return 2;
    }
    std::optional<std::string> choice = cameraOption;
    if (!setting && !p.empty()) choice = p[0];
    auto camera = openCamera("controls", choice);
    if (!camera) return 1;
    int status = 0;
    if (setting) {
        status = setControl(*camera, p[1], p[2]);
    } else {
        OrvaVideoDevice& cam = *camera;
        std::printf("%s\n", camera->deviceInfo()->nameText().c_str());
        std::printf("  %-14s %8s %8s %8s %8s  %s\n", "control", "min", "max", "default", "current", "auto");
        for (const auto& c : controls()) {
            const auto cur = (cam.*c.cur)();
            if (!cur && !(cam.*c.def)()) continue; // the camera lacks it
            std::printf("  %-14s %8s %8s %8s %8s  %s\n", c.name, text(c.min ? (cam.*c.min)() : std::nullopt).c_str(),
                        text(c.max ? (cam.*c.max)() : std::nullopt).c_str(), text((cam.*c.def)()).c_str(),
                        text(cur).c_str(), c.autoMode ? c.autoMode(cam).c_str() : "");
        }
        std::optional<Number> fov;
        if (camera->getFieldOfView(&fov)) std::printf("  %-14s %8s %8s %8s %8s\n", "field-of-view", "", "", "", text(fov).c_str());
        std::printf("  %-14s %8s %8s %8s %8s\n", "sunwise", "", "", "", camera->isSunwiseSet() ? "on" : "off");
        std::printf("  anti-flicker supported: %s, mirror supported: %s\n",
                    camera->isAntiFlickerSupported() ? "yes" : "no", camera->isMirrorSupported() ? "yes" : "no");
    }
    camera->closeDevice();
    return status;
}

} // namespace cli
