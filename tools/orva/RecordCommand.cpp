// orva record [--camera C] [--mic M] [--video avc1:1280x720] [--audio lpcm:48000:2:16|aac:48000:2|none]
//             [--seconds S] [-y] [--json] OUT.mov
// orva probe [--json] FILE.mov
// orva repair WORKING [OUT.mov] [-y] [--json]
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "Commands.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "ShareReport.h"
#include "UnplugWatch.h"

#include <orva/NotificationCenter.h>
#include <orva/OrvaCameraShare.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/FileManager.h"
#include "platform/writer/MovieFinisher.h"
#include "platform/writer/MovieProbe.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

using namespace orva;

namespace cli {

namespace {

// Counts what the devices deliver; it sits before the session in each delegate list.
class Counter : public OrvaAVDeviceDelegate {
public:
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
    std::atomic<int64_t> count{0};
};

// A track's losses, when a recording's figures are known.
void writeTracks(JsonWriter& json, const MovieProbe::Summary& summary, const OrvaMovieStats* stats)
{
    json.key("tracks").beginArray();
    for (const auto& t : summary.tracks) {
        json.beginObject().field("kind", t.kind).field("codec", t.codec).field("tag", t.tag);
        if (t.kind == "video") json.field("width", t.width).field("height", t.height);
        if (t.kind == "audio") json.field("sample_rate", t.sampleRate).field("channels", t.channels);
        json.field("packets", t.packets).field("start", t.start).field("duration", t.duration);
        if (stats && t.kind == "video") json.field("dropped", stats->videoDropped);
        if (stats && t.kind == "audio")
            json.field("dropped", stats->audioDropped).field("silence_seconds", stats->audioSilenceSeconds);
        json.endObject();
    }
    json.endArray();
}

void writeSummary(JsonWriter& json, const std::string& path, const MovieProbe::Summary& summary,
                  const OrvaMovieStats* stats = nullptr)
{
    json.field("file", path)
        .field("format", summary.format)
        .field("bytes", summary.fileSize)
        .field("duration", summary.duration);
    writeTracks(json, summary, stats);
}

// What was lost, per track, as a person reads it; nothing when nothing was.
void describeLosses(const OrvaMovieStats& stats)
{
    if (stats.videoDropped)
        std::fprintf(cli::out(), "  %llu video frames were lost on the way\n",
                     static_cast<unsigned long long>(stats.videoDropped));
    if (stats.audioDropped || stats.audioSilenceSeconds > 0)
        std::fprintf(cli::out(), "  %llu audio buffers were lost on the way; %.2f s of silence stands in for sound "
                                 "that did not come\n",
                     static_cast<unsigned long long>(stats.audioDropped), stats.audioSilenceSeconds);
}


// What a record command line asks for, every part checked before a device is touched.
struct RecordRequest {
    std::string out;
    std::string videoText, audioText;
    double seconds = 10;
    VideoChoice video;
    std::optional<AudioChoice> audio; // none: a movie without sound
    std::string destination;
};

std::optional<RecordRequest> readRequest(Invocation& invocation, int& status)
{
    RecordRequest request;
    request.out = *invocation.operand(0);
    request.videoText = invocation.value("video").value_or("avc1:1280x720");
    request.audioText = invocation.value("audio").value_or("lpcm:48000:2:16");
    status = kExitUsage;
    const auto seconds = invocation.seconds("seconds", 10);
    if (!seconds) return std::nullopt;
    request.seconds = *seconds;
    const auto video = videoChoice(invocation, "video", "avc1:1280x720");
    if (!video) return std::nullopt;
    if (video->codec != kCodecAVC1 && video->codec != kCodec2VUY) {
        invocation.fail(kExitUsage, "--video is avc1:WIDTHxHEIGHT[@FPS] or 2vuy:WIDTHxHEIGHT[@FPS], not \"%s\"",
                        request.videoText.c_str());
        return std::nullopt;
    }
    request.video = *video;
    if (request.audioText != "none" && !(request.audio = parseAudioFormat(request.audioText))) {
        invocation.fail(kExitUsage, "--audio is lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none, not \"%s\"",
                        request.audioText.c_str());
        return std::nullopt;
    }
    if (!UnplugWatch::validOption(invocation)) return std::nullopt;
    // The destination last, as it may look at the file system.
    if (OutputFile::isStandardOutput(request.out)) {
        invocation.fail(kExitUsage, "a movie cannot go to a pipe: it is finished by writing its index after the "
                                    "samples, which needs a seekable file; give a file name (orva capture --out - "
                                    "writes a raw stream)");
        return std::nullopt;
    }
    status = kExitOk;
    const auto destination = OutputFile::check(invocation, request.out, status);
    if (!destination) return std::nullopt;
    request.destination = *destination;
    return request;
}

// Why a session did not start, as the command says it.
int startFailed(Invocation& invocation, OrvaRecordSession& session, int32_t started, const OrvaVideoDevice& camera,
                const OrvaAudioDevice* mic)
{
    if (started == kOrvaErrorCannotCreateFile || started == kOrvaErrorDiskFull)
        return invocation.fail(kExitFailure, "the recording did not start: %s", session.placementError().c_str());
    if (mic && started == kOrvaErrorMicrophoneBusy)
        return invocation.fail(kExitFailure, "the recording did not start: %s", startFailure(*mic, started).c_str());
    return invocation.fail(kExitFailure, "the recording did not start: %s", startFailure(camera, started).c_str());
}

// Runs the recording until its time is up, the user interrupts, the writer fails or
// a device leaves, showing progress and saying when the microphone falls silent.
// Answers whether it was interrupted.
bool runRecording(Invocation& invocation, const RecordRequest& request, OrvaRecordSession& session,
                  const Counter& frames, const Counter& buffers, const OrvaAudioDevice* mic,
                  const std::atomic<int32_t>& failure, const UnplugWatch& unplug, ShareReport* share)
{
    const auto working = session.workingPath();
    Progress progress(invocation);
    bool silent = false; // the microphone's silence was said
    const bool wasInterrupted = runFor(request.seconds, 0.25, [&](double elapsed) {
        std::error_code sizeError;
        const auto bytes = working ? std::filesystem::file_size(*working, sizeError) : 0;
        const auto stats = session.movieStats();
        progress.show("  %5.1f s  %6lld video frames  %6lld audio buffers  %8.2f MB written  %llu dropped", elapsed,
                      static_cast<long long>(frames.count.load()), static_cast<long long>(buffers.count.load()),
                      sizeError ? 0.0 : static_cast<double>(bytes) / 1e6,
                      static_cast<unsigned long long>(stats.videoDropped + stats.audioDropped));
        if (share) share->tick();
        const double quiet = session.secondsWithoutSound();
        if (mic && quiet >= 1.0 && !silent) {
            progress.finish();
            std::fprintf(err(), "orva record: warning: no sound from %s since %.0f s; silence is recorded in its "
                                "place\n", mic->deviceInfo()->nameText().c_str(), quiet);
            silent = true;
        } else if (silent && quiet < 1.0) {
            progress.finish();
            std::fprintf(err(), "orva record: the sound from %s is back\n", mic->deviceInfo()->nameText().c_str());
            silent = false;
        }
    }, [&] { return failure.load() != 0 || unplug.gone(); });
    // A recording shorter than a frame still holds the first one: it is waited for
    // (five seconds at most, for a camera slow to start).
    if (!wasInterrupted && frames.count.load() == 0 && failure.load() == 0 && !unplug.gone())
        return runFor(5, 0.25, [](double) {}, [&] { return frames.count.load() > 0 || unplug.gone(); });
    return wasInterrupted;
}

// The finished recording as the command reports it: where the movie is, what it
// holds and what was lost, or why it is not where it was asked to be.
int report(Invocation& invocation, const RecordRequest& request, OrvaRecordSession& session, const Counter& frames,
           const Counter& buffers, bool interrupted, const std::optional<std::string>& gone,
           const OrvaCameraShare* share)
{
    const auto stats = session.movieStats();
    if (stats.nothingRecorded && session.recordingStatus() == kOrvaErrorDiskFull)
        return invocation.fail(kExitFailure, "disk full: nothing could be kept (the first second did not fit)");
    if (stats.nothingRecorded)
        return invocation.fail(kExitFailure, "nothing was recorded: no frame arrived in %.1f s",
                               std::max(request.seconds, 5.0));
    const std::string kept = session.moviePath().value_or("");
    const char* repairHint = stats.finished ? "" : " (a working movie: orva repair makes a movie of it)";
    if (const int32_t status = session.recordingStatus(); status != 0) {
        if (stats.stoppedForSpace)
            return invocation.fail(kExitFailure, "the disk is almost full (less than a minute of room left): the "
                                                 "recording ended; movie kept up to %.1f s at %s%s",
                                   stats.seconds, kept.c_str(), repairHint);
        if (status == kOrvaErrorDiskFull)
            return invocation.fail(kExitFailure, "disk full: movie kept up to %.1f s at %s%s", stats.seconds,
                                   kept.c_str(), repairHint);
        return invocation.fail(kExitFailure, "the movie could not be written (%s): movie kept up to %.1f s at %s%s",
                               OrvaStatusDescription(status), stats.seconds, kept.c_str(), repairHint);
    }
    if (kept != request.destination) {
        invocation.fail(kExitFailure, "the movie could not be put at \"%s\": %s", request.out.c_str(),
                        session.placementError().c_str());
        if (!kept.empty()) std::fprintf(err(), "orva record: the movie is at %s%s\n", kept.c_str(), repairHint);
        return kExitFailure;
    }
    std::string error;
    const auto summary = MovieProbe::probe(request.destination, &error);
    if (!summary)
        return invocation.fail(kExitFailure, "%s is not a readable movie: %s", request.out.c_str(), error.c_str());
    if (invocation.json()) {
        JsonWriter json(cli::out());
        json.beginObject();
        writeSummary(json, request.out, *summary, &stats);
        json.field("video_frames_captured", frames.count.load())
            .field("audio_buffers_captured", buffers.count.load())
            .field("dropped", stats.videoDropped + stats.audioDropped)
            .field("interrupted", interrupted)
            .field("unplugged", gone.has_value());
        json.key("shared");
        if (share)
            json.beginObject()
                .field("frames_shared", static_cast<int64_t>(share->framesShared()))
                .field("frames_dropped", static_cast<int64_t>(share->framesDropped()))
                .endObject();
        else
            json.null();
        json.endObject();
    } else {
        std::fprintf(cli::out(), "%s: %s", request.out.c_str(), MovieProbe::describe(*summary).c_str());
        describeLosses(stats);
        if (share)
            std::fprintf(cli::out(), "  shared %llu frames with other applications; %llu dropped for consumers that "
                                     "did not keep up\n",
                         static_cast<unsigned long long>(share->framesShared()),
                         static_cast<unsigned long long>(share->framesDropped()));
    }
    if (summary->tracks.empty()) return kExitFailure;
    if (gone)
        return invocation.fail(kExitFailure, "%s was unplugged: movie kept up to %.1f s at %s", gone->c_str(),
                               summary->duration, request.out.c_str());
    return interrupted ? kExitInterrupted : kExitOk;
}

} // namespace

int runRecord(Invocation& invocation)
{
    int status = kExitOk;
    const auto request = readRequest(invocation, status);
    if (!request) return status;

    DeviceUse camera(openCamera(invocation, invocation.value("camera")));
    if (!camera) return kExitFailure;
    const auto videoFormat = chooseVideoFormat(invocation, *camera, request->video);
    if (!videoFormat) return kExitFailure;
    camera->setFormat(videoFormat);
    DeviceUse mic(request->audio ? openMicrophone(invocation, invocation.value("mic")) : nullptr);
    if (request->audio && !mic) return kExitFailure;
    if (mic) {
        auto audioFormat = findAudioFormat(*mic, *request->audio);
        if (!audioFormat)
            return invocation.fail(kExitFailure, "%s has no format %s; see orva audio-formats",
                                   mic->deviceInfo()->nameText().c_str(), request->audioText.c_str());
        mic->setFormat(audioFormat);
    }
    OutputFile::tellAboutLeftovers(request->destination);

    auto frames = std::make_shared<Counter>(), buffers = std::make_shared<Counter>();
    camera.addDelegate(frames); // before the session: they count what it is given
    if (mic) mic.addDelegate(buffers);
    auto session = OrvaRecordSession::create(camera.get(), mic.get(), request->destination);
    session->setReplacesExistingFile(invocation.overwrite()); // only once the new movie is complete
    // A full disk (or another write failure) ends the recording early.
    std::atomic<int32_t> failure{0};
    const auto observer = NotificationCenter::defaultCenter().addObserver(KPXRecordingFailed, [&](const Notification& n) {
        const auto it = n.userInfo.find("status");
        if (it != n.userInfo.end()) failure = std::any_cast<int32_t>(it->second);
    });
    if (const int32_t started = session->startSession(); started != 0) {
        NotificationCenter::defaultCenter().removeObserver(observer);
        return startFailed(invocation, *session, started, *camera, mic.get().get());
    }
    std::fprintf(err(), "Recording %s%s%s from %s%s%s into %s for %g s. Ctrl-C stops (the movie is still finished).\n",
                 request->videoText.c_str(), mic ? " + " : "", mic ? request->audioText.c_str() : "",
                 camera->deviceInfo()->nameText().c_str(), mic ? " and " : "",
                 mic ? mic->deviceInfo()->nameText().c_str() : "", request->out.c_str(), request->seconds);
    // Shared while recording, when asked and PipeWire is there; the recording does
    // not depend on it.
    std::shared_ptr<OrvaCameraShare> share;
    std::optional<ShareReport> shareReport;
    if (invocation.flag("share")) {
        share = OrvaCameraShare::create(camera.get());
        if (share->startSharing() == kOrvaOK) {
            std::fprintf(err(), "Sharing it as PipeWire node %u \"%s\" while recording.\n", share->nodeID(),
                         share->nodeName().c_str());
            shareReport.emplace(invocation, *share);
        } else {
            std::fprintf(err(), "orva record: not sharing the camera (%s); recording without sharing\n",
                         share->failure().c_str());
            share.reset();
        }
    }
    std::vector<std::shared_ptr<OrvaDeviceInfo>> used{camera->deviceInfo()};
    if (mic) used.push_back(mic->deviceInfo());
    UnplugWatch unplug(invocation, used);
    const bool interrupted = runRecording(invocation, *request, *session, *frames, *buffers, mic.get().get(), failure,
                                          unplug, shareReport ? &*shareReport : nullptr);
    if (share) share->stopSharing();
    const auto gone = unplug.gone();
    if (gone) std::fprintf(err(), "%s was unplugged.\n", gone->c_str());
    std::fprintf(err(), "Finishing the movie...\n");
    camera.removeDelegates(); // the counts are of what was delivered while recording
    if (mic) mic.removeDelegates();
    (void)session->stopSession();
    NotificationCenter::defaultCenter().removeObserver(observer);
    return report(invocation, *request, *session, *frames, *buffers, interrupted, gone, share.get());
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

namespace {

// A name beside `wanted` that is free: "clip.mov", else "clip-repaired.mov", "clip-repaired-2.mov", ...
std::string freeNameBeside(const std::string& wanted)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(wanted, ec))) return wanted;
    const fs::path p(wanted);
    const std::string stem = (p.parent_path() / p.stem()).string(), extension = p.extension().string();
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = stem + "-repaired" + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
    return {};
}

