#include "MovieReader.h"
#include "SimBus.h"
#include "Wait.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/OrvaRecordSession.h>
#include <orva/NotificationCenter.h>
#include <orva/OrvaRecorder.h>
#include <orva/OrvaStatus.h>
#include <orva/RunLoop.h>
#include "platform/foundation/FileManager.h"
#include "platform/writer/AssetWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;
namespace fs = std::filesystem;

namespace {

size_t threadCount()
{
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

class RecordSession : public SimBusTest {
protected:
    void SetUp() override
    {
        SimBusTest::SetUp();
        ZISim_PlugBuiltInDevices();
        ZISim_WaitIdle();
        base = fs::temp_directory_path() / ("orva-record-" + std::to_string(::getpid()));
        fs::create_directories(base / "out");
        auto manager = OrvaDeviceManager::getSharedInstance();
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
        ASSERT_TRUE(camera && mic);
    }
    void TearDown() override
    {
        AssetWriter::setWriteFunctionForTesting(nullptr);
        if (camera) camera->closeDevice();
        if (mic) mic->closeDevice();
        camera.reset();
        mic.reset();
        OrvaDeviceManager::destroy();
        for (const auto& m : mounts) ::umount2(m.c_str(), MNT_DETACH);
        fs::remove_all(base);
        SimBusTest::TearDown();
    }
    void choose(uint32_t codec, int w, int h, uint32_t tag, double rate, uint32_t channels, uint32_t bits)
    {
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
        for (const auto& f : *camera->getSupportedFormats()) {
            auto v = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
            if (v->mediaSubType() == codec && v->dimensions() == VideoDimensions{w, h}) camera->setFormat(f);
        }
        ASSERT_TRUE(camera->getFormat());
        ASSERT_EQ(mic->openDevice(), kOrvaOK);
        mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(static_cast<uint16_t>(tag), static_cast<uint16_t>(channels),
                                                                 static_cast<uint32_t>(rate), static_cast<uint16_t>(bits)));
        micPeriod = tag == 0x6320 ? 21334 : 10001; // an AAC packet or a 10 ms buffer, rounded up
    }
    // Moves the simulator's clock on by `seconds` in 10 ms steps, each time waiting
    // until the camera and microphone delivered what was due: the recording holds
    // exactly that much media however loaded the machine is.
    void advance(double seconds)
    {
        const std::string cameraPath = *camera->deviceInfo()->path(), micPath = *mic->deviceInfo()->path();
        const int64_t start = ZISim_Now(), cameraStart = ZISim_FramesDelivered(cameraPath.c_str()),
                      micStart = ZISim_FramesDelivered(micPath.c_str());
        for (int64_t t = 10000; t <= static_cast<int64_t>(seconds * 1e6); t += 10000) {
            ZISim_SetClock(start + t);
            ASSERT_TRUE(orvatest::waitUntil([&] {
                return ZISim_FramesDelivered(cameraPath.c_str()) >= cameraStart + t / 33334 &&
                       ZISim_FramesDelivered(micPath.c_str()) >= micStart + t / micPeriod;
            })) << "the devices stopped at " << t << " µs";
        }
    }
    int64_t micPeriod = 10001;
    struct Counter : OrvaAVDeviceDelegate {
        void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
        std::atomic<int> count{0};
    };
    orvatest::ReadMovie record(double seconds)
    {
        const std::string out = (base / "out" / "clip.mov").string();
        ZISim_UseManualClock(1);
        ZISim_SetClock(1000000);
        auto session = OrvaRecordSession::create(camera, mic, out);
        frames = std::make_shared<Counter>();
        camera->addDelegate(frames); // before the session: it sees every frame the session gets
        EXPECT_EQ(session->startSession(), kOrvaOK);
        EXPECT_TRUE(session->isRunning());
        EXPECT_EQ(session->workingPath(), (base / "out" / ".clip.mov.recording").string()) << "written beside it";
        advance(seconds);
        camera->removeDelegate(frames); // the camera goes on capturing after the session
        delivered = frames->count.load();
        EXPECT_EQ(session->stopSession(), 0);
        EXPECT_FALSE(session->isRunning());
        EXPECT_TRUE(fs::exists(out)) << "moved to the destination";
        EXPECT_EQ(session->moviePath(), out);
        EXPECT_EQ(session->recordingStatus(), 0);
        EXPECT_EQ(std::distance(fs::directory_iterator(base / "out"), fs::directory_iterator()), 1)
            << "the working file became the movie";
        struct stat st{};
        EXPECT_EQ(::stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~umaskNow()) << "a file like any other the user makes";
        return orvatest::readMovie(out);
    }
    void expectPlayable(const orvatest::ReadMovie& movie, double seconds)
    {
        ASSERT_TRUE(movie.opened);
        ASSERT_TRUE(movie.video() && movie.audio());
        EXPECT_TRUE(movie.logged.empty()) << movie.logged.front();
        for (const auto* t : {movie.video(), movie.audio()}) {
            EXPECT_EQ(t->decodeErrors, 0) << t->tag;
            EXPECT_GT(t->decoded, 0) << t->tag;
            EXPECT_NEAR(t->end - t->start, seconds, 0.25) << t->tag;
        }
        // Every frame the camera delivered is in the movie.
        EXPECT_NEAR(static_cast<double>(movie.video()->pts.size()), delivered, 2);
        EXPECT_NEAR(static_cast<double>(movie.video()->pts.size()), seconds * 30, 2);
        // The microphone stops before the camera leaves the session, so on a slow
        // (sanitized, loaded) machine the video may run a few frames longer.
        EXPECT_LE(std::abs(movie.video()->end - movie.audio()->end), 0.1) << "audio and video end together";
    }
    static mode_t umaskNow()
    {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return mask;
    }
    // A small tmpfs at `dir` (made here); false when this process may not mount one.
    bool mountSmallDisk(const fs::path& dir, const std::string& size)
    {
        fs::create_directories(dir);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, ("size=" + size + ",mode=0700").c_str()) != 0)
            return false;
        mounts.push_back(dir);
        return true;
    }
    // Starts `session`, waits until the camera has given it `frames` frames and stops it.
    void recordFrames(OrvaRecordSession& session, int frames)
    {
        auto counter = std::make_shared<Counter>();
        camera->addDelegate(counter);
        ASSERT_EQ(session.startSession(), kOrvaOK);
        EXPECT_TRUE(orvatest::waitUntil([&] { return counter->count >= frames; }));
        EXPECT_EQ(session.stopSession(), 0);
        camera->removeDelegate(counter);
    }
    // Counts KPXRecordingFailed and keeps the last one's user information.
    struct FailureWatch {
        FailureWatch()
        {
            token = NotificationCenter::defaultCenter().addObserver(KPXRecordingFailed, [this](const Notification& n) {
                std::lock_guard lock(mutex);
                status = std::any_cast<int32_t>(n.userInfo.at("status"));
                path = std::any_cast<std::string>(n.userInfo.at("path"));
                ++posted;
            });
        }
        ~FailureWatch() { NotificationCenter::defaultCenter().removeObserver(token); }
        NotificationCenter::Token token;
        std::mutex mutex;
        std::atomic<int> posted{0};
        int32_t status = 0;
        std::string path;
    };
    static std::string contents(const fs::path& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<fs::path> mounts;
    fs::path base;
    std::shared_ptr<Counter> frames;
    int delivered = 0;
    std::shared_ptr<OrvaVideoDevice> camera;
    std::shared_ptr<OrvaAudioDevice> mic;
};

