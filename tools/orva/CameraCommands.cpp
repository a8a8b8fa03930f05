// orva formats, orva info, orva ptz.
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "Commands.h"
#include "JsonWriter.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaVideoDevice.h>

#include <cctype>
#include <chrono>
#include <thread>

using namespace orva;

namespace cli {

int runFormats(Invocation& invocation)
{
    DeviceUse camera(openCamera(invocation, invocation.operand(0)));
    if (!camera) return kExitFailure;
    const auto formats = camera->getSupportedFormats();
    struct Row {
        std::string codec;
        int32_t width, height;
        std::vector<uint32_t> intervals; // 100 ns units
    };
    std::vector<Row> rows;
    for (const auto& f : formats ? *formats : FormatList{}) {
        auto video = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
        if (!video) continue;
        Row row{fourccText(video->mediaSubType()), video->dimensions().width, video->dimensions().height, {}};
        if (const auto intervals = camera->getSupportedFrameIntervals(*video))
            for (const auto& interval : *intervals)
                if (interval.integerValue() > 0) row.intervals.push_back(static_cast<uint32_t>(interval.integerValue()));
        rows.push_back(std::move(row));
    }
    const std::string name = camera->deviceInfo()->nameText();
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("device", name).key("formats").beginArray();
        for (const auto& r : rows) {
            json.beginObject().field("codec", r.codec).field("width", r.width).field("height", r.height);
            // Rounded as cameras name them (29.97), and exactly.
            json.key("frame_rates").beginArray();
            for (uint32_t interval : r.intervals) json.value(rateRounded(interval));
            json.endArray().key("rates").beginArray();
            for (uint32_t interval : r.intervals) {
                const auto [numerator, denominator] = rateFraction(interval);
                json.beginObject()
                    .field("fps", rateRounded(interval))
                    .field("numerator", numerator)
                    .field("denominator", denominator)
                    .field("interval_100ns", static_cast<int64_t>(interval))
                    .endObject();
            }
            json.endArray().endObject();
        }
        json.endArray().endObject();
    } else {
        std::fprintf(out(), "%s: %zu formats\n", name.c_str(), rows.size());
        std::fprintf(out(), "  %-6s %-11s %s\n", "codec", "size", "frame rates");
        for (const auto& r : rows) {
            std::string rates;
            for (uint32_t interval : r.intervals) rates += (rates.empty() ? "" : ", ") + rateText(interval) + " fps";
            const std::string size = std::to_string(r.width) + "x" + std::to_string(r.height);
            std::fprintf(out(), "  %-6s %-11s %s\n", r.codec.c_str(), size.c_str(), rates.c_str());
        }
    }
    // A camera always has a format: an empty list means the library did not answer.
    if (rows.empty()) {
        const auto path = camera->deviceInfo()->path();
        const std::string node = path ? path->substr(0, path->find(';')) : std::string();
        return invocation.fail(kExitFailure, "%s (%s) offers no format Orva captures (H.264, MJPEG, YUYV or UYVY): "
                               "unsupported, or the capture library failed", name.c_str(), node.c_str());
    }
    return kExitOk;
}

