// orva capture [--camera C] [--format avc1:1280x720] [--seconds N] [--out FILE] [-y]
#include "Cli.h"
#include "CaptureOptions.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "Commands.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "UnplugWatch.h"

#include <orva/OrvaRecordSession.h>
#include <orva/OrvaVideoDevice.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

using namespace orva;

namespace cli {

namespace {

// Takes the frames captured in the first `seconds` (by their capture times) and
// counts them; writes them to the file when there is one. Capture thread.
class FrameSink : public OrvaAVDeviceDelegate {
public:
    FrameSink(FILE* out, double seconds) : mOut(out), mSpan(static_cast<int64_t>(seconds * 1e6)) {}
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        if (mFrames.load() == 0) mFirst = mLast = timestamp;
        // A frame belongs when it starts before the end, counting half a frame period
        // (so capture jitter does not add or lose one at the end).
        if (timestamp - mFirst.load() + (timestamp - mLast.load()) / 2 >= mSpan) {
            mDone = true;
            return;
        }
        mLast = timestamp;
        mFrames++;
        mBytes += length;
        if (mOut && length && !mPipeClosed && std::fwrite(frame, 1, length, mOut) != length) {
            // A pipe's reader that stops reading ends the capture, as it ends cat.
            if (errno == EPIPE) mPipeClosed = mDone = true;
            else mWriteFailed = true;
        }
    }
    double fps() const
    {
        const double span = (mLast.load() - mFirst.load()) / 1e6;
        return span > 0 ? (mFrames.load() - 1) / span : 0.0;
    }
    std::atomic<int64_t> mFrames{0}, mBytes{0}, mFirst{0}, mLast{0};
    std::atomic<bool> mWriteFailed{false}, mDone{false}, mPipeClosed{false};

private:
    FILE* mOut;
    int64_t mSpan;
};

bool endsWith(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

} // namespace

int runCapture(Invocation& invocation)
{
    const std::string formatText = invocation.value("format").value_or("avc1:1280x720");
    const auto format = videoChoice(invocation, "format", "avc1:1280x720");
    if (!format) return kExitUsage;
    int status = kExitOk;
    const auto options = CaptureOptions::read(invocation, status);
    if (!options) return status;
    const auto& destination = options->destination;
    const auto& outPath = options->outPath;
    const bool movie = destination && endsWith(*destination, ".mov");
    FILE* const results = options->results(); // the frames may have standard output

    DeviceUse camera(openCamera(invocation, invocation.value("camera")));
    if (!camera) return kExitFailure;
    const auto chosen = chooseVideoFormat(invocation, *camera, *format);
    if (!chosen) return kExitFailure;
    camera->setFormat(chosen);

    std::optional<OutputFile> file;
    if (destination && !movie) {
        file.emplace(invocation, *destination);
        if (!file->open()) return kExitFailure;
    }
    auto sink = std::make_shared<FrameSink>(file ? file->stream() : nullptr, options->seconds);
    camera.addDelegate(sink); // before the session: it sees every frame the session gets
    std::shared_ptr<OrvaRecordSession> session;
    int32_t started = 0;
    if (movie) {
        session = OrvaRecordSession::create(camera.get(), nullptr, *destination);
        session->setReplacesExistingFile(invocation.overwrite());
        started = session->startSession();
    } else {
        started = camera->startCapture();
    }
    if (started != 0) return invocation.fail(kExitFailure, "%s", startFailure(*camera, started).c_str());
    const uint32_t interval = camera->captureFrameInterval();
    std::fprintf(err(), "Capturing %s at %s fps from %s for %g s%s. Ctrl-C stops.\n", formatText.c_str(),
                 rateText(interval).c_str(), camera->deviceInfo()->nameText().c_str(), options->seconds,
                 options->into().c_str());
    Progress progress(invocation);
    UnplugWatch unplug(invocation, {camera->deviceInfo()});
    // A second more than asked, for a camera slow to start; the frames' own times end it.
    const bool wasInterrupted = runFor(options->seconds + 1, 0.25, [&](double elapsed) {
        progress.show("  %5.1f s  %6lld frames  %5.1f fps  %8.2f MB", elapsed,
                      static_cast<long long>(sink->mFrames.load()), sink->fps(), sink->mBytes.load() / 1e6);
    }, [&] { return sink->mDone.load() || unplug.gone(); });
    progress.finish();
    if (session) (void)session->stopSession();
    const int32_t stopped = camera->stopCapture();

    const int64_t frames = sink->mFrames.load();
    if (sink->mWriteFailed) return invocation.fail(kExitFailure, "writing \"%s\" failed (disk full?)", outPath->c_str());
    if (file && !file->commit()) return kExitFailure;
    if (session && session->moviePath() != destination)
        return invocation.fail(kExitFailure, "the movie could not be put at \"%s\": %s", outPath->c_str(),
                               session->placementError().c_str());
    const char* kept = movie ? "; QuickTime movie in " : format->codec == kCodecAVC1 ? "; H.264 stream in " : "; raw frames in ";
    const std::string where = options->where();
    if (invocation.json()) {
        const auto [numerator, denominator] = rateFraction(interval);
        JsonWriter json(results);
        json.beginObject()
            .field("device", camera->deviceInfo()->nameText())
            .field("format", fourccText(format->codec) + ":" + std::to_string(format->width) + "x" +
                                 std::to_string(format->height))
            .field("fps", rateRounded(interval))
            .field("fps_numerator", numerator)
            .field("fps_denominator", denominator)
            .field("frames", frames)
            .field("bytes", sink->mBytes.load())
            .field("measured_fps", sink->fps());
        json.key("file");
        destination ? json.value(where) : json.null();
        json.field("kind", movie ? "movie" : format->codec == kCodecAVC1 ? "h264" : "2vuy")
            .field("interrupted", wasInterrupted)
            .field("unplugged", unplug.gone().has_value())
            .endObject();
    } else {
        std::fprintf(results, "Captured %lld frames, %.2f MB, %.1f fps%s%s\n", static_cast<long long>(frames),
                     sink->mBytes.load() / 1e6, sink->fps(), destination ? kept : "", where.c_str());
    }
    if (sink->mPipeClosed) std::fprintf(err(), "orva capture: the reader closed the pipe; the capture ended there\n");
    if (const auto gone = unplug.gone())
        return invocation.fail(kExitFailure, "%s was unplugged; what it sent before is kept", gone->c_str());
    if (frames == 0) return invocation.fail(kExitFailure, "no frame came from the camera");
    if (stopped != 0) return invocation.fail(kExitFailure, "the camera did not stop cleanly (status %d)", stopped);
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

} // namespace cli
