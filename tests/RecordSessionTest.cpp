#include "MovieReader.h"
#include "SimBus.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaVideoDevice.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaRecorder.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;
namespace fs = std::filesystem;

namespace {

class RecordSession : public SimBusTest {
protected:
    void SetUp() override
    {
        SimBusTest::SetUp();
        ZISim_PlugBuiltInDevices();
        ZISim_WaitIdle();
        base = fs::temp_directory_path() / ("orva-record-" + std::to_string(::getpid()));
        fs::create_directories(base / "tmp");
        fs::create_directories(base / "out");
        const char* old = std::getenv("TMPDIR");
        oldTmp = old ? old : "";
        ::setenv("TMPDIR", (base / "tmp").c_str(), 1);
        auto manager = OrvaDeviceManager::getSharedInstance();
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        mic = std::dynamic_pointer_cast<OrvaAudioDevice>(OrvaAVDevice::newDevice(manager->getAudioDeviceList()->front()));
        ASSERT_TRUE(camera && mic);
    }
    void TearDown() override
    {
        if (camera) camera->closeDevice();
        if (mic) mic->closeDevice();
        camera.reset();
        mic.reset();
        OrvaDeviceManager::destroy();
        if (oldTmp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", oldTmp.c_str(), 1);
        fs::remove_all(base);
        SimBusTest::TearDown();
    }
    void choose(uint32_t codec, int w, int h, uint32_t tag, double rate, uint32_t channels, uint32_t bits)
    {
        ASSERT_EQ(camera->openDevice(), 0);
        for (const auto& f : *camera->getSupportedFormats()) {
            auto v = std::dynamic_pointer_cast<const VideoFormatDescription>(f);
            if (v->mediaSubType() == codec && v->dimensions() == VideoDimensions{w, h}) camera->setFormat(f);
        }
        ASSERT_TRUE(camera->getFormat());
        ASSERT_EQ(mic->openDevice(), 0);
        mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(static_cast<uint16_t>(tag), static_cast<uint16_t>(channels),
                                                                 static_cast<uint32_t>(rate), static_cast<uint16_t>(bits)));
    }
    struct Counter : OrvaAVDeviceDelegate {
        void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
        std::atomic<int> count{0};
    };
    orvatest::ReadMovie record(double seconds)
    {
        const std::string out = (base / "out" / "clip.mov").string();
        auto session = OrvaRecordSession::create(camera, mic, out);
        frames = std::make_shared<Counter>();
        camera->addDelegate(frames); // before the session: it sees every frame the session gets
        EXPECT_EQ(session->startSession(), 0);
        EXPECT_TRUE(session->isRunning());
        EXPECT_EQ(session->workingPath(), (working() / "clip.mov").string()) << "written in the private temporary folder";
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        camera->removeDelegate(frames); // the camera goes on capturing after the session
        delivered = frames->count.load();
        EXPECT_EQ(session->stopSession(), 0);
        EXPECT_FALSE(session->isRunning());
        EXPECT_TRUE(fs::exists(out)) << "moved to the destination";
        EXPECT_EQ(session->moviePath(), out);
        EXPECT_EQ(session->recordingStatus(), 0);
        EXPECT_FALSE(fs::exists(working())) << "the working file and its folder are gone";
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
        // Every frame the camera delivered is in the movie (a loaded machine may
        // deliver fewer than 30 a second; the camera then drops, not the recording).
        EXPECT_NEAR(static_cast<double>(movie.video()->pts.size()), delivered, 2);
        EXPECT_GT(movie.video()->pts.size(), seconds * 10);
        // The microphone stops before the camera leaves the session, so on a slow
        // (sanitized, loaded) machine the video may run a few frames longer.
        EXPECT_LE(std::abs(movie.video()->end - movie.audio()->end), 0.1) << "audio and video end together";
    }
    // This process's private folder under the test's TMPDIR.
    fs::path working() const
    {
        return base / "tmp" / ("orva-" + std::to_string(::geteuid())) / std::to_string(::getpid());
    }
    fs::path base;
    std::string oldTmp;
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
    ASSERT_EQ(session->startSession(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(session->stopSession(), 0);
    EXPECT_EQ(session->stopSession(), 0);
    EXPECT_TRUE(fs::exists(base / "out" / "x.mov"));

    OrvaRecorder idle;
    std::vector<uint8_t> annexB = {0, 0, 0, 1, 0x65};
    EXPECT_EQ(idle.addVideoSample(annexB.data(), 5, 0), 0);
    EXPECT_EQ(annexB[3], 1) << "an idle recorder leaves the buffer alone";
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(idle.closeRecorder(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(400)) << "no run-loop turn";
}

} // namespace
