// orva record [--camera C] [--mic M] [--video avc1:1280x720] [--audio lpcm:48000:2:16|aac:48000:2|none]
//             [--seconds S] [-y] [--json] OUT.mov
// orva probe [--json] FILE.mov
// orva repair WORKING.mov OUT.mov [-y]
#include "Cli.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "UnplugWatch.h"

#include <orva/NotificationCenter.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include "platform/writer/MovieFinisher.h"
#include "platform/writer/MovieProbe.h"

#include <atomic>
#include <filesystem>
#include <cstdio>
#include <unistd.h>

using namespace orva;

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
        std::fprintf(err(), "orva record: a recording that did not finish (process %d) is at %s;\n"
                            "  orva repair %s OUT.mov makes a movie of it\n",
                     static_cast<int>(leftovers[i].process), leftovers[i].path.c_str(), leftovers[i].path.c_str());
    if (leftovers.size() > kShown)
        std::fprintf(err(), "orva record: and %zu more in %s\n", leftovers.size() - kShown,
                     FileManager::defaultManager().userTemporaryDirectory().c_str());
}

void writeTracks(JsonWriter& json, const MovieProbe::Summary& summary)
{
    json.key("tracks").beginArray();
    for (const auto& t : summary.tracks) {
        json.beginObject().field("kind", t.kind).field("codec", t.codec).field("tag", t.tag);
        if (t.kind == "video") json.field("width", t.width).field("height", t.height);
        if (t.kind == "audio") json.field("sample_rate", t.sampleRate).field("channels", t.channels);
        json.field("packets", t.packets).field("start", t.start).field("duration", t.duration);
        json.endObject();
    }
    json.endArray();
}

void writeSummary(JsonWriter& json, const std::string& path, const MovieProbe::Summary& summary)
{
    json.field("file", path)
        .field("format", summary.format)
        .field("bytes", summary.fileSize)
        .field("duration", summary.duration);
    writeTracks(json, summary);
}

} // namespace