TEST_F(RecordSession, H264WithPcm)
{
    choose(kCodecAVC1, 640, 360, 0x636D, 48000, 2, 16);
    const auto movie = record(1.5);
    expectPlayable(movie, 1.5);
    EXPECT_EQ(movie.video()->tag, "avc1");
    ASSERT_GE(movie.video()->extradata.size(), 11u);
    EXPECT_EQ(movie.video()->extradata[0], 1) << "an avcC record";
    EXPECT_TRUE(movie.video()->keys.front());
    EXPECT_LE(movie.video()->extradata[3], 31) << "an H.264 level that fits 640x360 at 30 fps";
    EXPECT_DOUBLE_EQ(movie.video()->frameRate, 30) << "a constant 30 fps, as readers see it";
    EXPECT_EQ(movie.audio()->tag, "sowt");
    EXPECT_EQ(movie.audio()->channels, 2);
    EXPECT_TRUE(camera->isCapturing()) << "the camera keeps capturing after the session";
    EXPECT_FALSE(mic->isCapturing());
}

TEST_F(RecordSession, H264WithAacStartingAtZero)
{
    choose(kCodecAVC1, 640, 480, 0x6320, 48000, 2, 16);
    const auto movie = record(1.5);
    expectPlayable(movie, 1.5);
    EXPECT_EQ(movie.audio()->tag, "mp4a");
    EXPECT_DOUBLE_EQ(movie.audio()->start, 0.0);
    EXPECT_LT(movie.audio()->pts.front(), 0.0) << "the priming packet is trimmed by the edit list";
    EXPECT_EQ(movie.audio()->extradata.size(), 2u) << "AudioSpecificConfig";
}

