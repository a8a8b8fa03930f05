// orva catalogue [FILE] [--pid 0x08E4] [--codec H264] [--size 1280x720] [--interpolated]
#include "Cli.h"

#include <orva/SMResolutionInfo.h>
#include <orva/SMXMLReader.h>
#include "platform/foundation/Bundle.h"

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace orva;

namespace cli {

namespace {

std::string rateText(const Value& rate, std::string& codec)
{
    codec = "any";
    if (const Number* n = rate.number()) return std::to_string(n->integerValue());
    if (rate.isTable()) {
        const Value fmt = rate.get("FMT"), value = rate.get("FrameRate");
        if (fmt.text()) codec = *fmt.text();
        return value.number() ? std::to_string(value.number()->integerValue()) : "?";
    }
    if (rate.isList()) return "several";
    return "-";
}

void printTable(SMResolutionInfo& info)
{
    uint32_t count = 0;
    if (info.getResolutionCount(&count) != 0) {
        std::printf("product 0x%04X: not in the catalogue\n", info.productID());
        return;
    }
    std::printf("product 0x%04X: %u resolutions\n", info.productID(), count);
    std::printf("  %-11s %-12s %5s  %s\n", "size", "interpolated", "fps", "codec");
    for (uint32_t i = 0; i < count; ++i) {
        const Value r = info.getResolutionArrayAtIndex(i);
        // Values are held while their numbers are read.
        const Value wv = r.get("SelectedWidth"), hv = r.get("SelectedHeight"), iv = r.get("Interpolated");
        const Number *w = wv.number(), *h = hv.number(), *interpolated = iv.number();
        std::string codec;
        const std::string fps = rateText(r.get("FrameRate"), codec);
        const std::string size = std::to_string(w ? w->integerValue() : 0) + "x" + std::to_string(h ? h->integerValue() : 0);
        std::printf("  %-11s %-12s %5s  %s\n", size.c_str(), interpolated && interpolated->boolValue() ? "yes" : "no",
                    fps.c_str(), codec.c_str());
    }
}

} // namespace

int runCatalogue(Args& args)
{
    const auto pidText = args.option("pid");
    const auto codec = args.option("codec");
    const auto sizeText = args.option("size");
    const bool interpolated = args.flag("interpolated");
    if (!checkArgs("catalogue", args, 1)) return 2;

    std::string path;
    if (!args.positional().empty()) {
        path = args.positional()[0];
    } else if (auto sample = Bundle::mainBundle()->pathForResource("Resolutions", "xml")) {
        path = *sample;
    } else {
        std::fprintf(stderr, "orva catalogue: no FILE given and no sample catalogue in Resources/\n");
        return 2;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "orva catalogue: cannot read \"%s\"\n", path.c_str());
        return 1;
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    std::optional<XMLParseError> error;
    const Value root = SMXMLReader::dictionaryForXMLData(bytes.str(), &error);
    if (root.isNull()) {
        std::fprintf(stderr, "orva catalogue: \"%s\" is not a catalogue: %s\n", path.c_str(),
                     error ? error->description().c_str() : "the file is empty");
        return 1;
    }

    std::vector<uint32_t> products;
    if (pidText) {
        char* end = nullptr;
        const unsigned long pid = std::strtoul(pidText->c_str(), &end, 16);
        if (pidText->empty() || *end != 0 || pid > 0xFFFFFFFFul) {
            std::fprintf(stderr, "orva catalogue: --pid is a hexadecimal product id such as 0x08E4, not \"%s\"\n",
                         pidText->c_str());
            return 2;
        }
        products.push_back(static_cast<uint32_t>(pid));
    } else {
        Value cameras = root.get("Resolutions").get("Camera");
        if (cameras.isTable()) { // a catalogue of one camera
            Value one = Value::makeList();
            one.append(cameras);
            cameras = one;
        }
        for (size_t i = 0; i < cameras.count(); ++i)
            if (const Value pid = cameras.at(i).get("PID"); pid.number())
                products.push_back(static_cast<uint32_t>(pid.number()->integerValue()));
        if (products.empty()) {
            std::fprintf(stderr, "orva catalogue: \"%s\" lists no Camera with a PID\n", path.c_str());
            return 1;
        }
    }

    unsigned width = 0, height = 0;
    if (sizeText && (std::sscanf(sizeText->c_str(), "%ux%u", &width, &height) != 2 || !width || !height)) {
        std::fprintf(stderr, "orva catalogue: --size is WIDTHxHEIGHT, e.g. 1280x720, not \"%s\"\n", sizeText->c_str());
        return 2;
    }
    std::printf("catalogue %s\n", path.c_str());
    bool allYes = true;
    for (uint32_t pid : products) {
        SMResolutionInfo info(path, pid);
        if (!sizeText && !codec) {
            printTable(info);
            continue;
        }
        bool answer = false;
        std::string question;
        if (sizeText) {
            question = *sizeText + (interpolated ? " interpolated" : "");
            if (codec) {
                answer = info.isResolutionPresent(*codec, width, height, interpolated);
                question += " for " + *codec;
            } else {
                answer = !info.findResolution(pid, width, height, interpolated).isNull();
            }
        } else {
            answer = info.isCodecSupported(*codec);
            question = "codec " + *codec;
        }
        std::printf("product 0x%04X: %s: %s\n", pid, question.c_str(), answer ? "yes" : "no");
        std::fflush(stdout);
        allYes = allYes && answer;
    }
    return allYes ? 0 : 1;
}

} // namespace cli