int runRecord(Invocation& invocation)
{
    const std::string out = *invocation.operand(0);
    const std::string videoText = invocation.value("video").value_or("avc1:1280x720");
    const std::string audioText = invocation.value("audio").value_or("lpcm:48000:2:16");
    const auto seconds = invocation.seconds("seconds", 10);
    if (!seconds) return kExitUsage;
    const auto video = parseVideoFormat(videoText);
    if (!video || (video->codec != kCodecAVC1 && video->codec != kCodec2VUY))
        return invocation.fail(kExitUsage, "--video is avc1:WIDTHxHEIGHT or 2vuy:WIDTHxHEIGHT, not \"%s\"",
                               videoText.c_str());
    std::optional<AudioChoice> audio;
    if (audioText != "none" && !(audio = parseAudioFormat(audioText)))
        return invocation.fail(kExitUsage, "--audio is lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none, not \"%s\"",
                               audioText.c_str());
    if (!UnplugWatch::validOption(invocation)) return kExitUsage;
    // Everything is checked before anything is touched: the destination first.
    int status = kExitOk;
    const auto destination = OutputFile::check(invocation, out, status);
    if (!destination) return status;

    auto camera = openCamera(invocation, invocation.value("camera"));
    if (!camera) return kExitFailure;
    std::shared_ptr<OrvaAudioDevice> mic;
    auto closeDevices = [&] {
        (void)camera->stopCapture();
        camera->closeDevice();
        if (mic) mic->closeDevice();
    };
    const auto videoFormat = findVideoFormat(*camera, *video);
    if (!videoFormat) {
        closeDevices();
        return invocation.fail(kExitFailure, "%s has no format %s; see orva formats",
                               camera->deviceInfo()->nameText().c_str(), videoText.c_str());
    }
    camera->setFormat(videoFormat);
    if (audio) {
        mic = openMicrophone(invocation, invocation.value("mic"));
        if (!mic) {
            closeDevices();
            return kExitFailure;
        }
        auto audioFormat = findAudioFormat(*mic, *audio);
        if (!audioFormat) {
            closeDevices();
            return invocation.fail(kExitFailure, "%s has no format %s; see orva audio-formats",
                                   mic->deviceInfo()->nameText().c_str(), audioText.c_str());
        }
        mic->setFormat(audioFormat);
    }
    tellAboutLeftovers();

    auto frames = std::make_shared<Counter>(), buffers = std::make_shared<Counter>();
    camera->addDelegate(frames);
    if (mic) mic->addDelegate(buffers);
    auto session = OrvaRecordSession::create(camera, mic, *destination);
    session->setReplacesExistingFile(invocation.overwrite()); // only once the new movie is complete
    // A full disk (or another write failure) ends the recording early.
    std::atomic<int32_t> failure{0};
    const auto observer = NotificationCenter::defaultCenter().addObserver(KPXRecordingFailed, [&](const Notification& n) {
        const auto it = n.userInfo.find("status");
        if (it != n.userInfo.end()) failure = std::any_cast<int32_t>(it->second);
    });
    const int32_t started = session->startSession();
    if (started != 0) {
        NotificationCenter::defaultCenter().removeObserver(observer);
        camera->removeDelegate(frames);
        if (mic) mic->removeDelegate(buffers);
        closeDevices();
        return invocation.fail(kExitFailure, "the recording did not start (status %d: %s)", started,
                               OrvaStatusDescription(started));
    }
    std::fprintf(err(), "Recording %s%s%s from %s%s%s into %s for %g s. Ctrl-C stops (the movie is still finished).\n",
                 videoText.c_str(), audio ? " + " : "", audio ? audioText.c_str() : "",
                 camera->deviceInfo()->nameText().c_str(), mic ? " and " : "",
                 mic ? mic->deviceInfo()->nameText().c_str() : "", out.c_str(), *seconds);
    const auto working = session->workingPath();
    Progress progress(invocation);
    std::vector<std::shared_ptr<OrvaDeviceInfo>> used{camera->deviceInfo()};
    if (mic) used.push_back(mic->deviceInfo());
    UnplugWatch unplug(invocation, used);
    const bool wasInterrupted = runFor(*seconds, 0.25, [&](double elapsed) {
        std::error_code sizeError;
        const auto bytes = working ? std::filesystem::file_size(*working, sizeError) : 0;
        progress.show("  %5.1f s  %6lld video frames  %6lld audio buffers  %8.2f MB written  %llu dropped", elapsed,
                      static_cast<long long>(frames->count.load()), static_cast<long long>(buffers->count.load()),
                      sizeError ? 0.0 : static_cast<double>(bytes) / 1e6,
                      static_cast<unsigned long long>(session->droppedSamples()));
    }, [&] { return failure.load() != 0 || unplug.gone(); });
    progress.finish();
    const auto gone = unplug.gone();
    if (gone) std::fprintf(err(), "%s was unplugged.\n", gone->c_str());
    std::fprintf(err(), "Finishing the movie...\n");
    camera->removeDelegate(frames); // what was delivered while recording
    if (mic) mic->removeDelegate(buffers);
    (void)session->stopSession();
    NotificationCenter::defaultCenter().removeObserver(observer);
    closeDevices();

    const std::string kept = session->moviePath().value_or("");
    const bool placed = kept == *destination;
    if (const int32_t status = session->recordingStatus(); status != 0) {
        const auto keptSummary = MovieProbe::probe(kept);
        const double length = placed ? session->movieSeconds() : keptSummary ? keptSummary->duration : 0;
        if (status == kOrvaErrorDiskFull)
            return invocation.fail(kExitFailure, "disk full: movie kept up to %.1f s at %s", length, kept.c_str());
        return invocation.fail(kExitFailure, "the movie could not be written (%s): movie kept up to %.1f s at %s",
                               OrvaStatusDescription(status), length, kept.c_str());
    }
    if (!placed) {
        invocation.fail(kExitFailure, "the movie could not be put at \"%s\": %s", out.c_str(),
                        session->placementError().c_str());
        if (!kept.empty())
            std::fprintf(err(), "orva record: the complete movie is at %s (orva repair %s OUT.mov makes a regular "
                                "movie of it)\n", kept.c_str(), kept.c_str());
        return kExitFailure;
    }
    std::string error;
    const auto summary = MovieProbe::probe(*destination, &error);
    if (!summary) return invocation.fail(kExitFailure, "%s is not a readable movie: %s", out.c_str(), error.c_str());
    const uint64_t dropped = session->droppedSamples();
    if (invocation.json()) {
        JsonWriter json(cli::out());
        json.beginObject();
        writeSummary(json, out, *summary);
        json.field("video_frames_captured", frames->count.load())
            .field("audio_buffers_captured", buffers->count.load())
            .field("dropped", dropped)
            .field("interrupted", wasInterrupted)
            .field("unplugged", gone.has_value())
            .endObject();
    } else {
        std::fprintf(cli::out(), "%s: %s", out.c_str(), MovieProbe::describe(*summary).c_str());
        if (dropped)
            std::fprintf(cli::out(), "  %llu samples were dropped because the disk fell behind\n",
                         static_cast<unsigned long long>(dropped));
    }
    if (summary->tracks.empty()) return kExitFailure;
    if (gone)
        return invocation.fail(kExitFailure, "%s was unplugged: movie kept up to %.1f s at %s", gone->c_str(),
                               summary->duration, out.c_str());
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

int runProbe(Invocation& invocation)
{
    const std::string path = *invocation.operand(0);
    std::string error;
    const auto summary = MovieProbe::probe(path, &error);
    if (!summary) return invocation.fail(kExitFailure, "%s: %s", path.c_str(), error.c_str());
    if (invocation.json()) {
        JsonWriter json(out());
        json.beginObject();
        writeSummary(json, path, *summary);
        json.endObject();
    } else {
        std::fprintf(out(), "%s: %s", path.c_str(), MovieProbe::describe(*summary).c_str());
    }
    return kExitOk;
}

int runRepair(Invocation& invocation)
{
    const std::string in = *invocation.operand(0), out = *invocation.operand(1);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(in, ec)) return invocation.fail(kExitFailure, "%s is not a file", in.c_str());
    int status = kExitOk;
    const auto destination = OutputFile::check(invocation, out, status);
    if (!destination) return status;
    auto& files = FileManager::defaultManager();
    std::string temporary, error;
    const int fd = files.createFileBeside(*destination, &temporary, &error);
    if (fd < 0) return invocation.fail(kExitFailure, "%s", error.c_str());
    std::fprintf(err(), "Repairing %s...\n", in.c_str());
    const auto finished = MovieFinisher::finish(in, fd);
    if (!finished.ok) {
        ::close(fd);
        (void)files.removeItemAtPath(temporary);
        return invocation.fail(kExitFailure, "%s", finished.error.c_str());
    }
    if (!files.placeFile(fd, temporary, *destination, invocation.overwrite(), &error))
        return invocation.fail(kExitFailure, "%s", error.c_str());
    const auto summary = MovieProbe::probe(*destination, &error);
    if (!summary) return invocation.fail(kExitFailure, "%s is not a readable movie: %s", out.c_str(), error.c_str());
    std::fprintf(cli::out(), "%s: %s", out.c_str(), MovieProbe::describe(*summary).c_str());
    return kExitOk;
}

} // namespace cli
