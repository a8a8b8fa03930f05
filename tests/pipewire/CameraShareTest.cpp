// Sharing the simulated camera over the fixture's PipeWire daemon: consumers linked
// to its video node get the camera's own frames; the camera runs only while someone
// watches unless the host runs it; a consumer that takes nothing never costs the
// recording a frame; the daemon's going ends the share, not the recording.
#include "VideoConsumer.h"

#include "../DeliveryLog.h"
#include "../MovieReader.h"
#include "../Wait.h"

#include <orva/NotificationCenter.h>
#include <orva/OrvaCameraShare.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaVideoDevice.h>
#include "platform/foundation/SystemLog.h"

#include <zedederadIvoBackend.h>

#include <gtest/gtest.h>

#include <spa/param/video/raw.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

using namespace orva;
using orvatest::VideoConsumer;
namespace fs = std::filesystem;

namespace {

class CameraShare : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        ASSERT_EQ(ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR), ZI_OK);
        char pattern[] = "/tmp/orva-share-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir = pattern;
        auto manager = OrvaDeviceManager::getSharedInstance();
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
        ASSERT_TRUE(camera);
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
        choose(kCodec2VUY, 640, 480);
        frames = std::make_shared<orvatest::DeliveryLog>();
        camera->addDelegate(frames);
        observer = NotificationCenter::defaultCenter().addObserver(KPXCameraShareChanged, [&](const Notification& n) {
            if (std::any_cast<bool>(n.userInfo.at("ended"))) ended = true;
        });
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(observer);
        if (share) share->stopSharing();
        if (camera) {
            camera->removeDelegate(frames);
            camera->closeDevice();
        }
        share.reset();
        camera.reset();
        OrvaDeviceManager::destroy();
        fs::remove_all(dir);
    }
    void choose(uint32_t codec, int32_t width, int32_t height)
    {
        for (const auto& f : *camera->getSupportedFormats()) {
            const auto* v = dynamic_cast<const VideoFormatDescription*>(f.get());
            if (v->mediaSubType() == codec && v->dimensions().width == width && v->dimensions().height == height)
                camera->setFormat(f);
        }
        ASSERT_TRUE(camera->getFormat());
    }
    // Whether the consumer's frame is one the camera delivered, byte for byte.
    bool isACameraFrame(const std::vector<uint8_t>& shared)
    {
        std::lock_guard lock(frames->mutex);
        return std::find(frames->data.begin(), frames->data.end(), shared) != frames->data.end();
    }

    fs::path dir;
    std::shared_ptr<OrvaVideoDevice> camera;
    std::shared_ptr<orvatest::DeliveryLog> frames;
    std::shared_ptr<OrvaCameraShare> share;
    NotificationCenter::Token observer{};
    std::atomic<bool> ended{false};
};

TEST_F(CameraShare, ConsumersGetTheCameraItselfWhichRunsOnlyWhileSomeoneWatches)
{
    share = OrvaCameraShare::create(camera);
    ASSERT_EQ(share->startSharing(), kOrvaOK) << share->failure();
    EXPECT_NE(share->nodeID(), 0u);
    EXPECT_FALSE(camera->isCapturing()) << "nobody watches yet";

    {
        VideoConsumer first(share->nodeName()), second(share->nodeName());
        ASSERT_TRUE(first.connected() && second.connected());
        ASSERT_TRUE(orvatest::waitUntil([&] { return first.frames() >= 30 && second.frames() >= 30; }));
        EXPECT_TRUE(camera->isCapturing()) << "the share started the camera for them";
        EXPECT_EQ(share->consumerCount(), 2u);
        EXPECT_EQ(first.format(), static_cast<uint32_t>(SPA_VIDEO_FORMAT_UYVY));
        EXPECT_EQ(first.width(), 640u);
        EXPECT_EQ(first.height(), 480u);
        EXPECT_EQ(first.frame(10).size(), 640u * 480 * 2);
        EXPECT_TRUE(isACameraFrame(first.frame(10))) << "the camera's own picture";
        EXPECT_TRUE(isACameraFrame(second.frame(20)));
        EXPECT_GT(first.pts(11), first.pts(10)) << "stamped with the capture times";
    }
    // Both left: the camera the share started stops.
    EXPECT_TRUE(orvatest::waitUntil([&] { return !camera->isCapturing(); }));
    EXPECT_EQ(share->consumerCount(), 0u);

    // One the host starts while the share runs it is the host's: the viewer's leaving
    // does not stop it.
    {
        VideoConsumer viewer(share->nodeName());
        ASSERT_TRUE(orvatest::waitUntil([&] { return viewer.frames() >= 5; }));
        ASSERT_EQ(camera->startCapture(), kOrvaOK);
    }
    ASSERT_TRUE(orvatest::waitUntil([&] { return share->consumerCount() == 0; }));
    EXPECT_TRUE(frames->waitFor(frames->count() + 10)) << "the host's capture goes on";
    EXPECT_TRUE(camera->isCapturing());
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    share->stopSharing();
    EXPECT_FALSE(share->isSharing());
}

