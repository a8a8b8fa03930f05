#include "SimBus.h"
#include "DeliveryLog.h"
#include "Wait.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include "devices/video/OrvaPropertySets.h"
#include <orva/OrvaVideoDevice.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <atomic>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

const char* kPath = "usb-1/video";

class VideoDevice : public SimBusTest {
protected:
    void TearDown() override
    {
        camera.reset();
        OrvaDeviceManager::destroy();
        SimBusTest::TearDown();
    }
    // Plugs a camera (standard description unless bare) and makes the device object.
    void makeCamera(uint16_t productID = 0x0100, bool bare = false)
    {
        ZISimDeviceDesc d{};
        d.type = ZISIM_CAMERA;
        d.path = kPath;
        d.name = "Cam";
        d.productID = productID;
        d.withDefaultDescription = bare ? 0 : 1;
        ASSERT_EQ(ZISim_Plug(&d), 0);
        ZISim_WaitIdle(); // a manager made earlier hears of it on the library's thread
        auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
        ASSERT_EQ(cameras->size(), 1u);
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice((*cameras)[0]));
        ASSERT_TRUE(camera);
    }
    void openCamera(uint16_t productID = 0x0100, bool bare = false)
    {
        makeCamera(productID, bare);
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
        ZISim_JournalClear();
    }
    std::shared_ptr<const FormatDescription> format(uint32_t code, int w, int h)
    {
        return VideoFormatDescription::create(code, w, h);
    }
    template <typename T>
    T current(const PropertySet& set, uint32_t id)
    {
        T v{};
        EXPECT_EQ(ZISim_GetPropertyCurrent(kPath, set.uuid, id, &v, sizeof v), 0);
        return v;
    }
    template <typename T>
    void define(const PropertySet& set, uint32_t id, T cur, T def = 0, T min = 0, T max = 0)
    {
        ASSERT_EQ(ZISim_SetProperty(kPath, set.uuid, id, sizeof(T), &cur, &def, &min, &max), 0);
    }
    std::shared_ptr<OrvaVideoDevice> camera;
};

// The first 64 bytes of each frame are enough to tell the pattern's frames apart.
struct FrameLog : orvatest::DeliveryLog {
    FrameLog() : DeliveryLog(64) {}
};

// On its first frame removes itself from the camera and adds `next` after it.
struct HandOver : FrameLog {
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>& device) override
    {
        FrameLog::didCaptureFrame(frame, length, timestamp, device);
        if (auto camera = owner.lock(); camera && count() == 1) {
            camera->removeDelegate(std::static_pointer_cast<OrvaAVDeviceDelegate>(self.lock()));
            camera->addDelegate(next);
        }
    }
    std::weak_ptr<OrvaVideoDevice> owner;
    std::weak_ptr<HandOver> self;
    std::shared_ptr<FrameLog> next = std::make_shared<FrameLog>();
};

} // namespace

TEST_F(VideoDevice, CaptureParametersFollowTheFormat)
{
    openCamera();
    const struct {
        uint32_t code;
        int w, h;
        const char* expected;
    } cases[] = {
        {kCodecAVC1, 1280, 720, "h264=1, format='avc1', size=1280x720, interval=333333/10000000, bitRate=2048000, setting=24"},
        {kCodecAVC1, 1920, 1080, "h264=1, format='avc1', size=1920x1080, interval=333333/10000000, bitRate=1024000, setting=24"},
        {kCodec2VUY, 640, 480, "h264=0, format='2vuy', size=640x480, interval=333333/10000000, bitRate=0, setting=0"},
    };
    for (const auto& c : cases) {
        ZISim_JournalClear();
        EXPECT_EQ(camera->setCaptureFormat(*format(c.code, c.w, c.h)), kOrvaOK);
        const auto lines = calls("VCI_Set_Capture_Parameters");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], std::string("VCI_Set_Capture_Parameters(handle=h1, ") + c.expected + ") -> 0");
    }
    // A host that asks for one of the listed rates gets it; null goes back to 30.
    const auto vga = format(kCodec2VUY, 640, 480);
    const auto listed = camera->getSupportedFrameIntervals(*vga);
    ASSERT_TRUE(listed && listed->size() >= 2);
    camera->setFrameInterval(std::make_shared<const Number>((*listed)[1]));
    ZISim_JournalClear();
    EXPECT_EQ(camera->setCaptureFormat(*vga), kOrvaOK);
    EXPECT_NE(calls("VCI_Set_Capture_Parameters").at(0).find("interval=" + std::to_string((*listed)[1].integerValue()) +
                                                             "/10000000"),
              std::string::npos);
    EXPECT_EQ(camera->captureFrameInterval(), static_cast<uint32_t>((*listed)[1].integerValue()));
    camera->setFrameInterval(nullptr);
    EXPECT_EQ(camera->captureFrameInterval(), 333333u);
    // A size the camera does not have is refused.
    EXPECT_EQ(camera->setCaptureFormat(*format(kCodecAVC1, 1000, 1000)), 2);
    camera->closeDevice();
    EXPECT_EQ(camera->setCaptureFormat(*format(kCodecAVC1, 1280, 720)), 3);
}

