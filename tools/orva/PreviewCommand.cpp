// orva preview [CAMERA] [--format F] [--mic MIC] [--audio FORMAT|none] [--out FOLDER] [--size WxH] [--seconds N]
#include "Cli.h"
#include "Commands.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "PeakHold.h"
#include "platform/window/PreviewFeed.h"
#include "Terminal.h"
#include "UnplugWatch.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaDeviceInfo.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/FormatDescription.h>
#include "platform/foundation/Bundle.h"
#include "platform/graphics/BitmapContext.h"
#include "platform/window/PreviewScreen.h"
#include "platform/window/PreviewWindow.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace cli {

const std::vector<std::string>& previewKeys()
{
    static const std::vector<std::string> keys = {
        "arrows   pan and tilt the head a step",
        "+  -     zoom in, out",
        "0        the head back to its start",
        "space    stop or start the camera",
        "r        start or stop recording (into --out)",
        "s        save the camera's picture as a PNG (into --out)",
        "m        mute or unmute the microphone",
        "?        show or hide these keys",
        "q  Esc   quit (a recording is finished first)",
    };
    return keys;
}

namespace {

// A free name in `folder`: PREFIX-20261207-031500.EXT, then -2, -3... when taken.
std::string stampedName(const std::string& folder, const char* prefix, const char* extension)
{
    char when[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%Y%m%d-%H%M%S", &local);
    const std::string base = (fs::path(folder) / (std::string(prefix) + when)).string();
    std::string path = base + extension;
    for (int n = 2; fs::exists(path) || fs::exists(fs::path(path).parent_path() / ("." + fs::path(path).filename().string() + ".recording")); ++n)
        path = base + "-" + std::to_string(n) + extension;
    return path;
}

// The window's work, on the main thread: keys into camera, microphone and recorder
// actions; the newest picture, the meter and the state onto the screen.
class Preview {
public:
    Preview(PreviewWindow& window, PreviewScreen& screen, std::shared_ptr<OrvaVideoDevice> camera,
            std::shared_ptr<OrvaAudioDevice> mic, std::shared_ptr<PreviewFeed> feed, std::string folder)
        : mWindow(window), mScreen(screen), mCamera(std::move(camera)), mMic(std::move(mic)),
          mFeed(std::move(feed)), mFolder(std::move(folder))
    {
        mState.helpLines = previewKeys();
        if (mCamera) {
            const auto size = mCamera->getFormat() ? dynamic_cast<const VideoFormatDescription*>(mCamera->getFormat().get()) : nullptr;
            mName = mCamera->deviceInfo()->nameText();
            if (size) mSize = std::to_string(size->dimensions().width) + "x" + std::to_string(size->dimensions().height);
        }
    }

    // Starts the camera; false when it did not start (the screen says why).
    bool startCamera()
    {
        if (!mCamera) {
            mState.status = "Camera cannot be opened";
            return false;
        }
        const int32_t started = mCamera->startCapture();
        if (started == kOrvaOK) {
            mState.status.reset();
            return true;
        }
        mState.status = started == kOrvaErrorCameraBusy ? "Camera in use by another application" : "Camera cannot start";
        std::fprintf(err(), "orva preview: %s\n", startFailure(*mCamera, started).c_str());
        return false;
    }

    void act(PreviewWindow::Action action)
    {
        using Action = PreviewWindow::Action;
        const bool live = mCamera && !mUnplugged;
        switch (action) {
        case Action::PanLeft: if (live) mCamera->panRelativeLeft(), notice("Head: a step left"); break;
        case Action::PanRight: if (live) mCamera->panRelativeRight(), notice("Head: a step right"); break;
        case Action::TiltUp: if (live) mCamera->tiltRelativeUp(), notice("Head: a step up"); break;
        case Action::TiltDown: if (live) mCamera->tiltRelativeDown(), notice("Head: a step down"); break;
        case Action::ZoomIn: zoom(+1); break;
        case Action::ZoomOut: zoom(-1); break;
        case Action::ResetHead: if (live) mCamera->resetPanTiltRel(), notice("Head: back to its start"); break;
        case Action::StartStop: toggleCamera(); break;
        case Action::Record: mSession ? stopRecording("") : startRecording(); break;
        case Action::Snapshot: mSnapshotAsked = true; break;
        case Action::Mute: toggleMute(); break;
        case Action::Help: mState.help = !mState.help; break;
        case Action::Quit: mQuit = true; break;
        }
    }

    // One turn of the loop: keys, the camera's state, the picture, the screen.
    void tick(double elapsed, const std::optional<std::string>& gone)
    {
        for (const auto action : mWindow.poll()) act(action);
        if (gone && *gone != mGone) unplugged(mGone = *gone);
        bool fresh = false;
        if (const auto* picture = mFeed ? mFeed->pictures().take() : nullptr) {
            mScreen.upload(picture->planar ? VideoPicture::Layout::I420 : VideoPicture::Layout::UYVY,
                           picture->bytes.data(), picture->width, picture->height);
            fresh = true;
            mShown++;
        }
        measureRate(elapsed);
        if (mMic) {
            mState.levels = mMic->channelLevels();
            mPeaks.update(mState.levels, elapsed);
            mState.peaks = mPeaks.peaks();
        }
        mState.recordingSeconds.reset();
        if (mSession) mState.recordingSeconds = elapsed - mRecordingSince;
        if (!mState.notice.empty() && elapsed - mNoticeSince > 4) mState.notice.clear();
        mNow = elapsed;
        // The picture when one comes, the rest (the meter, REC) thirty times a second.
        if (!fresh && elapsed - mDrawnAt < 1.0 / 30 && !mSnapshotAsked) return;
        mDrawnAt = elapsed;
        mState.caption = mName.empty() ? std::string() : mName + "   " + mSize + "   " + mRate;
        if (mSnapshotAsked) snapshot();
        mScreen.draw(mWindow.width(), mWindow.height(), mState);
        mWindow.present();
    }

    bool quitAsked() const { return mQuit; }
    uint64_t shown() const { return mShown; }
    // A recording under way is finished (on quit, Ctrl-C or the end of --seconds).
    void finish()
    {
        if (mSession) stopRecording("");
    }

private:
    void notice(const std::string& text)
    {
        mState.notice = text;
        mNoticeSince = mNow;
        std::fprintf(err(), "%s\n", text.c_str());
    }

    void measureRate(double elapsed)
    {
        if (elapsed - mRateSince < 1) return;
        const uint64_t captured = mFeed ? mFeed->framesCaptured() : 0;
        const double rate = (captured - mRateFrames) / (elapsed - mRateSince);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f fps", rate);
        mRate = text;
        mRateFrames = captured;
        mRateSince = elapsed;
    }

    void zoom(int direction)
    {
        if (!mCamera || mUnplugged) return;
        const auto low = mCamera->getZoomMin(), high = mCamera->getZoomMax(), now = mCamera->getZoomCur();
        if (!low || !high || !now) {
            notice("This camera has no zoom");
            return;
        }
        const int64_t step = std::max<int64_t>(1, (high->intValue() - low->intValue()) / 10);
        const int64_t to = std::clamp<int64_t>(now->intValue() + direction * step, low->intValue(), high->intValue());
        mCamera->setZoomCur(Number::numberWithInt(static_cast<int32_t>(to)));
        notice("Zoom " + std::to_string(to));
    }

    void toggleCamera()
    {
        if (!mCamera || mUnplugged) return;
        if (!mCamera->isCapturing()) {
            if (startCamera()) notice("Camera on");
            return;
        }
        if (mSession) stopRecording(""); // the recording is finished before its camera stops
        if (mCamera->stopCapture() == kOrvaOK) {
            mState.status = "Camera off";
            notice("Camera off");
        }
    }

    void toggleMute()
    {
        if (!mMic) return;
        const bool muted = !mMic->isMuteOn();
        mMic->setMute(muted);
        mState.muted = mMic->isMuteOn();
        notice(mState.muted ? "Microphone muted" : "Microphone unmuted");
    }

    void startRecording()
    {
        if (!mCamera || mUnplugged) return;
        const std::string path = stampedName(mFolder, "orva-", ".mov");
        auto session = OrvaRecordSession::create(mCamera, mMic, path);
        if (const int32_t started = session->startSession(); started != kOrvaOK) {
            const std::string why = session->placementError().empty() ? OrvaStatusDescription(started) : session->placementError();
            notice("Cannot record: " + why);
            return;
        }
        mState.status.reset(); // the recording started the camera if it was off
        mSession = std::move(session);
        mRecordingPath = path;
        mRecordingSince = mNow;
        notice("Recording into " + path);
    }

    void stopRecording(const std::string& why)
    {
        (void)mSession->stopSession();
        const auto path = mSession->moviePath();
        const double seconds = mSession->movieSeconds();
        const std::string misplaced = mSession->placementError();
        mSession.reset();
        if (!path) {
            notice("Nothing was recorded into " + mRecordingPath + ": no frame arrived" + why);
            return;
        }
        char text[64];
        std::snprintf(text, sizeof text, " (%.1f s)", seconds);
        notice("Recorded " + *path + text + why + (misplaced.empty() ? "" : " (" + misplaced + ")"));
    }

    void snapshot()
    {
        mSnapshotAsked = false;
        uint32_t width = 0, height = 0;
        const auto rows = mScreen.pictureSnapshot(&width, &height);
        if (rows.empty()) {
            notice("No picture to save yet");
            return;
        }
        const std::string path = stampedName(mFolder, "orva-snapshot-", ".png");
        if (BitmapContext::writePNG(path, rows, static_cast<int>(width), static_cast<int>(height)))
            notice("Saved " + path);
        else
            notice("Cannot write " + path);
    }

    // A device left: a recording ends there; a camera leaves its status image, a
    // microphone its place on the screen (the camera goes on).
    void unplugged(const std::string& name)
    {
        if (mSession) stopRecording(": " + name + " was unplugged");
        notice(name + " was unplugged");
        if (mMic && mMic->deviceInfo()->nameText() == name && name != mName) {
            mMic = nullptr;
            mState.levels.clear();
            mState.peaks.clear();
            return;
        }
        mUnplugged = true;
        mState.status = "Camera unplugged";
    }

    PreviewWindow& mWindow;
    PreviewScreen& mScreen;
    std::shared_ptr<OrvaVideoDevice> mCamera;
    std::shared_ptr<OrvaAudioDevice> mMic;
    std::shared_ptr<PreviewFeed> mFeed;
    std::string mFolder, mName, mSize, mRate = "-- fps";
    PreviewScreen::State mState;
    PeakHold mPeaks;
    std::shared_ptr<OrvaRecordSession> mSession;
    std::string mRecordingPath;
    std::string mGone; // the device that left, once told
    double mNow = 0, mRecordingSince = 0, mNoticeSince = 0, mDrawnAt = -1, mRateSince = 0;
    uint64_t mRateFrames = 0, mShown = 0;
    bool mQuit = false, mSnapshotAsked = false, mUnplugged = false;
};

} // namespace

int runPreview(Invocation& invocation)
{
    const auto seconds = invocation.seconds("seconds", 1e9);
    if (!seconds) return kExitUsage;
    const auto format = videoChoice(invocation, "format", "2vuy:1280x720");
    if (!format) return kExitUsage;
    if (format->codec != kCodecAVC1 && format->codec != kCodec2VUY)
        return invocation.fail(kExitUsage, "--format is avc1:WIDTHxHEIGHT[@FPS] or 2vuy:WIDTHxHEIGHT[@FPS]");
    const std::string audioText = invocation.value("audio").value_or("lpcm:48000:2:16");
    std::optional<AudioChoice> audio;
    if (audioText != "none" && !(audio = parseAudioFormat(audioText)))
        return invocation.fail(kExitUsage, "--audio is lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none, not \"%s\"",
                               audioText.c_str());
    const std::string folder = invocation.value("out").value_or(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec) || ::access(folder.c_str(), W_OK | X_OK) != 0)
        return invocation.fail(kExitUsage, "--out \"%s\" is not a folder this user can write into (recordings and "
                                           "snapshots go there)", folder.c_str());
    if (!UnplugWatch::validOption(invocation)) return kExitUsage;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland))
        return invocation.fail(kExitFailure, "no display: set DISPLAY or WAYLAND_DISPLAY; `orva overlay` draws without one");

    // A camera that is there but cannot be opened leaves the window its status image.
    const auto cameraInfo = chooseDevice(invocation, true, invocation.operand(0));
    if (!cameraInfo) return kExitFailure;
    DeviceUse camera(openCamera(invocation, invocation.operand(0)));
    std::shared_ptr<PreviewFeed> feed;
    std::string formatText = "-";
    uint32_t width = 1280, height = 720;
    if (camera) {
        const auto chosen = chooseVideoFormat(invocation, *camera, *format);
        if (!chosen) return kExitFailure;
        camera->setFormat(chosen);
        width = static_cast<uint32_t>(format->width);
        height = static_cast<uint32_t>(format->height);
        formatText = fourccText(format->codec) + ":" + std::to_string(width) + "x" + std::to_string(height) + " at " +
                     rateText(camera->captureFrameInterval()) + " fps";
        feed = std::make_shared<PreviewFeed>(format->codec == kCodecAVC1, width, height);
        camera.addDelegate(feed);
    }
    DeviceUse mic(audio ? openMicrophone(invocation, invocation.value("mic")) : nullptr);
    if (mic) {
        auto audioFormat = findAudioFormat(*mic, *audio);
        if (audioFormat) mic->setFormat(audioFormat);
        else std::fprintf(err(), "orva preview: %s has no format %s; recordings will have no sound\n",
                          mic->deviceInfo()->nameText().c_str(), audioText.c_str());
    }

    // The window: the picture's size, made smaller to fit a usual screen.
    uint32_t windowWidth = std::min<uint32_t>(width, 1280), windowHeight = windowWidth * height / width;
    if (const auto asked = invocation.value("size")) {
        const auto windowSize = invocation.size(*asked, "--size", 8192);
        if (!windowSize) return kExitUsage;
        std::tie(windowWidth, windowHeight) = *windowSize;
    }
    std::string error;
    const std::string title = "Orva preview: " + cameraInfo->nameText();
    auto window = PreviewWindow::open(title, static_cast<int>(windowWidth), static_cast<int>(windowHeight), &error);
    if (!window) return invocation.fail(kExitFailure, "cannot open a window: %s", error.c_str());
    const auto statusImage = Bundle::mainBundle()->pathForResource("CameraOff", "png");
    PreviewScreen screen(statusImage.value_or(""));
    if (!screen.ok()) return invocation.fail(kExitFailure, "the window's OpenGL cannot draw video: %s", screen.error().c_str());

    Preview preview(*window, screen, camera ? camera.get() : nullptr, mic ? mic.get() : nullptr, feed, folder);
    std::vector<std::shared_ptr<OrvaDeviceInfo>> used;
    if (camera) used.push_back(camera->deviceInfo());
    if (mic) used.push_back(mic->deviceInfo());
    UnplugWatch unplug(invocation, used);
    (void)preview.startCamera(); // when it does not start, the window says why
    if (mic) (void)mic->startVUMeter();
    std::fprintf(err(), "Previewing %s (%s) in a window (%s)%s%s. Press ? in it for the keys; q quits.\n",
                 cameraInfo->nameText().c_str(), formatText.c_str(),
                 window->driver().c_str(), mic ? " with the level of " : "",
                 mic ? mic->deviceInfo()->nameText().c_str() : "");
    const bool wasInterrupted = runFor(*seconds, 0.01, [&](double elapsed) { preview.tick(elapsed, unplug.gone()); },
                                       [&] { return preview.quitAsked(); });
    preview.finish();
    if (mic) (void)mic->stopVUMeter();
    if (camera && camera->isCapturing()) (void)camera->stopCapture();
    const uint64_t captured = feed ? feed->framesCaptured() : 0;
    std::fprintf(out(), "Showed %llu of %llu frames%s\n", static_cast<unsigned long long>(preview.shown()),
                 static_cast<unsigned long long>(captured),
                 feed && feed->framesSkipped() ? (" (" + std::to_string(feed->framesSkipped()) + " skipped by the decoder)").c_str() : "");
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

} // namespace cli