TEST_F(CameraShare, AnH264CameraIsSharedDecoded)
{
    choose(kCodecAVC1, 640, 480);
    share = OrvaCameraShare::create(camera);
    ASSERT_EQ(share->startSharing(), kOrvaOK) << share->failure();
    VideoConsumer viewer(share->nodeName());
    ASSERT_TRUE(orvatest::waitUntil([&] { return viewer.frames() >= 10; }));
    EXPECT_EQ(viewer.format(), static_cast<uint32_t>(SPA_VIDEO_FORMAT_I420));
    const auto picture = viewer.frame(5);
    ASSERT_EQ(picture.size(), 640u * 480 * 3 / 2);
    // The test pattern's bars: the luma varies across the first row.
    const auto [darkest, brightest] = std::minmax_element(picture.begin(), picture.begin() + 640);
    EXPECT_GT(*brightest - *darkest, 100);
}

TEST_F(CameraShare, AStalledConsumerCostsTheRecordingNothingAndTheDaemonsGoingEndsOnlyTheShare)
{
    share = OrvaCameraShare::create(camera);
    ASSERT_EQ(share->startSharing(), kOrvaOK) << share->failure();
    auto session = OrvaRecordSession::create(camera, nullptr, (dir / "shared.mov").string());
    ASSERT_EQ(session->startSession(), kOrvaOK);
    VideoConsumer stalled(share->nodeName(), true);
    ASSERT_TRUE(orvatest::waitUntil([&] { return share->framesDropped() >= 10; })) << "its buffers are full";
    const size_t before = frames->count();
    ASSERT_TRUE(frames->waitFor(before + 30)) << "capture goes on at its pace";

    const pid_t daemon = static_cast<pid_t>(std::atoi(std::getenv("ORVA_TEST_PIPEWIRE_PID")));
    ASSERT_EQ(::kill(daemon, SIGKILL), 0);
    EXPECT_TRUE(orvatest::waitUntil([&] { return ended.load(); })) << "the share says it ended";
    EXPECT_FALSE(share->isSharing());
    const size_t afterKill = frames->count();
    ASSERT_TRUE(frames->waitFor(afterKill + 30)) << "the recording goes on";
    const size_t recorded = frames->count();
    EXPECT_EQ(session->stopSession(), 0);
    const auto movie = orvatest::readMovie((dir / "shared.mov").string());
    ASSERT_TRUE(movie.video());
    EXPECT_GE(movie.video()->pts.size() + 2, recorded) << "every frame is in the movie";
    EXPECT_EQ(session->movieStats().videoDropped, 0u);
}

TEST(CameraShareWithoutPipeWire, SaysSo)
{
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    setenv("PIPEWIRE_REMOTE", "orva-no-such-daemon", 1);
    ASSERT_EQ(ZI_Select_Backend(ZI_HALF_VIDEO, ZI_BACKEND_SIMULATOR), ZI_OK);
    auto manager = OrvaDeviceManager::getSharedInstance();
    auto camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice(manager->getVideoDeviceList()->front()));
    ASSERT_EQ(camera->openDevice(), kOrvaOK);
    camera->setFormat(camera->getSupportedFormats()->back());
    auto share = OrvaCameraShare::create(camera);
    EXPECT_EQ(share->startSharing(), kOrvaErrorNoPipeWire);
    EXPECT_FALSE(share->failure().empty());
    unsetenv("PIPEWIRE_REMOTE");
    camera->closeDevice();
    OrvaDeviceManager::destroy();
}

} // namespace
