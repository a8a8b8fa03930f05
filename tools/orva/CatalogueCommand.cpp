// orva catalogue [FILE] [--pid PID] [--codec avc1|2vuy] [--size WIDTHxHEIGHT] [--interpolated] [--json]
// The catalogue is read once; the codecs are spelled as everywhere else in orva
// (avc1, 2vuy) and mapped to the catalogue's own names (H264, YUV).
#include "Cli.h"
#include "Terminal.h"
#include "Commands.h"
#include "JsonWriter.h"

#include <orva/SMResolutionInfo.h>
#include "catalogue/CatalogueFile.h"
#include "catalogue/CatalogueProducts.h"
#include <orva/SMXMLReader.h>
#include "platform/foundation/Bundle.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

using namespace orva;

namespace cli {

namespace {

struct CodecName {
    const char* orva;      // as the commands spell it
    const char* catalogue; // as the catalogue's FMT names it
};
constexpr CodecName kCodecs[] = {{"avc1", "H264"}, {"2vuy", "YUV"}};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The catalogue's name for a codec given as avc1/2vuy (or the catalogue's own name).
std::optional<std::string> catalogueCodec(const std::string& given)
{
    for (const auto& c : kCodecs)
        if (lower(given) == c.orva || lower(given) == lower(c.catalogue)) return std::string(c.catalogue);
    return std::nullopt;
}

std::string orvaCodec(const std::string& catalogueName)
{
    for (const auto& c : kCodecs)
        if (catalogueName == c.catalogue) return c.orva;
    return catalogueName;
}

struct Resolution {
    int64_t width = 0, height = 0;
    bool interpolated = false;
    std::optional<int64_t> fps;
    std::string codec; // "any" when the rate names none
};

std::vector<Resolution> resolutions(const SMResolutionInfo& info)
{
    std::vector<Resolution> rows;
    uint32_t count = 0;
    if (info.getResolutionCount(&count) != 0) return rows;
    for (uint32_t i = 0; i < count; ++i) {
        const Value r = info.getResolutionArrayAtIndex(i);
        const Value wv = r.get("SelectedWidth"), hv = r.get("SelectedHeight"), iv = r.get("Interpolated");
        Resolution row;
        row.width = wv.number() ? wv.number()->integerValue() : 0;
        row.height = hv.number() ? hv.number()->integerValue() : 0;
        row.interpolated = iv.number() && iv.number()->boolValue();
        row.codec = "any";
        const Value rate = r.get("FrameRate");
        if (const Number* n = rate.number()) {
            row.fps = n->integerValue();
        } else if (rate.isTable()) {
            const Value fmt = rate.get("FMT"), value = rate.get("FrameRate");
            if (fmt.text()) row.codec = orvaCodec(*fmt.text());
            if (value.number()) row.fps = value.number()->integerValue();
        }
        rows.push_back(row);
    }
    return rows;
}

} // namespace

