// orva controls [CAMERA] | orva controls set NAME VALUE [--camera C]
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "Commands.h"
#include "JsonWriter.h"

#include <orva/OrvaVideoDevice.h>

#include <algorithm>
#include <cctype>
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
    // A menu's labels by value (anti-flicker), or a switch's (mirror: off, on).
    std::vector<const char*> labels = {};
};

const std::vector<const char*> kOffOn = {"off", "on"};

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
        // The power-line frequency the exposure avoids beating with; cameras without an
        // automatic setting say their highest is 2.
        {"anti-flicker", nullptr, &V::getAntiFlickerMax, &V::getAntiFlickerDefault, &V::getAntiFlickerCur,
         &V::setAntiFlickerCur, nullptr, {"off", "50hz", "60hz", "auto"}},
        {"mirror", nullptr, nullptr, &V::getMirrorDef, &V::getMirrorCur, &V::setMirrorCur, nullptr, kOffOn},
    };
    return table;
}

std::string text(const std::optional<Number>& n)
{
    return n ? n->description() : "-";
}

// A value as a person reads it: a menu's or switch's label, else the number.
std::string text(const Control& c, const std::optional<Number>& n)
{
    if (n && !c.labels.empty() && n->integerValue() >= 0 && n->integerValue() < static_cast<int64_t>(c.labels.size()))
        return c.labels[static_cast<size_t>(n->integerValue())];
    return text(n);
}

bool parseOnOff(const std::string& s, bool& on)
{
    if (s == "on" || s == "1" || s == "yes" || s == "true") return on = true, true;
    if (s == "off" || s == "0" || s == "no" || s == "false") return on = false, true;
    return false;
}

const char* const kSwitches[] = {"auto-exposure", "auto-focus", "auto-white-balance", "auto-hue", "sunwise"};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

int setControl(const Invocation& invocation, OrvaVideoDevice& camera, const std::string& name,
               const std::string& valueText)
{
    if (std::find(std::begin(kSwitches), std::end(kSwitches), name) != std::end(kSwitches)) {
        bool on = false;
        if (!parseOnOff(lower(valueText), on))
            return invocation.fail(kExitUsage, "%s is on or off, not \"%s\"", name.c_str(), valueText.c_str());
        if (name == "auto-exposure") camera.setAutoExposure(on);
        if (name == "auto-focus") camera.setAutoFocusCur(on);
        if (name == "auto-white-balance") camera.setWhiteBalAuto(on);
        if (name == "auto-hue") camera.setAutoHue(on);
        if (name == "sunwise") camera.setSunwise(on);
        std::fprintf(out(), "%s set to %s\n", name.c_str(), on ? "on" : "off");
        return kExitOk;
    }
    if (name == "field-of-view") {
        const auto value = invocation.integer(valueText, name, INT32_MIN, INT32_MAX);
        if (!value) return kExitUsage;
        camera.setFieldOfView(static_cast<int32_t>(*value));
        std::optional<Number> now;
        const bool ok = camera.getFieldOfView(&now);
        std::fprintf(out(), "field-of-view is now %s\n", ok ? text(now).c_str() : "unknown");
        return ok ? kExitOk : kExitFailure;
    }
    for (const auto& c : controls()) {
        if (name != c.name) continue;
        const auto min = c.min ? (camera.*c.min)() : std::nullopt;
        const auto max = c.max ? (camera.*c.max)() : std::nullopt;
        if (!(camera.*c.cur)() && !(camera.*c.def)())
            return invocation.fail(kExitFailure, "%s has no %s control", camera.deviceInfo()->nameText().c_str(), c.name);
        std::optional<int64_t> value;
        if (!c.labels.empty()) {
            // A menu or a switch: its labels (or their numbers), up to what the camera has.
            const int64_t highest = max ? std::min<int64_t>(max->integerValue(), static_cast<int64_t>(c.labels.size()) - 1)
                                        : static_cast<int64_t>(c.labels.size()) - 1;
            bool on = false;
            const std::string asked = lower(valueText);
            for (int64_t i = 0; i <= highest; ++i)
                if (asked == c.labels[static_cast<size_t>(i)] || asked == std::to_string(i)) value = i;
            if (!value && c.labels == kOffOn && parseOnOff(asked, on)) value = on ? 1 : 0;
            if (!value) {
                std::string choices;
                for (int64_t i = 0; i <= highest; ++i)
                    choices += std::string(i ? ", " : "") + c.labels[static_cast<size_t>(i)] + " (" + std::to_string(i) + ")";
                return invocation.fail(kExitUsage, "%s is one of %s, not \"%s\"", c.name, choices.c_str(),
                                       valueText.c_str());
            }
        } else {
            // The control's own range, else what the library's 32-bit values hold.
            value = invocation.integer(valueText, name, min ? min->integerValue() : INT32_MIN,
                                       max ? max->integerValue() : INT32_MAX);
            if (!value) return kExitUsage;
        }
        (camera.*c.set)(Number::numberWithInteger(*value));
        const auto now = (camera.*c.cur)();
        std::fprintf(out(), "%s is now %s\n", c.name, text(c, now).c_str());
        if (!now) return invocation.fail(kExitFailure, "the camera did not answer what %s is now", c.name);
        if (now->integerValue() != *value && !c.labels.empty())
            return invocation.fail(kExitFailure, "the camera kept %s at %s instead of %s", c.name, text(c, now).c_str(),
                                   text(c, Number::numberWithInteger(*value)).c_str());
        if (now->integerValue() != *value) // a camera rounds to its control's step
            std::fprintf(err(), "orva controls: note: the camera made %lld of %s %lld (its step)\n",
                         static_cast<long long>(now->integerValue()), c.name, static_cast<long long>(*value));
        return kExitOk;
    }
    invocation.fail(kExitUsage, "unknown control \"%s\"; the controls are:", name.c_str());
    std::string names;
    for (const auto& c : controls()) names += std::string(" ") + c.name;
    names += " field-of-view";
    for (const char* sw : kSwitches) names += std::string(" ") + sw;
    std::fprintf(err(), " %s\n", names.c_str());
    return kExitUsage;
}

} // namespace

