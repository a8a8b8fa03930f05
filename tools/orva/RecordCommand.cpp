// orva record [--camera C] [--mic M] [--video avc1:1280x720] [--audio lpcm:48000:2:16|aac:48000:2|none]
//             [--seconds S] OUT.mov
// orva probe FILE.mov
// orva repair WORKING.mov OUT.mov [-y]
#include "Cli.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include "platform/writer/MovieFinisher.h"
#include "platform/writer/MovieProbe.h"
#include <orva/NotificationCenter.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace cli {

namespace {

// Counts what the devices deliver; it sits before the session in each delegate list.
class Counter : public OrvaAVDeviceDelegate {
public:
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
    std::atomic<int64_t> count{0};
};

// Working files that earlier runs left behind when they were killed or crashed.
void tellAboutLeftovers()
{
    const auto leftovers = FileManager::defaultManager().leftoverFiles();
    constexpr size_t kShown = 5;
    for (size_t i = 0; i < leftovers.size() && i < kShown; ++i)
        std::fprintf(stderr, "orva record: a recording that did not finish (process %d) is at %s;\n"
                             "  orva repair %s OUT.mov makes a movie of it\n",
                     static_cast<int>(leftovers[i].process), leftovers[i].path.c_str(), leftovers[i].path.c_str());
    if (leftovers.size() > kShown)
        std::fprintf(stderr, "orva record: and %zu more in %s\n", leftovers.size() - kShown,
                     FileManager::defaultManager().userTemporaryDirectory().c_str());
}

// The length of the movie at `path` in seconds; 0 when it cannot be read.
double movieLength(const std::string& path)
{
    const auto summary = MovieProbe::probe(path);
    return summary ? summary->duration : 0;
}

} // namespace