TEST_F(VideoDevice, StartAndStopStatusCodes)
{
    makeCamera();
    EXPECT_EQ(camera->startCapture(), kOrvaErrorNotOpen) << "not open";
    ASSERT_EQ(camera->openDevice(), kOrvaOK);
    ZISim_JournalClear();
    EXPECT_EQ(camera->startCapture(), kOrvaErrorNoFormat) << "no format";
    EXPECT_TRUE(journal().empty()) << "start without a format calls nothing";

    camera->setFormat(format(kCodec2VUY, 320, 240));
    ZISim_InjectResult("VCI_Start_Capture", 19, 1);
    EXPECT_EQ(camera->startCapture(), kOrvaErrorCameraBusy);
    EXPECT_FALSE(camera->isCapturing());
    EXPECT_EQ(calls("VCI_UnSubscribe_Event"),
              (std::vector<std::string>{"VCI_UnSubscribe_Event(handle=h1, event=1) -> 0"}));

    ZISim_InjectResult("VCI_Subscribe_Event", 1, 1);
    EXPECT_EQ(camera->startCapture(), kOrvaErrorLibraryFailed);
    // A start the library fails (not busy) undoes nothing: the subscription stays
    // until a start withdraws it first, or the camera closes.
    ZISim_InjectResult("VCI_Start_Capture", 5, 1);
    ZISim_JournalClear();
    EXPECT_EQ(camera->startCapture(), kOrvaErrorLibraryFailed);
    EXPECT_FALSE(camera->isCapturing());
    EXPECT_TRUE(calls("VCI_UnSubscribe_Event").empty()) << "no step is undone";

    ZISim_JournalClear();
    EXPECT_EQ(camera->startCapture(), kOrvaOK);
    EXPECT_TRUE(camera->isCapturing());
    EXPECT_EQ(journal(), (std::vector<std::string>{
                             "VCI_Set_Capture_Parameters(handle=h1, h264=0, format='2vuy', size=320x240, "
                             "interval=333333/10000000, bitRate=0, setting=0) -> 0",
                             "VCI_UnSubscribe_Event(handle=h1, event=1) -> 0", // the failed start's, first
                             "VCI_Subscribe_Event(handle=h1, event=1, callback=set, context=set) -> 0",
                             "VCI_Start_Capture(handle=h1, substream=0) -> 0"}));
    ZISim_JournalClear();
    EXPECT_EQ(camera->startCapture(), kOrvaOK);
    EXPECT_TRUE(journal().empty()) << "a second start does nothing";

    // A failed stop leaves the camera capturing, subscribed; closing tries again.
    ZISim_InjectResult("VCI_Stop_Capture", 1, 1);
    ZISim_JournalClear();
    EXPECT_EQ(camera->stopCapture(), kOrvaErrorLibraryFailed);
    EXPECT_TRUE(camera->isCapturing());
    EXPECT_EQ(journal(), (std::vector<std::string>{"VCI_Stop_Capture(handle=h1, substream=0) -> 1"}));
    ZISim_JournalClear();
    camera->closeDevice();
    EXPECT_EQ(journal(), (std::vector<std::string>{"VCI_Stop_Capture(handle=h1, substream=0) -> 0",
                                                   "VCI_UnSubscribe_Event(handle=h1, event=1) -> 0",
                                                   "VCI_Close_Device(handle=h1) -> 0"}));
    EXPECT_FALSE(camera->isOpen());
    EXPECT_FALSE(camera->isCapturing());

    ZISim_JournalClear();
    EXPECT_EQ(camera->stopCapture(), kOrvaOK);
    EXPECT_TRUE(journal().empty()) << "stop when not capturing calls nothing, even closed";
}