int runCatalogue(Invocation& invocation)
{
    std::string path;
    if (const auto given = invocation.operand(0)) {
        path = *given;
    } else if (auto sample = Bundle::mainBundle()->pathForResource("Resolutions", "xml")) {
        path = *sample;
    } else {
        return invocation.fail(kExitUsage, "no FILE given and no sample catalogue in Resources/");
    }
    std::optional<int64_t> pid;
    if (const auto pidText = invocation.value("pid"); pidText && !(pid = invocation.integer(*pidText, "--pid", 0, 0xFFFF)))
        return kExitUsage;
    std::optional<std::string> codec;
    if (const auto codecText = invocation.value("codec"); codecText && !(codec = catalogueCodec(*codecText)))
        return invocation.fail(kExitUsage, "--codec is avc1 or 2vuy, not \"%s\"", codecText->c_str());
    std::optional<std::pair<uint32_t, uint32_t>> size;
    if (const auto sizeText = invocation.value("size"); sizeText && !(size = invocation.size(*sizeText, "--size", 16384)))
        return kExitUsage;
    const bool interpolated = invocation.flag("interpolated");
    if (interpolated && !size) return invocation.fail(kExitUsage, "--interpolated goes with --size");

    const auto read = CatalogueFile::read(path); // a regular file of at most 16 MB, parsed once
    if (read.root.isNull()) return invocation.fail(kExitFailure, "%s", read.error.c_str());
    const Value& root = read.root;

    std::vector<std::pair<uint32_t, Value>> products; // a product and the catalogue to look it up in
    if (pid) {
        products.emplace_back(static_cast<uint32_t>(*pid), root);
    } else {
        products = CatalogueProducts::of(root); // one walk, however many cameras
        if (products.empty()) return invocation.fail(kExitFailure, "\"%s\" lists no Camera with a PID", path.c_str());
    }

    const bool lookup = size || codec;
    std::string question;
    if (size) {
        question = std::to_string(size->first) + "x" + std::to_string(size->second) + (interpolated ? " interpolated" : "");
        if (codec) question += " for " + orvaCodec(*codec);
    } else if (codec) {
        question = "codec " + orvaCodec(*codec);
    }
    struct Answer {
        uint32_t pid;
        bool listed;
        bool yes;
        std::vector<Resolution> rows;
    };
    std::vector<Answer> answers;
    for (const auto& [product, catalogue] : products) {
        const SMResolutionInfo info(catalogue, product, path);
        uint32_t count = 0;
        Answer a{product, info.getResolutionCount(&count) == 0, false, resolutions(info)};
        if (a.listed && lookup) {
            if (size && codec) {
                a.yes = info.isResolutionPresent(*codec, size->first, size->second, interpolated);
            } else if (size) {
                a.yes = std::any_of(a.rows.begin(), a.rows.end(), [&](const Resolution& r) {
                    return r.width == size->first && r.height == size->second && r.interpolated == interpolated;
                });
            } else {
                a.yes = info.isCodecSupported(*codec);
            }
        }
        answers.push_back(std::move(a));
    }

    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject().field("catalogue", path);
        if (lookup) json.field("question", question);
        json.key("products").beginArray();
        for (const auto& a : answers) {
            json.beginObject().field("product_id", static_cast<int64_t>(a.pid)).field("in_catalogue", a.listed);
            if (lookup) {
                json.key("answer");
                a.listed ? json.value(a.yes) : json.null();
            } else {
                json.key("resolutions").beginArray();
                for (const auto& r : a.rows) {
                    json.beginObject()
                        .field("width", r.width)
                        .field("height", r.height)
                        .field("interpolated", r.interpolated)
                        .field("fps", r.fps)
                        .field("codec", r.codec)
                        .endObject();
                }
                json.endArray();
            }
            json.endObject();
        }
        json.endArray().endObject();
    } else {
        std::fprintf(out(), "catalogue %s\n", path.c_str());
        for (const auto& a : answers) {
            if (!a.listed) {
                std::fprintf(out(), "product 0x%04X: not in the catalogue\n", a.pid);
                continue;
            }
            if (lookup) {
                std::fprintf(out(), "product 0x%04X: %s: %s\n", a.pid, question.c_str(), a.yes ? "yes" : "no");
                continue;
            }
            std::fprintf(out(), "product 0x%04X: %zu resolutions\n", a.pid, a.rows.size());
            std::fprintf(out(), "  %-11s %-12s %5s  %s\n", "size", "interpolated", "fps", "codec");
            for (const auto& r : a.rows) {
                const std::string sizeText = std::to_string(r.width) + "x" + std::to_string(r.height);
                std::fprintf(out(), "  %-11s %-12s %5s  %s\n", sizeText.c_str(), r.interpolated ? "yes" : "no",
                             r.fps ? std::to_string(*r.fps).c_str() : "-", r.codec.c_str());
            }
        }
    }
    // A product that is not in the catalogue is a no, as is a no to the question.
    const bool allYes = std::all_of(answers.begin(), answers.end(),
                                    [&](const Answer& a) { return a.listed && (!lookup || a.yes); });
    return allYes ? kExitOk : kExitFailure;
}

} // namespace cli