int runRecord(Args& args)
{
    const auto cameraChoice = args.option("camera");
    const auto micChoice = args.option("mic");
    const std::string videoText = args.option("video").value_or("avc1:1280x720");
    const std::string audioText = args.option("audio").value_or("lpcm:48000:2:16");
    const auto secondsText = args.option("seconds");
    if (!checkArgs("record", args, 1)) return 2;
    if (args.positional().empty()) {
        std::fprintf(stderr, "orva record: say where the movie goes, e.g. orva record --seconds 5 clip.mov\n");
        return 2;
    }
    const std::string out = args.positional()[0];
    double seconds = 10;
    if (!readSeconds("record", "seconds", secondsText, seconds)) return 2;
    uint32_t code = 0;
    int32_t width = 0, height = 0;
    if (!parseVideoFormat(videoText, code, width, height) || (code != kCodecAVC1 && code != kCodec2VUY)) {
        std::fprintf(stderr, "orva record: --video is avc1:WIDTHxHEIGHT or 2vuy:WIDTHxHEIGHT, not \"%s\"\n",
                     videoText.c_str());
        return 2;
    }
    std::optional<AudioChoice> audio;
    if (audioText != "none") {
        audio = parseAudioFormat(audioText);
        if (!audio) {
            std::fprintf(stderr, "orva record: --audio is lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none, not \"%s\"\n",
                         audioText.c_str());
            return 2;
        }
    }
    // The movie is written in the temporary folder and moved here at the end: check
    // the destination now rather than after the recording.
    const fs::path destination = fs::absolute(out);
    std::error_code ec;
    if (!fs::is_directory(destination.parent_path(), ec)) {
        std::fprintf(stderr, "orva record: the folder \"%s\" does not exist\n", destination.parent_path().c_str());
        return 1;
    }
    if (::access(destination.parent_path().c_str(), W_OK) != 0) {
        std::fprintf(stderr, "orva record: cannot write into \"%s\": %s\n", destination.parent_path().c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (fs::exists(destination, ec)) {
        if (fs::is_directory(destination, ec)) {
            std::fprintf(stderr, "orva record: \"%s\" is a folder; give a file name such as clip.mov\n", out.c_str());
            return 1;
        }
        std::printf("Replacing %s\n", out.c_str());
    }
    tellAboutLeftovers();

    auto camera = openCamera("record", cameraChoice);
    if (!camera) return 1;
    std::shared_ptr<const FormatDescription> videoFormat;
    if (auto formats = camera->getSupportedFormats())
        for (const auto& f : *formats) {
            auto v = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
            if (v && v->mediaSubType() == code && v->dimensions() == VideoDimensions{width, height}) videoFormat = f;
        }
    if (!videoFormat) {
        std::fprintf(stderr, "orva record: %s has no format %s; see orva formats\n",
                     camera->deviceInfo()->nameText().c_str(), videoText.c_str());
        return 1;
    }
    camera->setFormat(videoFormat);
    std::shared_ptr<OrvaAudioDevice> mic;
    if (audio) {
        mic = openMicrophone("record", micChoice);
        if (!mic) return 1;
        auto audioFormat = findAudioFormat(*mic, *audio);
        if (!audioFormat) {
            std::fprintf(stderr, "orva record: %s has no format %s; see orva audio-formats\n",
                         mic->deviceInfo()->nameText().c_str(), audioText.c_str());
            return 1;
        }
        mic->setFormat(audioFormat);
    }

    auto frames = std::make_shared<Counter>(), buffers = std::make_shared<Counter>();
    camera->addDelegate(frames);
    if (mic) mic->addDelegate(buffers);
    auto session = OrvaRecordSession::create(camera, mic, destination.string());
    session->setReplacesExistingFile(true); // only once the new movie is complete
    // A full disk (or another write failure) ends the recording early.
    std::atomic<int32_t> failure{0};
    const auto observer = NotificationCenter::defaultCenter().addObserver(
        KPXRecordingFailed, [&](const Notification& n) {
            const auto it = n.userInfo.find("status");
            if (it != n.userInfo.end()) failure = std::any_cast<int32_t>(it->second);
        });
    const int32_t started = session->startSession();
    if (started != 0) {
        NotificationCenter::defaultCenter().removeObserver(observer);
        std::fprintf(stderr, "orva record: the recording did not start (status %d)\n", started);
        (void)camera->stopCapture();
        camera->closeDevice();
        if (mic) mic->closeDevice();
        return 1;
    }
    std::printf("Recording %s%s%s from %s%s%s into %s for %.1f s. Ctrl-C stops (the movie is still finished).\n",
                videoText.c_str(), audio ? " + " : "", audio ? audioText.c_str() : "",
                camera->deviceInfo()->nameText().c_str(), mic ? " and " : "", mic ? mic->deviceInfo()->nameText().c_str() : "",
                out.c_str(), seconds);
    const auto working = session->workingPath();
    runFor(seconds, 0.25, [&](double elapsed) {
        std::error_code sizeError;
        const auto bytes = working ? fs::file_size(*working, sizeError) : 0;
        std::printf("\r  %5.1f s  %6lld video frames  %6lld audio buffers  %8.2f MB written  %llu dropped", elapsed,
                    static_cast<long long>(frames->count.load()), static_cast<long long>(buffers->count.load()),
                    sizeError ? 0.0 : bytes / 1e6, static_cast<unsigned long long>(session->droppedSamples()));
        std::fflush(stdout);
    }, [&] { return failure.load() != 0; });
    std::printf("\nFinishing the movie...\n");
    std::fflush(stdout);
    (void)session->stopSession();
    NotificationCenter::defaultCenter().removeObserver(observer);
    camera->removeDelegate(frames);
    if (mic) mic->removeDelegate(buffers);
    (void)camera->stopCapture();
    camera->closeDevice();
    if (mic) mic->closeDevice();

    const std::string kept = session->moviePath().value_or("");
    const bool placed = kept == destination.string();
    if (const int32_t status = session->recordingStatus(); status != 0) {
        const double length = placed ? session->movieSeconds() : movieLength(kept);
        if (status == kOrvaErrorDiskFull)
            std::fprintf(stderr, "orva record: disk full: movie kept up to %.1f s at %s\n", length, kept.c_str());
        else
            std::fprintf(stderr, "orva record: the movie could not be written (%s): movie kept up to %.1f s at %s\n",
                         OrvaStatusDescription(status), length, kept.c_str());
        return 1;
    }
    if (!placed) {
        std::fprintf(stderr, "orva record: the movie could not be put at \"%s\": %s\n", out.c_str(),
                     session->placementError().c_str());
        if (!kept.empty())
            std::fprintf(stderr, "orva record: the complete movie is at %s (orva repair %s OUT.mov makes a regular "
                                 "movie of it)\n", kept.c_str(), kept.c_str());
        return 1;
    }
    std::string error;
    const auto summary = MovieProbe::probe(destination.string(), &error);
    if (!summary) {
        std::fprintf(stderr, "orva record: %s is not a readable movie: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    std::printf("%s: %s", out.c_str(), MovieProbe::describe(*summary).c_str());
    if (session->droppedSamples())
        std::printf("  %llu samples were dropped because the disk fell behind\n",
                    static_cast<unsigned long long>(session->droppedSamples()));
    return summary->tracks.empty() ? 1 : 0;
}

int runProbe(Args& args)
{
    if (!checkArgs("probe", args, 1)) return 2;
    if (args.positional().empty()) {
        std::fprintf(stderr, "orva probe: give a movie file\n");
        return 2;
    }
    const std::string path = args.positional()[0];
    std::string error;
    const auto summary = MovieProbe::probe(path, &error);
    if (!summary) {
        std::fprintf(stderr, "orva probe: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::printf("%s: %s", path.c_str(), MovieProbe::describe(*summary).c_str());
    return 0;
}

int runRepair(Args& args)
{
    const bool replace = args.flag("overwrite", "y");
    if (!checkArgs("repair", args, 2)) return 2;
    if (args.positional().size() != 2) {
        std::fprintf(stderr, "orva repair: give the working file and the movie to write, e.g.\n"
                             "  orva repair /tmp/orva-1000/4242/clip.mov clip.mov\n");
        return 2;
    }
    const std::string in = args.positional()[0], out = args.positional()[1];
    std::error_code ec;
    if (!fs::is_regular_file(in, ec)) {
        std::fprintf(stderr, "orva repair: %s is not a file\n", in.c_str());
        return 1;
    }
    if (fs::exists(fs::symlink_status(out, ec))) {
        if (!fs::is_regular_file(fs::symlink_status(out, ec))) {
            std::fprintf(stderr, "orva repair: %s is not a regular file; give another name\n", out.c_str());
            return 1;
        }
        if (!replace) {
            std::fprintf(stderr, "orva repair: %s exists; add -y to replace it\n", out.c_str());
            return 1;
        }
    }
    const std::string destination = fs::absolute(out).string();
    auto& files = FileManager::defaultManager();
    std::string temporary, error;
    const int fd = files.createFileBeside(destination, &temporary, &error);
    if (fd < 0) {
        std::fprintf(stderr, "orva repair: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "Repairing %s...\n", in.c_str());
    const auto finished = MovieFinisher::finish(in, fd);
    if (!finished.ok) {
        ::close(fd);
        (void)files.removeItemAtPath(temporary);
        std::fprintf(stderr, "orva repair: %s\n", finished.error.c_str());
        return 1;
    }
    if (!files.placeFile(fd, temporary, destination, replace, &error)) {
        std::fprintf(stderr, "orva repair: %s\n", error.c_str());
        return 1;
    }
    const auto summary = MovieProbe::probe(destination, &error);
    if (!summary) {
        std::fprintf(stderr, "orva repair: %s is not a readable movie: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    std::printf("%s: %s", out.c_str(), MovieProbe::describe(*summary).c_str());
    return 0;
}

} // namespace cli