TEST_F(RecordSession, UncompressedWithMonoPcm)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    const auto movie = record(1.2);
    expectPlayable(movie, 1.2);
    EXPECT_EQ(movie.video()->tag, "2vuy");
    EXPECT_EQ(movie.audio()->sampleRate, 16000);
}

TEST_F(RecordSession, StoppingTwiceAndBuffersWithoutARecorder)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    auto session = OrvaRecordSession::create(camera, mic, (base / "out" / "x.mov").string());
    EXPECT_EQ(session->stopSession(), 0) << "not running: nothing";
    std::vector<uint8_t> bytes(64, 0);
    session->didCaptureFrame(bytes.data(), 64, 1000, camera->deviceInfo()); // no recorder: ignored
    ASSERT_EQ(session->startSession(), kOrvaOK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(session->stopSession(), 0);
    EXPECT_EQ(session->stopSession(), 0);
    EXPECT_TRUE(fs::exists(base / "out" / "x.mov"));

    OrvaRecorder idle;
    std::vector<uint8_t> annexB = {0, 0, 0, 1, 0x65};
    EXPECT_EQ(idle.addVideoSample(annexB.data(), 5, 0), 0);
    EXPECT_EQ(annexB[3], 1) << "an idle recorder leaves the buffer alone";
    bool turned = false;
    RunLoop::dispatchToMain([&] { turned = true; });
    EXPECT_EQ(idle.closeRecorder(), 0);
    EXPECT_FALSE(turned) << "no run-loop turn (it would have run the main queue's task)";
    RunLoop::current().runUntilDate(0.01);
}

TEST_F(RecordSession, AStopBeforeAnySampleLeavesNoFile)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    // The devices report capturing but deliver nothing.
    ZISim_InjectResult("VCI_Start_Capture", 0, 1);
    ZISim_InjectResult("ACI_Start_Capture", 0, 1);
    auto session = OrvaRecordSession::create(camera, mic, (base / "out" / "empty.mov").string());
    ASSERT_EQ(session->startSession(), kOrvaOK);
    EXPECT_EQ(session->stopSession(), 0);
    EXPECT_TRUE(session->movieStats().nothingRecorded);
    EXPECT_FALSE(session->moviePath());
    EXPECT_TRUE(fs::is_empty(base / "out"));
}

TEST_F(RecordSession, FailedStartsLeaveNoSessionThreadOrFileBehind)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    const size_t threadsBefore = threadCount();
    for (int i = 0; i < 8; ++i) { // each pays the recorder's half-second closing turn
        // The microphone refuses to start after the camera started: the camera stops
        // again and the session no longer belongs to either device.
        ZISim_InjectResult(i % 2 ? "ACI_Start_Capture" : "ACI_Subscribe_Event", 1, 1);
        auto session = OrvaRecordSession::create(camera, mic, (base / "out" / "x.mov").string());
        EXPECT_NE(session->startSession(), kOrvaOK);
        EXPECT_FALSE(session->isRunning());
        EXPECT_FALSE(camera->isCapturing());
        EXPECT_TRUE(camera->delegates().empty());
        EXPECT_TRUE(mic->delegates().empty());
        std::weak_ptr<OrvaRecordSession> watch = session;
        session.reset();
        ASSERT_TRUE(watch.expired()) << "start " << i << " left the session held";
    }
    EXPECT_TRUE(orvatest::waitUntil([&] { return threadCount() <= threadsBefore + 2; }))
        << threadCount() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(fs::is_empty(base / "out")) << "no movie, no working file";
}