TEST_F(VideoDevice, FormatListIsBuiltOnceAndKept)
{
    makeCamera();
    EXPECT_EQ(camera->getMediaFormats(), nullptr);
    auto empty = camera->getSupportedFormats();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    ASSERT_EQ(camera->openDevice(), kOrvaOK);
    EXPECT_EQ(camera->getSupportedFormats(), empty) << "the empty list made while closed stays";

    auto fresh = OrvaVideoDevice::create(camera->deviceInfo());
    ASSERT_EQ(fresh->openDevice(), kOrvaOK);
    EXPECT_EQ(*fresh->getMediaFormats(), (std::vector<std::string>{"avc1", "2vuy"}));
    auto formats = fresh->getSupportedFormats();
    ASSERT_EQ(formats->size(), 12u);
    ZISim_JournalClear();
    EXPECT_EQ(fresh->getSupportedFormats(), formats);
    EXPECT_TRUE(journal().empty());

    auto avc = OrvaVideoDevice::copyFormatsForCodec(kCodecAVC1, formats.get());
    ASSERT_EQ(avc->size(), 6u);
    for (auto& f : *avc) EXPECT_EQ(f->mediaSubType(), kCodecAVC1);
    EXPECT_EQ(std::static_pointer_cast<const VideoFormatDescription>((*avc)[1])->dimensions(), (VideoDimensions{1280, 720}));
    FormatList none;
    EXPECT_EQ(OrvaVideoDevice::copyFormatsForCodec(kCodecAVC1, &none), nullptr);
    EXPECT_EQ(OrvaVideoDevice::copyFormatsForCodec(kCodecAVC1, nullptr), nullptr);

    auto intervals = fresh->getSupportedFrameIntervals(*format(kCodecAVC1, 1280, 720));
    ASSERT_EQ(intervals->size(), 3u);
    EXPECT_EQ((*intervals)[0].unsignedIntValue(), 333333u);
    EXPECT_EQ((*intervals)[0].kind(), Number::Kind::UInt32);
    EXPECT_EQ(fresh->getSupportedFrameIntervals(), nullptr);
    fresh->closeDevice();
}

TEST_F(VideoDevice, FramesReachDelegatesInOrderOnTheLibraryThread)
{
    openCamera();
    ZISim_UseManualClock(1); // frames come when the test moves the clock, stamped exactly
    ZISim_SetClock(1000000);
    auto log = std::make_shared<FrameLog>();
    camera->addDelegate(log);
    camera->setFormat(format(kCodec2VUY, 320, 240));
    ASSERT_EQ(camera->startCapture(), kOrvaOK);
    ZISim_SetClock(1000000 + 3 * 33333);
    ASSERT_TRUE(log->waitFor(4));
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    const size_t n = log->count();
    ZISim_SetClock(2000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // a late frame would show here
    EXPECT_EQ(log->count(), n) << "nothing after the stop returned";
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(log->lengths[i], 320u * 240 * 2);
        EXPECT_NE(log->threads[i], std::this_thread::get_id());
        EXPECT_EQ(log->threads[i], log->threads[0]);
        if (i) {
            EXPECT_GT(log->timestamps[i], log->timestamps[i - 1]);
        }
    }
    EXPECT_EQ(log->deviceType, 0);
    EXPECT_EQ(log->timestamps[1] - log->timestamps[0], 33333);
}