namespace {

// The numbers of an information table (firmware, EEPROM, sensor) by key; null when
// the camera does not give it.
struct InfoTable {
    const char* label;
    const char* jsonKey;
    Value value;
    std::vector<const char*> keys;
};

// BuildNo → build_no.
std::string snakeCase(const std::string& key)
{
    std::string text;
    for (char c : key) {
        if (std::isupper(static_cast<unsigned char>(c)) && !text.empty()) text += '_';
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

int runInfo(Invocation& invocation)
{
    DeviceUse camera(openCamera(invocation, invocation.operand(0)));
    if (!camera) return kExitFailure;
    auto info = camera->deviceInfo();
    const std::vector<InfoTable> tables = {
        {"firmware version", "firmware", camera->getFirmwareVersion(), {"Major", "Minor", "BuildNo"}},
        {"EEPROM", "eeprom", camera->getEEPROMInfo(), {"Major", "Minor"}},
        {"sensor", "sensor", camera->getSensorInfo(), {"SensorTech", "SensorType"}},
    };
    const auto crc = camera->getFirmwareCRCControl();
    const bool relative = camera->isPTZRelativeSupported(), builtIn = OrvaVideoDevice::hasBuiltInCamera();
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject()
            .field("device", info->nameText())
            .field("vendor_id", static_cast<int64_t>(info->vendorID()))
            .field("product_id", static_cast<int64_t>(info->productID()))
            .field("revision", static_cast<int64_t>(info->revisionID()));
        for (const auto& t : tables) {
            json.key(t.jsonKey);
            if (t.value.isNull()) {
                json.null();
                continue;
            }
            json.beginObject();
            for (const char* k : t.keys) {
                const Value entry = t.value.get(k);
                const Number* n = entry.number();
                json.key(snakeCase(k)); // the component's key, as every key of the document is spelt
                n ? json.value(n->integerValue()) : json.null();
            }
            json.endObject();
        }
        json.key("firmware_crc");
        crc ? json.value(crc->integerValue()) : json.null();
        json.field("relative_pan_tilt", relative).field("built_in_camera", builtIn).endObject();
        return kExitOk;
    }
    std::fprintf(out(), "%s\n", info->nameText().c_str());
    std::fprintf(out(), "  vendor 0x%04X  product 0x%04X  revision 0x%04X\n", info->vendorID(), info->productID(),
                 info->revisionID());
    for (const auto& t : tables) {
        if (t.value.isNull()) {
            std::fprintf(out(), "  %-18s not available\n", t.label);
            continue;
        }
        std::fprintf(out(), "  %-18s", t.label);
        for (const char* k : t.keys) {
            const Value entry = t.value.get(k); // held while its number is read
            const Number* n = entry.number();
            std::fprintf(out(), " %s %s", k, n ? n->description().c_str() : "?");
        }
        std::fprintf(out(), "\n");
    }
    if (crc)
        std::fprintf(out(), "  %-18s 0x%04llX\n", "firmware CRC", static_cast<unsigned long long>(crc->integerValue()));
    else
        std::fprintf(out(), "  %-18s not available\n", "firmware CRC");
    std::fprintf(out(), "  %-18s %s\n", "relative pan/tilt", relative ? "yes" : "no");
    std::fprintf(out(), "  %-18s %s\n", "built-in camera", builtIn ? "present" : "none");
    return kExitOk;
}

int runPtz(Invocation& invocation)
{
    const std::string move = invocation.operands().at(0);
    if (move != "left" && move != "right" && move != "up" && move != "down" && move != "reset")
        return invocation.fail(kExitUsage, "the move is left, right, up, down or reset, not \"%s\"", move.c_str());
    int64_t times = 1;
    if (const auto countText = invocation.operand(1)) {
        if (move == "reset") return invocation.fail(kExitUsage, "reset takes no count");
        const auto count = invocation.integer(*countText, "the count", 1, 100);
        if (!count) return kExitUsage;
        times = *count;
    }
    DeviceUse camera(openCamera(invocation, invocation.value("camera")));
    if (!camera) return kExitFailure;
    if (!camera->isPTZRelativeSupported()) {
        return invocation.fail(kExitFailure, "%s does not take relative pan/tilt moves",
                               camera->deviceInfo()->nameText().c_str());
    }
    // The head counts its steps from the centre: pan grows to the left, tilt upwards.
    auto steps = [](const std::optional<Number>& n, const char* plus, const char* minus) -> std::string {
        if (!n) return "?";
        const long long v = n->integerValue();
        if (v == 0) return "0 (centre)";
        return (v > 0 ? "+" : "") + std::to_string(v) + " (" + std::to_string(v > 0 ? v : -v) + " step" +
               (v == 1 || v == -1 ? "" : "s") + " " + (v > 0 ? plus : minus) + ")";
    };
    auto position = [&] {
        std::fprintf(out(), "  head position: pan %s, tilt %s\n", steps(camera->getPanRelCur(), "left", "right").c_str(),
                     steps(camera->getTiltRelCur(), "up", "down").c_str());
    };
    position();
    if (move == "reset") {
        camera->resetPanTiltRel();
    } else {
        for (int64_t i = 0; i < times; ++i) {
            if (move == "left") camera->panRelativeLeft();
            if (move == "right") camera->panRelativeRight();
            if (move == "up") camera->tiltRelativeUp();
            if (move == "down") camera->tiltRelativeDown();
        }
        std::fprintf(out(), "  queued %lld move%s of 125 ms\n", static_cast<long long>(times), times == 1 ? "" : "s");
        // The queued bursts run on the camera's own queue, 125 ms each, before closing.
        std::this_thread::sleep_for(std::chrono::milliseconds(125 * times + 100));
        (void)camera->relativePanTiltStop(0);
    }
    position();
    return kExitOk;
}

} // namespace cli