TEST_F(RecordSession, AFullDiskEndsTheRecordingOnceAndKeepsWhatWasWritten)
{
    // 2vuy 320x240 is 4.6 MB a second: the disk fills in the second one-second fragment.
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    std::atomic<size_t> written{0};
    AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
        if (written + size > 7000000) {
            errno = ENOSPC;
            return -1;
        }
        written += size;
        return ::write(fd, data, size);
    });
    FailureWatch failure;
    const std::string out = (base / "out" / "full.mov").string();
    auto session = OrvaRecordSession::create(camera, mic, out);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_EQ(session->startSession(), kOrvaOK);
    const auto working = session->workingPath();
    EXPECT_TRUE(orvatest::waitUntil([&] { return failure.posted > 0; }));
    const uint64_t droppedAtFailure = session->droppedSamples();
    EXPECT_TRUE(orvatest::waitUntil([&] { return session->droppedSamples() > droppedAtFailure + 30; }))
        << "what comes after the failure is refused and counted";
    EXPECT_EQ(session->stopSession(), 0);
    const std::string printed = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();

    EXPECT_EQ(failure.posted, 1) << "posted once";
    EXPECT_EQ(failure.status, kOrvaErrorDiskFull);
    EXPECT_EQ(failure.path, working.value_or(""));
    EXPECT_EQ(session->recordingStatus(), kOrvaErrorDiskFull);
    EXPECT_EQ(session->moviePath(), out) << "what was written reaches the destination";
    EXPECT_GE(session->movieSeconds(), 0.9);
    EXPECT_LT(session->movieSeconds(), 2.5);
    const auto movie = orvatest::readMovie(out);
    ASSERT_TRUE(movie.video() && movie.audio());
    EXPECT_EQ(movie.video()->decodeErrors, 0);
    EXPECT_NEAR(movie.video()->end, session->movieSeconds(), 0.1);
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("Asset writer failed") != std::string::npos; }),
              1);
    EXPECT_EQ(printed.find("Samples are being discarded"), std::string::npos);
    EXPECT_LE(std::count(printed.begin(), printed.end(), '\n'), 6) << "no flood:\n" << printed;
}

TEST_F(RecordSession, ASmallDiskIsRefusedAtTheStartAndFillingItEndsTheRecordingCleanly)
{
    // 2vuy 320x240 needs 276 MB a minute: a 64 MB disk is refused before anything starts.
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    if (!mountSmallDisk(base / "small", "64m")) GTEST_SKIP() << "mounting a tmpfs needs root";
    auto session = OrvaRecordSession::create(camera, mic, (base / "small" / "big.mov").string());
    EXPECT_EQ(session->startSession(), kOrvaErrorDiskFull);
    EXPECT_NE(session->placementError().find("less than a minute"), std::string::npos) << session->placementError();
    EXPECT_FALSE(camera->isCapturing());
    EXPECT_TRUE(fs::is_empty(base / "small"));

    // H.264 640x360 with 16 kHz mono needs about 17 MB a minute: it starts; when the
    // disk fills to less than that, the recording ends and the movie is finished.
    camera->closeDevice();
    mic->closeDevice();
    choose(kCodecAVC1, 640, 360, 0x636D, 16000, 1, 16);
    FailureWatch failure;
    const std::string out = (base / "small" / "kept.mov").string();
    session = OrvaRecordSession::create(camera, mic, out);
    testing::internal::CaptureStdout();
    ASSERT_EQ(session->startSession(), kOrvaOK);
    auto counter = std::make_shared<Counter>();
    camera->addDelegate(counter);
    EXPECT_TRUE(orvatest::waitUntil([&] { return counter->count >= 40; }));
    { // another program takes most of the room
        std::ofstream filler(base / "small" / "filler");
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 54; ++i) filler << block;
    }
    EXPECT_TRUE(orvatest::waitUntil([&] { return failure.posted > 0; }));
    EXPECT_EQ(session->stopSession(), 0);
    camera->removeDelegate(counter);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(failure.status, kOrvaErrorDiskFull);
    EXPECT_TRUE(session->movieStats().stoppedForSpace);
    EXPECT_EQ(session->moviePath(), out);
    const auto movie = orvatest::readMovie(out);
    ASSERT_TRUE(movie.video() && movie.audio());
    EXPECT_EQ(movie.video()->decodeErrors, 0);
    EXPECT_NEAR(movie.video()->end, session->movieSeconds(), 0.1);
    EXPECT_GE(session->movieSeconds(), 1.0);
}

