// orva doctor: what the system offers and why each camera node and audio source is
// listed or not (the maker's vendor only, no capture capability, a node that cannot
// be opened and the group to join), then the devices as the other commands see them:
// the names and paths they are chosen by.
#include "Cli.h"
#include "Terminal.h"
#include "Commands.h"
#include "JsonWriter.h"

#include <orva/OrvaDeviceManager.h>

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace orva;

namespace cli {

namespace {

std::string systemText(int32_t (*describe)(char*, uint32_t))
{
    std::string text(static_cast<size_t>(describe(nullptr, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(describe(text.data(), static_cast<uint32_t>(text.size()))));
    return text;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
}

// The system's nodes and sources as JSON, from the capture library's records.
void writeSystem(JsonWriter& json, const std::string& records)
{
    for (const char* kind : {"camera", "microphone"}) {
        json.key(std::string(kind) == "camera" ? "camera_nodes" : "audio_sources").beginArray();
        size_t start = 0;
        for (size_t end; (end = records.find('\n', start)) != std::string::npos; start = end + 1) {
            const auto f = fields(records.substr(start, end - start));
            if (f.size() != 9 || f[0] != kind) continue;
            json.beginObject()
                .field(f[0] == "camera" ? "node" : "node_name", f[1])
                .field("name", f[2])
                .field("usb", f[3])
                .field("vendor_id", static_cast<int64_t>(std::stoul(f[4], nullptr, 16)))
                .field("product_id", static_cast<int64_t>(std::stoul(f[5], nullptr, 16)))
                .field("serial", f[6])
                .field("listed", f[7] == "1");
            json.key(f[7] == "1" ? "path" : "reason").value(f[8]);
            json.endObject();
        }
        json.endArray();
    }
}

} // namespace

int runDoctor(Invocation& invocation)
{
    const bool simulated = ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SIMULATOR;
    const char* uses = simulated ? "the simulated devices (--simulate or ORVA_SIMULATE)"
                                 : "the devices listed above, or the built-in virtual ones where there is none of a kind";
    // What the other commands will work with, by the names they are chosen by.
    auto manager = OrvaDeviceManager::getSharedInstance();
    const auto cameras = manager->getVideoDeviceList(), microphones = manager->getAudioDeviceList();
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject();
        writeSystem(json, systemText(ZISys_DescribeRecords));
        json.field("simulated", simulated).key("orva_lists").beginObject();
        for (const auto* list : {cameras.get(), microphones.get()}) {
            json.key(list == cameras.get() ? "cameras" : "microphones").beginArray();
            for (size_t i = 0; i < list->size(); ++i) {
                const auto path = (*list)[i]->path();
                json.beginObject()
                    .field("index", static_cast<int64_t>(i))
                    .field("name", (*list)[i]->nameText())
                    .field("path", path ? *path : std::string())
                    .endObject();
            }
            json.endArray();
        }
        json.endObject().endObject();
    } else {
        std::fputs(systemText(ZISys_Describe).c_str(), out());
        std::fprintf(out(), "\nOrva lists them as (choose by index, name, path, node or serial):\n");
        for (const auto* list : {cameras.get(), microphones.get()}) {
            const bool video = list == cameras.get();
            if (list->empty()) std::fprintf(out(), "  no %s\n", video ? "camera" : "microphone");
            for (size_t i = 0; i < list->size(); ++i) {
                const auto path = (*list)[i]->path();
                std::fprintf(out(), "  %s [%zu] %s  %s\n", video ? "camera    " : "microphone", i,
                             (*list)[i]->nameText().c_str(), path ? path->c_str() : "");
            }
        }
        std::fprintf(out(), "\nThe other commands use %s.\n", uses);
    }
    manager.reset();
    OrvaDeviceManager::destroy();
    return kExitOk;
}

} // namespace cli
