// Every capture-library call a camera, a microphone or a record session makes fails
// in turn, alone and together with each other call, at every step of open → start →
// frames → stop → close → destroy; and devices come and go while they capture. Run
// under AddressSanitizer and ThreadSanitizer by ./test.sh, this is where a freed
// device reached by a late callback, a session kept alive by its devices, a race or a
// hang shows. The checks here are what must hold whatever failed.
#include "SimBus.h"
#include "Wait.h"
#include "recording/RecorderTesting.h"

#include <orva/OrvaAudioDevice.h>
#include <orva/OrvaStatus.h>
#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaRecordSession.h>
#include <orva/OrvaVideoDevice.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

using namespace orva;
using orvatest::SimBusTest;
namespace fs = std::filesystem;

namespace {

const char* kCameraPath = "usb-3/video";
const char* kMicrophonePath = "usb-3/audio";

struct Counter : OrvaAVDeviceDelegate {
    void didCaptureFrame(const void*, uint32_t, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override { ++count; }
    std::atomic<int> count{0};
};

// A call to fail: the (skip + 1)th call of `function` from the start of a life.
struct Fault {
    std::string function;
    uint32_t skip = 0;
};

std::string describe(const std::vector<Fault>& faults)
{
    std::string text;
    for (const auto& f : faults) text += (text.empty() ? "" : " + ") + f.function + "#" + std::to_string(f.skip + 1);
    return text.empty() ? "no fault" : text;
}

class FaultSweep : public SimBusTest {
protected:
    void SetUp() override
    {
        SimBusTest::SetUp();
        tmp = fs::temp_directory_path() / ("orva-faults-" + std::to_string(::getpid()));
        fs::create_directories(tmp);
        const char* old = std::getenv("TMPDIR");
        oldTmp = old ? old : "";
        ::setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override
    {
        OrvaDeviceManager::destroy();
        if (oldTmp.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", oldTmp.c_str(), 1);
        fs::remove_all(tmp);
        SimBusTest::TearDown();
    }
    // A fresh bus for each life: what failures left in the library (a handle whose
    // close failed still capturing) stays with the life that made it.
    void fresh()
    {
        OrvaDeviceManager::destroy();
        resetBus();
        ZISim_UseManualClock(1); // frames only when pushed: every run is the same
        ZISim_SetClock(1000000);
        plugCamera(kCameraPath, "Camera");
        plugMicrophone(kMicrophonePath, "Mic");
        (void)OrvaDeviceManager::getSharedInstance();
        ZISim_WaitIdle();
        ZISim_JournalClear();
    }
    template <typename Device>
    std::shared_ptr<Device> make(bool camera)
    {
        auto manager = OrvaDeviceManager::getSharedInstance();
        auto list = camera ? manager->getVideoDeviceList() : manager->getAudioDeviceList();
        return list->empty() ? nullptr : std::dynamic_pointer_cast<Device>(OrvaAVDevice::newDevice(list->front()));
    }
    static bool push(const char* path)
    {
        const uint8_t frame[64] = {};
        return ZISim_PushFrame(path, frame, sizeof frame, ZISim_Now()) >= 0;
    }
    static void inject(const std::vector<Fault>& faults)
    {
        for (const auto& f : faults) ZISim_InjectResultAfter(f.function.c_str(), f.skip, 1, 1);
    }
    // The calls a clean life makes, each occurrence a fault to try.
    std::vector<Fault> callsOf(const std::function<void(const std::vector<Fault>&)>& life)
    {
        life({});
        std::vector<Fault> faults;
        std::map<std::string, uint32_t> seen;
        for (const auto& line : journal()) {
            const std::string name = line.substr(0, line.find('('));
            if (name.rfind("VCI_", 0) == 0 || name.rfind("ACI_", 0) == 0) faults.push_back({name, seen[name]++});
        }
        return faults;
    }
    // Each call failing alone, then each pair of calls failing together.
    void sweep(const std::function<void(const std::vector<Fault>&)>& life)
    {
        const auto faults = callsOf(life);
        ASSERT_GE(faults.size(), 5u);
        for (size_t i = 0; i < faults.size(); ++i) {
            SCOPED_TRACE(describe({faults[i]}));
            life({faults[i]});
            for (size_t k = i + 1; k < faults.size(); ++k) {
                SCOPED_TRACE(describe({faults[i], faults[k]}));
                life({faults[i], faults[k]});
            }
        }
    }

    // A device's whole life with `faults` injected; then, with nothing failing, the
    // same object starts again and frames arrive once each; once it is destroyed, a
    // frame the library still hands on reaches nothing.
    template <typename Device>
    void deviceLife(bool camera, const std::vector<Fault>& faults)
    {
        fresh();
        const char* path = camera ? kCameraPath : kMicrophonePath;
        auto device = make<Device>(camera);
        ASSERT_TRUE(device);
        auto counter = std::make_shared<Counter>();
        device->addDelegate(counter);
        if constexpr (std::is_same_v<Device, OrvaVideoDevice>)
            device->setFormat(VideoFormatDescription::create(kCodec2VUY, 320, 240));
        else
            device->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
        inject(faults);

        const bool opened = device->openDevice() == 0;
        EXPECT_EQ(device->isOpen(), opened);
        const int32_t started = device->startCapture();
        EXPECT_EQ(device->isCapturing(), started == 0);
        push(path);
        const int32_t stopped = device->stopCapture();
        if (stopped == 0) {
            EXPECT_FALSE(device->isCapturing());
        } else if (stopped != 3) {
            EXPECT_TRUE(device->isCapturing()) << "a failed stop (" << stopped << ") leaves it capturing";
        }

        ZISim_ClearInjections();
        if (device->isCapturing() && stopped != 3) {
            EXPECT_EQ(device->stopCapture(), kOrvaOK) << "the stop is tried again, and now goes through";
        }
        if (opened) {
            ASSERT_EQ(device->startCapture(), kOrvaOK) << "a device starts again after any failure";
            // The capture's own first frame comes on its thread; then one pushed.
            ASSERT_TRUE(orvatest::waitUntil([&] { return ZISim_FramesDelivered(path) >= 1; }));
            ASSERT_TRUE(orvatest::waitUntil([&] { return counter->count >= 1; }));
            const int before = counter->count;
            ASSERT_TRUE(push(path));
            EXPECT_EQ(counter->count, before + 1) << "one subscription, not two";
            EXPECT_EQ(device->stopCapture(), kOrvaOK);
            EXPECT_FALSE(device->isCapturing());
            ASSERT_EQ(device->startCapture(), kOrvaOK); // left capturing for the faulty close below
        }
        inject(faults);
        device->closeDevice();
        EXPECT_FALSE(device->isOpen());
        device.reset();
        const int before = counter->count;
        push(path); // the library may still hold the subscription: it reaches nothing
        EXPECT_EQ(counter->count, before);
        ZISim_ClearInjections();
    }

    // A record session's start and stop with `faults` injected: a failed start leaves
    // the session free (no cycle through the devices), a good one makes a movie.
    void sessionLife(const std::vector<Fault>& faults)
    {
        fresh();
        auto camera = make<OrvaVideoDevice>(true);
        auto mic = make<OrvaAudioDevice>(false);
        ASSERT_TRUE(camera && mic);
        camera->setFormat(VideoFormatDescription::create(kCodec2VUY, 320, 240));
        mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
        const fs::path out = tmp / "out.mov";
        fs::remove(out);
        auto session = OrvaRecordSession::create(camera, mic, out.string());
        std::weak_ptr<OrvaRecordSession> watch = session;
        inject(faults);
        const int32_t started = session->startSession();
        EXPECT_EQ(session->isRunning(), started == 0);
        if (started != 0) {
            EXPECT_TRUE(camera->delegates().empty());
            EXPECT_TRUE(mic->delegates().empty());
        }
        for (int i = 0; i < 3; ++i) {
            push(kCameraPath);
            push(kMicrophonePath);
        }
        (void)session->stopSession();
        EXPECT_FALSE(session->isRunning());
        session.reset();
        EXPECT_TRUE(orvatest::waitUntil([&] { return watch.expired(); })) << "the devices keep the session";
        camera->closeDevice();
        mic->closeDevice();
        camera.reset();
        mic.reset();
        push(kCameraPath);
        push(kMicrophonePath);
        ZISim_ClearInjections();
    }

    fs::path tmp;
    std::string oldTmp;
};

TEST_F(FaultSweep, CameraCallsFailingAloneAndInPairs)
{
    sweep([&](const std::vector<Fault>& faults) { deviceLife<OrvaVideoDevice>(true, faults); });
}

TEST_F(FaultSweep, MicrophoneCallsFailingAloneAndInPairs)
{
    sweep([&](const std::vector<Fault>& faults) { deviceLife<OrvaAudioDevice>(false, faults); });
}

TEST_F(FaultSweep, RecordSessionCallsFailingAloneAndInPairs)
{
    setRecorderClosingTurnForTesting(0.01); // a life each for ~150 combinations
    sweep([&](const std::vector<Fault>& faults) { sessionLife(faults); });
    setRecorderClosingTurnForTesting(0.5);
}

TEST_F(FaultSweep, DevicesComingAndGoingWhileCaptureAndRecordingRun)
{
    fresh();
    ZISim_UseManualClock(0); // streams run on their own here
    auto camera = make<OrvaVideoDevice>(true);
    auto mic = make<OrvaAudioDevice>(false);
    ASSERT_TRUE(camera && mic);
    ASSERT_EQ(camera->openDevice(), kOrvaOK);
    ASSERT_EQ(mic->openDevice(), kOrvaOK);
    camera->setFormat(VideoFormatDescription::create(kCodec2VUY, 320, 240));
    mic->setFormat(OrvaAudioDevice::descriptionForWaveFormat(0x636D, 2, 48000, 16));
    auto session = OrvaRecordSession::create(camera, mic, (tmp / "storm.mov").string());
    ASSERT_EQ(session->startSession(), kOrvaOK);
    (void)mic->startVUMeter();

    // Another thread unplugs and plugs both devices over and over while this one
    // keeps asking the devices and the manager what they are.
    std::atomic<bool> done{false};
    std::thread storm([&] {
        for (int i = 0; i < 40; ++i) {
            (void)ZISim_Unplug(kCameraPath);
            (void)ZISim_Unplug(kMicrophonePath);
            plugCamera(kCameraPath, "Camera");
            plugMicrophone(kMicrophonePath, "Mic");
        }
        done = true;
    });
    auto manager = OrvaDeviceManager::getSharedInstance();
    while (!done) {
        (void)manager->getVideoDeviceList();
        (void)manager->getAudioDeviceList();
        (void)camera->isCapturing();
        (void)mic->channelLevels();
        std::this_thread::yield();
    }
    storm.join();
    ZISim_WaitIdle();

    (void)session->stopSession();
    (void)mic->stopVUMeter();
    std::weak_ptr<OrvaRecordSession> watch = session;
    session.reset();
    EXPECT_TRUE(watch.expired());
    (void)camera->stopCapture();
    camera->closeDevice();
    mic->closeDevice();
    EXPECT_FALSE(camera->isCapturing() || mic->isCapturing());
}

} // namespace