TEST_F(RecordSession, TheWorkingFileNeverFollowsWhatIsPlantedBesideItNorNeedsATemporaryFolder)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    // A link where the working file would go, and a temporary folder nobody can use.
    std::ofstream(base / "victim") << "precious";
    fs::create_symlink(base / "victim", base / "out" / ".clip.mov.recording");
    const char* old = std::getenv("TMPDIR");
    const std::string oldTmp = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent/orva-tmp", 1);
    auto session = OrvaRecordSession::create(camera, mic, (base / "out" / "clip.mov").string());
    recordFrames(*session, 10);
    oldTmp.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", oldTmp.c_str(), 1);
    EXPECT_EQ(session->moviePath(), (base / "out" / "clip.mov").string());
    EXPECT_TRUE(orvatest::readMovie((base / "out" / "clip.mov").string()).video());
    EXPECT_EQ(contents(base / "victim"), "precious");
    EXPECT_TRUE(fs::is_symlink(base / "out" / ".clip.mov.recording"));

    // A folder that cannot be written is refused before any device starts.
    if (::geteuid() != 0) {
        fs::create_directories(base / "locked");
        fs::permissions(base / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        session = OrvaRecordSession::create(camera, mic, (base / "locked" / "x.mov").string());
        EXPECT_EQ(session->startSession(), kOrvaErrorCannotCreateFile);
        EXPECT_FALSE(camera->isCapturing());
    }
}

TEST_F(RecordSession, RecordingsIntoOneFolderWithTheSameAndDifferentNames)
{
    choose(kCodec2VUY, 320, 240, 0x636D, 16000, 1, 16);
    auto first = OrvaRecordSession::create(camera, mic, (base / "out" / "clip.mov").string());
    auto second = OrvaRecordSession::create(camera, nullptr, (base / "out" / "clip.mov").string());
    auto third = OrvaRecordSession::create(camera, nullptr, (base / "out" / "other.mov").string());
    auto counter = std::make_shared<Counter>();
    camera->addDelegate(counter);
    ASSERT_EQ(first->startSession(), kOrvaOK);
    ASSERT_EQ(second->startSession(), kOrvaOK);
    ASSERT_EQ(third->startSession(), kOrvaOK);
    EXPECT_EQ(first->workingPath(), (base / "out" / ".clip.mov.recording").string());
    EXPECT_EQ(second->workingPath(), (base / "out" / ".clip.mov.2.recording").string());
    EXPECT_TRUE(FileManager::defaultManager().leftoverFiles((base / "out").string()).empty())
        << "working files of live recordings are no leftovers";
    EXPECT_TRUE(orvatest::waitUntil([&] { return counter->count >= 15; }));
    EXPECT_EQ(second->stopSession(), 0);
    EXPECT_EQ(first->stopSession(), 0);
    EXPECT_EQ(third->stopSession(), 0);
    camera->removeDelegate(counter);
    // The first to finish has the name; the other stays, finished, under its working name.
    EXPECT_EQ(second->moviePath(), (base / "out" / "clip.mov").string());
    EXPECT_EQ(first->moviePath(), (base / "out" / ".clip.mov.recording").string());
    EXPECT_NE(first->placementError().find("already exists"), std::string::npos);
    const auto a = orvatest::readMovie((base / "out" / ".clip.mov.recording").string());
    const auto b = orvatest::readMovie((base / "out" / "clip.mov").string());
    const auto c = orvatest::readMovie((base / "out" / "other.mov").string());
    ASSERT_TRUE(a.video() && a.audio() && b.video() && c.video());
    EXPECT_FALSE(b.audio());
    EXPECT_GE(a.video()->pts.size(), 10u);
    EXPECT_GE(b.video()->pts.size(), 10u);
}