int runControls(Invocation& invocation)
{
    const auto& operands = invocation.operands();
    const bool setting = !operands.empty() && operands[0] == "set";
    if (setting && operands.size() != 3)
        return invocation.fail(kExitUsage, "give set NAME VALUE, e.g. orva controls set brightness 40");
    if (!setting && operands.size() > 1) return invocation.fail(kExitUsage, "unexpected \"%s\"", operands[1].c_str());
    if (!setting && operands.size() == 1 && invocation.value("camera"))
        return invocation.fail(kExitUsage, "give the camera once: as CAMERA or with --camera");
    std::optional<std::string> choice = invocation.value("camera");
    if (!setting && !operands.empty()) choice = operands[0];
    if (setting && invocation.json()) return invocation.fail(kExitUsage, "--json goes with the listing, not with set");
    DeviceUse camera(openCamera(invocation, choice));
    if (!camera) return kExitFailure;
    int status = kExitOk;
    if (setting) {
        status = setControl(invocation, *camera, lower(operands[1]), operands[2]);
        return status;
    }
    OrvaVideoDevice& cam = *camera;
    struct Row {
        const Control* control;
        std::optional<Number> min, max, def, cur;
        std::string autoMode;
    };
    std::vector<Row> rows;
    for (const auto& c : controls()) {
        Row r{&c, c.min ? (cam.*c.min)() : std::nullopt, c.max ? (cam.*c.max)() : std::nullopt, (cam.*c.def)(),
              (cam.*c.cur)(), c.autoMode ? c.autoMode(cam) : ""};
        if (!c.labels.empty()) {
            // A menu or switch runs from its first label to its last the camera has.
            r.min = Number::numberWithInt(0);
            if (!r.max || r.max->integerValue() >= static_cast<int64_t>(c.labels.size()))
                r.max = Number::numberWithInt(static_cast<int32_t>(c.labels.size()) - 1);
        }
        if (r.cur || r.def) rows.push_back(std::move(r)); // else the camera lacks it
    }
    std::optional<Number> fov;
    const bool hasFov = camera->getFieldOfView(&fov);
    const bool sunwise = camera->isSunwiseSet(), antiFlicker = camera->isAntiFlickerSupported(),
               mirror = camera->isMirrorSupported();
    const std::string name = camera->deviceInfo()->nameText();
    auto number = [](JsonWriter& json, const std::optional<Number>& n) -> JsonWriter& {
        return n ? json.value(n->integerValue()) : json.null();
    };
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("device", name).key("controls").beginArray();
        for (const auto& r : rows) {
            json.beginObject().field("name", r.control->name);
            number(json.key("min"), r.min);
            number(json.key("max"), r.max);
            number(json.key("default"), r.def);
            number(json.key("current"), r.cur);
            json.key("auto");
            r.autoMode.empty() ? json.null() : json.value(r.autoMode);
            if (!r.control->labels.empty()) {
                // The labels of the values min to max, and the current one's.
                json.key("labels").beginArray();
                for (int64_t i = 0; r.max && i <= r.max->integerValue(); ++i) json.value(r.control->labels[static_cast<size_t>(i)]);
                json.endArray().field("current_label", text(*r.control, r.cur));
            }
            json.endObject();
        }
        json.endArray();
        number(json.key("field_of_view"), hasFov ? fov : std::nullopt);
        json.field("sunwise", sunwise).field("anti_flicker_supported", antiFlicker).field("mirror_supported", mirror);
        json.endObject();
    } else {
        std::fprintf(out(), "%s\n", name.c_str());
        std::fprintf(out(), "  %-14s %8s %8s %8s %8s  %s\n", "control", "min", "max", "default", "current",
                     "auto, or the values");
        for (const auto& r : rows) {
            const Control& c = *r.control;
            std::string choices = r.autoMode;
            if (!c.labels.empty()) {
                choices = "one of";
                for (int64_t i = 0; r.max && i <= r.max->integerValue(); ++i)
                    choices += std::string(i ? ", " : " ") + c.labels[static_cast<size_t>(i)];
            }
            std::fprintf(out(), "  %-14s %8s %8s %8s %8s  %s\n", c.name, text(c, r.min).c_str(), text(c, r.max).c_str(),
                         text(c, r.def).c_str(), text(c, r.cur).c_str(), choices.c_str());
        }
        if (hasFov) std::fprintf(out(), "  %-14s %8s %8s %8s %8s\n", "field-of-view", "", "", "", text(fov).c_str());
        std::fprintf(out(), "  %-14s %8s %8s %8s %8s\n", "sunwise", "", "", "", sunwise ? "on" : "off");
        std::fprintf(out(), "  anti-flicker supported: %s, mirror supported: %s\n", antiFlicker ? "yes" : "no",
                     mirror ? "yes" : "no");
    }
    // Every camera has ranged controls (brightness, ...): none answering means the
    // library did not answer.
    if (std::none_of(rows.begin(), rows.end(), [](const Row& r) { return r.control->labels.empty() && (r.min || r.max); }))
        return invocation.fail(kExitFailure, "%s answers no control (the capture library failed)", name.c_str());
    return status;
}

} // namespace cli
