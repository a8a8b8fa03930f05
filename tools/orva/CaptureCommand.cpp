// orva capture [--camera C] [--format avc1:1280x720] [--seconds N] [--out FILE]
#include "Cli.h"

#include <orva/OrvaVideoDevice.h>

#include <atomic>
#include <cstdio>
#include <cerrno>
#include <cstring>

using namespace orva;

namespace cli {

namespace {

// Counts frames and bytes on the capture thread and writes them to the file as they come.
class FrameSink : public OrvaAVDeviceDelegate {
public:
    explicit FrameSink(FILE* out) : mOut(out) {}
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        if (mFrames.load() == 0) mFirst = timestamp;
        mLast = timestamp;
        mFrames++;
        mBytes += length;
        if (mOut && length && std::fwrite(frame, 1, length, mOut) != length) mWriteFailed = true;
    }
    std::atomic<int64_t> mFrames{0}, mBytes{0}, mFirst{0}, mLast{0};
    std::atomic<bool> mWriteFailed{false};

private:
    FILE* mOut;
};

} // namespace

int runCapture(Args& args)
{
    const auto cameraChoice = args.option("camera");
    const std::string formatText = args.option("format").value_or("avc1:1280x720");
    const auto secondsText = args.option("seconds");
    const auto outPath = args.option("out");
    if (!checkArgs("capture", args, 0)) return 2;
    double seconds = 5;
    if (!readSeconds("capture", "seconds", secondsText, seconds)) return 2;
    uint32_t code = 0;
    int32_t width = 0, height = 0;
    if (!parseVideoFormat(formatText, code, width, height)) {
        std::fprintf(stderr, "orva capture: --format is CODEC:WIDTHxHEIGHT, e.g. avc1:1280x720, not \"%s\"\n",
                     formatText.c_str());
        return 2;
    }
    auto camera = openCamera("capture", cameraChoice);
    if (!camera) return 1;
    std::shared_ptr<const FormatDescription> chosen;
    const auto formats = camera->getSupportedFormats();
    for (const auto& f : *formats) {
        auto v = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
        if (v && v->mediaSubType() == code && v->dimensions() == VideoDimensions{width, height}) chosen = f;
    }
    if (!chosen) {
        std::fprintf(stderr, "orva capture: %s has no format %s; see orva formats\n",
                     camera->deviceInfo()->nameText().c_str(), formatText.c_str());
        return 1;
    }
    FILE* out = nullptr;
    if (outPath) {
        out = std::fopen(outPath->c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "orva capture: cannot create \"%s\": %s\n", outPath->c_str(), std::strerror(errno));
            return 1;
        }
    }
    camera->setFormat(chosen);
    auto sink = std::make_shared<FrameSink>(out);
    camera->addDelegate(sink);
    const int32_t started = camera->startCapture();
    if (started != 0) {
        std::fprintf(stderr, "orva capture: the camera did not start (status %d%s)\n", started,
                     started == 6 ? ": it is in use" : "");
        if (out) std::fclose(out);
        return 1;
    }
    std::printf("Capturing %s from %s for %.1f s%s%s. Ctrl-C stops.\n", formatText.c_str(),
                camera->deviceInfo()->nameText().c_str(), seconds, out ? " into " : "", out ? outPath->c_str() : "");
    runFor(seconds, 0.25, [&](double elapsed) {
        const int64_t frames = sink->mFrames.load();
        const double span = (sink->mLast.load() - sink->mFirst.load()) / 1e6;
        std::printf("\r  %5.1f s  %6lld frames  %5.1f fps  %8.2f MB", elapsed, static_cast<long long>(frames),
                    span > 0 ? (frames - 1) / span : 0.0, sink->mBytes.load() / 1e6);
        std::fflush(stdout);
    });
    const int32_t stopped = camera->stopCapture();
    camera->removeDelegate(sink);
    camera->closeDevice();
    if (out) std::fclose(out);
    const int64_t frames = sink->mFrames.load();
    const double span = (sink->mLast.load() - sink->mFirst.load()) / 1e6;
    std::printf("\nCaptured %lld frames, %.2f MB, %.1f fps%s%s\n", static_cast<long long>(frames),
                sink->mBytes.load() / 1e6, span > 0 ? (frames - 1) / span : 0.0, out ? "; raw stream in " : "",
                out ? outPath->c_str() : "");
    if (sink->mWriteFailed) {
        std::fprintf(stderr, "orva capture: writing \"%s\" failed (disk full?)\n", outPath->c_str());
        return 1;
    }
    return stopped == 0 && frames > 0 ? 0 : 1;
}

} // namespace cli