// A camera that captures only when the test moves the simulator's clock on (or
// pushes a frame), so frame times are exactly what the test makes them.
class PacedRecording : public RecordSession {
protected:
    static constexpr const char* kPath = "/sim/paced";
    void pacedCamera(uint32_t interval)
    {
        ZISim_UseManualClock(1);
        ZISim_SetClock(1000000);
        ZISimDeviceDesc d{};
        d.type = ZISIM_CAMERA;
        d.path = kPath;
        d.name = "Paced";
        d.vendorID = 0x2E7A;
        d.productID = 0x0100;
        d.revision = 0x0101;
        ASSERT_EQ(ZISim_Plug(&d), 0);
        ASSERT_EQ(ZISim_AddVideoFormat(kPath, 0x32767579, 32, 24, &interval, 1), 0);
        ZISim_WaitIdle();
        auto manager = OrvaDeviceManager::getSharedInstance();
        for (const auto& info : *manager->getVideoDeviceList())
            if (info->nameText() == "Paced")
                paced = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(info));
        ASSERT_TRUE(paced);
        ASSERT_EQ(paced->openDevice(), kOrvaOK);
        paced->setFormat(paced->getSupportedFormats()->front());
    }
    void TearDown() override
    {
        if (paced) paced->closeDevice();
        paced.reset();
        RecordSession::TearDown();
    }
    orvatest::ReadMovie recordPaced(const std::function<void()>& capture)
    {
        const std::string out = (base / "out" / "paced.mov").string();
        auto session = OrvaRecordSession::create(paced, nullptr, out);
        EXPECT_EQ(session->startSession(), kOrvaOK);
        capture();
        EXPECT_EQ(session->stopSession(), 0);
        return orvatest::readMovie(out);
    }
    std::shared_ptr<OrvaVideoDevice> paced;
};

TEST_F(PacedRecording, FramesLastOnePeriodOfTheCamerasOwnRate)
{
    // Listed only at 15 fps (the camera is asked for 30): every frame lasts 1/15 s.
    pacedCamera(666666);
    const auto movie = recordPaced([&] {
        for (int k = 1; k < 45; ++k) {
            ZISim_SetClock(1000000 + k * 66667);
            ASSERT_TRUE(orvatest::waitUntil([&] { return ZISim_FramesDelivered(kPath) == k + 1; }));
        }
    });
    ASSERT_TRUE(movie.video());
    ASSERT_EQ(movie.video()->pts.size(), 45u);
    for (size_t i = 0; i < 45; ++i) EXPECT_DOUBLE_EQ(movie.video()->durations[i], 1.0 / 15) << i;
}

TEST_F(PacedRecording, JitterDoesNotShowAndAPauseIsKept)
{
    // Every other frame 9 ms late, then half a second with no frame.
    pacedCamera(333333);
    const std::vector<uint8_t> picture(32 * 24 * 2, 0x80);
    auto push = [&](int64_t at) { ASSERT_EQ(ZISim_PushFrame(kPath, picture.data(), 1536, at), 1); };
    const auto movie = recordPaced([&] {
        ASSERT_TRUE(orvatest::waitUntil([&] { return ZISim_FramesDelivered(kPath) == 1; })); // the first, at 1 s
        for (int k = 1; k < 60; ++k) push(1000000 + k * 33333 + (k % 2 ? 9000 : 0));
        for (int k = 0; k < 30; ++k) push(3500000 + k * 33333);
    });
    ASSERT_TRUE(movie.video());
    const auto& pts = movie.video()->pts;
    ASSERT_EQ(pts.size(), 90u);
    for (size_t i = 1; i < 60; ++i) EXPECT_NEAR(pts[i] - pts[i - 1], 1.0 / 30, 1e-9) << i;
    EXPECT_NEAR(pts[60], 2.5, 1e-4) << "the pause is kept";
    for (size_t i = 61; i < 90; ++i) EXPECT_NEAR(pts[i] - pts[i - 1], 1.0 / 30, 1e-9) << i;
}

} // namespace