// Copies a file's bytes into `fd` (kernel-side where it can).
bool copyInto(int from, int to)
{
    off_t inOffset = 0, outOffset = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(from, &inOffset, to, &outOffset, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL) return false;
        // Another way: read and write.
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t r = ::pread(from, buffer.data(), buffer.size(), inOffset);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return false;
            if (r == 0) return true;
            for (ssize_t done = 0; done < r;) {
                const ssize_t w = ::pwrite(to, buffer.data() + done, static_cast<size_t>(r - done), outOffset);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                done += w;
                outOffset += w;
            }
            inOffset += r;
        }
    }
}

} // namespace

int runRepair(Invocation& invocation)
{
    const std::string in = *invocation.operand(0);
    auto& files = FileManager::defaultManager();
    std::string error;
    if (!files.isRegularFile(in, &error)) return invocation.fail(kExitFailure, "%s", error.c_str());
    const bool working = FileManager::isWorkingFileName(std::filesystem::path(in).filename().string());
    std::string destination;
    int source = -1, target = -1;
    std::string targetPath; // the file finished in place
    if (const auto outPath = invocation.operand(1)) {
        int status = kExitOk;
        const auto checked = OutputFile::check(invocation, *outPath, status);
        if (!checked) return status;
        destination = *checked;
    } else {
        destination = freeNameBeside(working ? FileManager::destinationOfWorkingFile(in)
                                             : (std::filesystem::path(in).parent_path() /
                                                std::filesystem::path(in).stem()).string() + ".mov");
        if (destination.empty()) return invocation.fail(kExitFailure, "no free name beside %s", in.c_str());
    }
    if (working && !invocation.operand(1)) {
        // A working file is finished where it is, then renamed: nothing is copied.
        target = ::open(in.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (target < 0) return invocation.fail(kExitFailure, "cannot open %s: %s", in.c_str(), std::strerror(errno));
        if (::flock(target, LOCK_EX | LOCK_NB) != 0) {
            ::close(target);
            return invocation.fail(kExitFailure, "%s is still being written by a running process", in.c_str());
        }
        targetPath = in;
    } else {
        // Made beside the destination from a copy; the original stays as it was.
        source = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
        if (source < 0) return invocation.fail(kExitFailure, "cannot open %s: %s", in.c_str(), std::strerror(errno));
        target = files.createWorkingFile(destination, &targetPath, &error);
        if (target < 0) {
            ::close(source);
            return invocation.fail(kExitFailure, "%s", error.c_str());
        }
        const bool copied = copyInto(source, target);
        ::close(source);
        if (!copied) {
            const int e = errno;
            ::close(target);
            (void)files.removeItemAtPath(targetPath);
            return invocation.fail(kExitFailure, "cannot copy %s: %s", in.c_str(), std::strerror(e));
        }
    }
    std::fprintf(err(), "Repairing %s...\n", in.c_str());
    const auto finished = MovieFinisher::finishInPlace(target);
    for (const auto& note : finished.notes) std::fprintf(err(), "orva repair: %s\n", note.c_str());
    const bool copy = targetPath != in;
    if (!finished.ok) {
        ::close(target);
        if (copy) (void)files.removeItemAtPath(targetPath);
        return invocation.fail(kExitFailure, "%s cannot be made into a movie: %s", in.c_str(), finished.error.c_str());
    }
    const bool synced = ::fsync(target) == 0;
    ::close(target);
    if (!synced || !files.renameIntoPlace(targetPath, destination, invocation.overwrite(), &error)) {
        if (copy) (void)files.removeItemAtPath(targetPath);
        return invocation.fail(kExitFailure, "%s", error.empty() ? std::strerror(errno) : error.c_str());
    }
    const auto summary = MovieProbe::probe(destination, &error);
    if (!summary)
        return invocation.fail(kExitFailure, "%s is not a readable movie: %s", destination.c_str(), error.c_str());
    if (invocation.json()) {
        JsonWriter json(cli::out());
        json.beginObject();
        writeSummary(json, destination, *summary);
        json.field("repaired_from", in).field("cut_damaged_end", finished.cut).field("was_finished", finished.alreadyFinished);
        json.key("left_out").beginArray();
        for (const auto& note : finished.notes) json.value(note);
        json.endArray().endObject();
    } else {
        std::fprintf(cli::out(), "%s: %s", destination.c_str(), MovieProbe::describe(*summary).c_str());
    }
    return kExitOk;
}

} // namespace cli