TEST_F(VideoDevice, DelegatesMayChangeTheListFromInsideADelivery)
{
    openCamera();
    ZISim_UseManualClock(1);
    ZISim_SetClock(1000000);
    auto handOver = std::make_shared<HandOver>();
    handOver->owner = camera;
    handOver->self = handOver;
    auto after = std::make_shared<FrameLog>();
    camera->addDelegate(handOver);
    camera->addDelegate(after);
    camera->setFormat(format(kCodec2VUY, 320, 240));
    // Meanwhile another thread keeps adding and removing a delegate of its own.
    std::atomic<bool> done{false};
    std::thread churn([&] {
        auto passer = std::make_shared<FrameLog>();
        while (!done) {
            camera->addDelegate(passer);
            camera->removeDelegate(passer);
        }
    });
    ASSERT_EQ(camera->startCapture(), kOrvaOK);
    ZISim_SetClock(1000000 + 4 * 33333);
    ASSERT_TRUE(after->waitFor(5));
    ASSERT_TRUE(handOver->next->waitFor(4));
    done = true;
    churn.join();
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);

    EXPECT_EQ(handOver->count(), 1u) << "removed from inside its call: no frame after that one";
    EXPECT_EQ(after->count(), 5u) << "a delegate after it still got that frame, and every other";
    EXPECT_EQ(handOver->next->timestamps.front(), after->timestamps[1]) << "the added one from the next frame";
    EXPECT_EQ(camera->delegates().size(), 2u);
}

TEST_F(VideoDevice, H264FramesUseFourByteStartCodesWithHeadersFirst)
{
    openCamera();
    auto log = std::make_shared<FrameLog>();
    camera->addDelegate(log);
    camera->setFormat(format(kCodecAVC1, 320, 240));
    ASSERT_EQ(camera->startCapture(), kOrvaOK);
    ASSERT_TRUE(log->waitFor(2));
    camera->closeDevice();
    const auto& f = log->data[0];
    ASSERT_GE(f.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(f[4] & 0x1F, 7) << "the first frame starts with the SPS";
    EXPECT_EQ(calls("VCI_Start_Capture")[0], "VCI_Start_Capture(handle=h1, substream=1) -> 0");
}

TEST_F(VideoDevice, ControlsKeepTheirKindsAndNullIsNotZero)
{
    openCamera();
    auto brightness = camera->getBrightnessCur();
    ASSERT_TRUE(brightness);
    EXPECT_EQ(brightness->kind(), Number::Kind::Int16);
    EXPECT_EQ(camera->getContrastMax()->kind(), Number::Kind::UInt16);
    EXPECT_EQ(camera->getExposureMax()->kind(), Number::Kind::UInt32);
    EXPECT_EQ(camera->getZoomCur()->kind(), Number::Kind::Int32);
    EXPECT_EQ(camera->getPanRelMin()->kind(), Number::Kind::Int16);
    EXPECT_EQ(camera->getPanRelMin()->intValue(), -36);
    EXPECT_EQ(camera->isAutoFocusSet()->kind(), Number::Kind::Bool);
    EXPECT_EQ(camera->isAutoWhiteBalanceSet()->kind(), Number::Kind::UInt8);
    EXPECT_EQ(camera->getHueMin()->intValue(), -180);

    define<int16_t>(ProcessingUnitSet, 2, 0); // brightness 0 is a number, not null
    EXPECT_TRUE(camera->getBrightnessCur());
    EXPECT_EQ(camera->getBrightnessCur()->intValue(), 0);
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_FALSE(camera->getBrightnessCur());
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_EQ(camera->getAntiFlickerCur()->intValue(), 0) << "anti-flicker never answers null";
    EXPECT_FALSE(camera->getPanCur()) << "this camera has no absolute pan/tilt";

    // Setters pass the low bytes through without clamping; null writes 0.
    camera->setBrightnessCur(Number::numberWithInteger(70000));
    EXPECT_EQ(current<uint16_t>(ProcessingUnitSet, 2), 0x1170);
    camera->setBrightnessCur(Number::numberWithInteger(-1));
    EXPECT_EQ(current<uint16_t>(ProcessingUnitSet, 2), 0xFFFF);
    camera->setContrastCur(std::nullopt);
    EXPECT_EQ(current<uint16_t>(ProcessingUnitSet, 3), 0);
    camera->setZoomCur(Number::numberWithInteger(40000));
    EXPECT_EQ(current<uint32_t>(CameraTerminalSet, 11), 0xFFFF9C40u);
    camera->setWhiteBalAuto(2);
    EXPECT_EQ(current<uint8_t>(ProcessingUnitSet, 11), 2);
    camera->setAutoFocusCur(5);
    EXPECT_EQ(current<uint8_t>(CameraTerminalSet, 8), 1);
    camera->setPanRelCur(Number::numberWithInt(-3));
    EXPECT_EQ(current<uint32_t>(PanTiltExtensionSet, 1), 0x0000FFFDu);
    camera->setTiltRelCur(Number::numberWithInt(2));
    EXPECT_EQ(current<uint32_t>(PanTiltExtensionSet, 1), 0x00020000u);
}

TEST_F(VideoDevice, AbsolutePanTiltIsReadModifyWrite)
{
    openCamera(0x08E6); // the PTZ model has an absolute head
    define<uint64_t>(CameraTerminalSet, 13, (uint64_t{0xFFFFF060} << 32) | 100); // pan 100, tilt -4000
    camera->setPanCur(Number::numberWithInt(720));
    EXPECT_EQ(current<uint64_t>(CameraTerminalSet, 13), (uint64_t{0xFFFFF060} << 32) | 720);
    EXPECT_EQ(camera->getTiltCur()->intValue(), -4000);

    ZISim_InjectResult("VCI_Get_Property", 1, 1); // the tilt read fails
    camera->setPanCur(Number::numberWithInt(-5));
    EXPECT_EQ(current<uint64_t>(CameraTerminalSet, 13), uint64_t{0xFFFFFFFB}) << "tilt written as 0";
    camera->setTiltCur(Number::numberWithInt(9));
    EXPECT_EQ(current<uint64_t>(CameraTerminalSet, 13), (uint64_t{9} << 32) | 0xFFFFFFFB);
}

TEST_F(VideoDevice, ZoomMaximumComesFromTheModelTable)
{
    openCamera(0x08E6); // first row: 300
    EXPECT_EQ(camera->getZoomMax()->intValue(), 300);
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_EQ(camera->getZoomMax()->intValue(), 300) << "even when the library fails";
    camera.reset();
    (void)ZISim_Unplug(kPath);
    ZISim_WaitIdle();

    openCamera(0x08E4); // third row: 3, whatever the camera says
    EXPECT_EQ(camera->getZoomMax()->intValue(), 3);
    EXPECT_EQ(camera->getZoomMax()->kind(), Number::Kind::Int32);
    camera.reset();
    (void)ZISim_Unplug(kPath);
    ZISim_WaitIdle();

    openCamera(0x0100); // outside the table: the camera's own
    EXPECT_EQ(camera->getZoomMax()->intValue(), 4);
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_FALSE(camera->getZoomMax());
}

TEST_F(VideoDevice, AutomaticModesReadTheirOwnBits)
{
    openCamera();
    for (uint8_t mode : {8, 9, 0x0A}) {
        define<uint8_t>(CameraTerminalSet, 2, mode);
        EXPECT_TRUE(camera->isAutoExposureSet()) << int(mode);
    }
    for (uint8_t mode : {1, 2, 4}) {
        define<uint8_t>(CameraTerminalSet, 2, mode);
        EXPECT_FALSE(camera->isAutoExposureSet()) << int(mode);
    }
    define<uint8_t>(CameraTerminalSet, 3, 1);
    ZISim_JournalClear();
    camera->setAutoExposure(1);
    EXPECT_EQ(calls("VCI_Set_Property").size(), 1u);
    EXPECT_EQ(current<uint8_t>(CameraTerminalSet, 2), 8);
    EXPECT_EQ(current<uint8_t>(CameraTerminalSet, 3), 1) << "YES writes no priority byte";
    camera->setAutoExposure(0);
    EXPECT_EQ(current<uint8_t>(CameraTerminalSet, 2), 1);
    EXPECT_EQ(current<uint8_t>(CameraTerminalSet, 3), 0);

    define<uint8_t>(ProcessingUnitSet, 16, 2, 1);
    EXPECT_FALSE(camera->isAutoHueSet()) << "only 1 counts";
    EXPECT_TRUE(camera->getAutoHueDefault());
    define<uint8_t>(ProcessingUnitSet, 16, 1);
    EXPECT_TRUE(camera->isAutoHueSet());
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_FALSE(camera->isAutoHueSet());

    camera->setSunwise(7);
    EXPECT_EQ(current<uint8_t>(PropertySet{{0xF7, 0x54, 0x49, 0x96, 0x08, 0x19, 0x4E, 0xC2, 0x99, 0x7E, 0xAA, 0x41, 0x88,
                                             0x79, 0x64, 0xEA}, 2}, 6), 1);
    EXPECT_TRUE(camera->isSunwiseSet());
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_FALSE(camera->isSunwiseSet());
}

TEST_F(VideoDevice, SupportQueries)
{
    openCamera(0x0100, /*bare*/ true);
    uint8_t none = 0;
    EXPECT_FALSE(camera->isPropertySupported({})) << "a camera with no sets";
    ZISim_InjectResult("VCI_Get_Property", 14, 1);
    EXPECT_FALSE(camera->isAntiFlickerSupported());
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_TRUE(camera->isAntiFlickerSupported()) << "only 14 means the property is missing";

    // Mirror: no image-geometry set, then the set without id 13, then with it.
    EXPECT_FALSE(camera->getMirrorCur());
    camera->setMirrorCur(Number::numberWithInt(1));
    EXPECT_EQ(calls("VCI_Set_Property").back().substr(0, 17), "VCI_Set_Property(");
    define<uint8_t>(ImageGeometrySet, 5, 2);
    EXPECT_FALSE(camera->isMirrorSupported());
    EXPECT_FALSE(camera->getMirrorDef());
    define<uint8_t>(ImageGeometrySet, 13, 1, 0);
    EXPECT_TRUE(camera->isMirrorSupported());
    EXPECT_EQ(camera->getMirrorCur()->intValue(), 1);
    EXPECT_EQ(camera->getMirrorCur()->kind(), Number::Kind::UInt8);
    ZISim_InjectResultAfter("VCI_Get_Property", 0, 1, 1);
    EXPECT_EQ(camera->getMirrorCur()->intValue(), 0) << "supported but unreadable: the number 0";

    // Field of view: the low byte written; the slot always filled.
    camera->setFieldOfView(0x102);
    std::optional<Number> fov;
    EXPECT_TRUE(camera->getFieldOfView(&fov));
    EXPECT_EQ(fov->intValue(), 2);
    ZISim_InjectResult("VCI_Get_Property", 1, 1);
    EXPECT_FALSE(camera->getFieldOfView(&fov));
    ASSERT_TRUE(fov);
    EXPECT_EQ(fov->intValue(), 0);
    (void)none;
}

TEST_F(VideoDevice, ClosedDeviceStillAsksAndFails)
{
    makeCamera();
    EXPECT_FALSE(camera->getBrightnessCur());
    EXPECT_FALSE(camera->isAutoExposureSet());
    EXPECT_EQ(camera->getAntiFlickerCur()->intValue(), 0);
    camera->setBrightnessCur(Number::numberWithInt(1));
    EXPECT_EQ(calls("VCI_Set_Property").back(),
              "VCI_Set_Property(handle=null, set=B4A4D54F-45FD-4890-8CC8-3B4D807EB23A, id=2, value=0100, size=2, 0, 0) -> 2");
}
