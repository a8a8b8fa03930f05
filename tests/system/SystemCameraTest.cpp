// The system capture library's cameras: discovery and hot-plug on real libudev over a
// umockdev testbed, and everything behind the device file (formats, capture,
// controls, extension units, failures) on a scripted UVC camera, all through the
// library's C ABI and the component above it.
#include "FakeUvcCamera.h"
#include "UdevTestbed.h"
#include "../DeliveryLog.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include "devices/video/OrvaPropertySets.h"
#include <orva/OrvaVideoDevice.h>
#include <orva/NotificationCenter.h>
#include "platform/foundation/SystemLog.h"
#include <orva/FormatDescription.h>

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace orva;
using orvatest::FakeUvcCamera;
using orvatest::UdevTestbed;

namespace {

constexpr uint32_t kFourcc2vuy = 0x32767579, kFourccAvc1 = 0x61766331;
const std::string kPath0 = "/dev/video0;usb=1-4;serial=SN0001";

// Waits for a condition with a generous deadline; the machine may be loaded.
template <typename Condition>
bool eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string utf8(const uint16_t* field)
{
    std::string out;
    for (size_t i = 0; i < ZI_DEVICE_TEXT_UNITS && field[i]; ++i) out += static_cast<char>(field[i]);
    return out;
}

std::vector<_VCI_DEVICE_ENTRY> listCameras()
{
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Devices(nullptr, &size, &count) != ZI_MORE_DATA) return {};
    std::vector<_VCI_DEVICE_ENTRY> entries(count);
    if (VCI_Enum_Devices(entries.data(), &size, &count) != ZI_OK) return {};
    return entries;
}

using Frames = orvatest::DeliveryLog;

class SystemCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ORVA_ALL_VENDORS");
        ASSERT_EQ(ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SYSTEM), ZI_OK);
        SystemLog::setEchoToStandardError(false);
    }
    void TearDown() override
    {
        // A pan/tilt burst still queued holds the camera: it closes on that queue's
        // thread, and must have closed before the scripted camera goes.
        std::weak_ptr<OrvaVideoDevice> last = camera;
        camera.reset();
        EXPECT_TRUE(orvatest::waitUntil([&] { return last.expired(); }));
        OrvaDeviceManager::destroy();
        while (VCI_Cleanup() == ZI_OK) {
        }
        unsetenv("ORVA_ALL_VENDORS");
    }

    // The maker's camera on USB 1-4 as /dev/video0 (with its metadata node video1).
    std::string plugMakerCamera(std::vector<uint8_t> descriptors = {})
    {
        fake.addNode("/dev/video0");
        fake.addNode("/dev/video1", V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING);
        UdevTestbed::UsbCamera usb;
        usb.descriptors = std::move(descriptors);
        const std::string interface = testbed.addUsbCamera(usb);
        const std::string node = testbed.addNode("video0", interface);
        testbed.addNode("video1", interface);
        return node;
    }

    // Opens the first listed camera through the component.
    void openCamera()
    {
        auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
        ASSERT_EQ(cameras->size(), 1u);
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice((*cameras)[0]));
        ASSERT_TRUE(camera);
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
    }

    int32_t start(uint32_t code, int width, int height)
    {
        camera->setFormat(VideoFormatDescription::create(code, width, height));
        return camera->startCapture();
    }

    FakeUvcCamera fake;
    UdevTestbed testbed;
    std::shared_ptr<OrvaVideoDevice> camera;
};

TEST_F(SystemCamera, ListsTheMakersCaptureNodesWithTheirUsbParents)
{
    plugMakerCamera();
    fake.addNode("/dev/video2");
    UdevTestbed::UsbCamera other;
    other.bus = "2-1";
    other.vendorID = 0x046D;
    other.product = ""; // no product string: udev's V4L2 name names it
    other.serial = "";
    testbed.setProperty(testbed.addNode("video2", testbed.addUsbCamera(other)), "ID_V4L_PRODUCT", "Other Cam");
    fake.addNode("/dev/video3");
    fake.failOpen("/dev/video3", EACCES);
    UdevTestbed::UsbCamera locked;
    locked.bus = "3-2";
    locked.serial = "SN9";
    testbed.addNode("video3", testbed.addUsbCamera(locked));

    ASSERT_EQ(VCI_Init(), ZI_OK);
    auto entries = listCameras();
    ASSERT_EQ(entries.size(), 1u) << "the metadata node, the other vendor and the locked node are not listed";
    EXPECT_EQ(utf8(entries[0].path), kPath0);
    EXPECT_EQ(utf8(entries[0].name), "ZI Camera");
    EXPECT_EQ(entries[0].vendorID, 0x2E7A);
    EXPECT_EQ(entries[0].productID, 0x08E4);
    EXPECT_EQ(entries[0].revision, 0x0102);
    EXPECT_EQ(fake.openFiles(), 0) << "the walk closes what it opened";

    std::string report(ZISys_Describe(nullptr, 0) + 1, '\0');
    ZISys_Describe(report.data(), static_cast<uint32_t>(report.size()));
    EXPECT_NE(report.find("/dev/video0  ZI Camera  usb 1-4 2e7a:08e4 serial SN0001\n    listed as " + kPath0),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("/dev/video1"), std::string::npos);
    EXPECT_NE(report.find("does not capture video"), std::string::npos) << report;
    EXPECT_NE(report.find("vendor 046d is not the maker's (2e7a)"), std::string::npos) << report;
    EXPECT_NE(report.find("cannot open /dev/video3: Permission denied; join the group \""), std::string::npos)
        << "a locked node names the group that opens it: " << report;
    ASSERT_EQ(VCI_Cleanup(), ZI_OK);

    setenv("ORVA_ALL_VENDORS", "1", 1);
    ASSERT_EQ(VCI_Init(), ZI_OK);
    entries = listCameras();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(utf8(entries[1].path), "/dev/video2;usb=2-1");
    EXPECT_EQ(utf8(entries[1].name), "Other Cam");
    EXPECT_EQ(entries[1].vendorID, 0x046D);
}

TEST_F(SystemCamera, ArrivalsAndRemovalsReachTheManagerAsNotifications)
{
    std::mutex mutex;
    std::vector<std::string> heard;
    auto record = [&](const Notification& n) {
        auto info = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(n.userInfo.at(n.name));
        std::lock_guard lock(mutex);
        heard.push_back(n.name + " " + info->nameText() + " " + *info->path());
    };
    auto& center = NotificationCenter::defaultCenter();
    const auto added = center.addObserver(KPXDeviceAdded, record);
    const auto removed = center.addObserver(KPXDeviceRemoved, record);
    auto manager = OrvaDeviceManager::getSharedInstance();
    EXPECT_TRUE(manager->getVideoDeviceList()->empty());

    // umockdev's path translation is not thread-safe: the test touches the testbed
    // only once the library's event thread is done reading the node (it has opened
    // and closed it).
    const std::string node = plugMakerCamera();
    auto announce = [&](const char* action) {
        const int opened = fake.opens("/dev/video0");
        testbed.uevent(node, action);
        return eventually([&] { return fake.opens("/dev/video0") > opened && fake.openFiles() == 0; });
    };
    ASSERT_TRUE(announce("add"));
    ASSERT_TRUE(eventually([&] { return manager->getVideoDeviceList()->size() == 1; }));
    ASSERT_TRUE(announce("add")); // said twice: still one camera, one notification
    testbed.uevent(node, "remove");
    ASSERT_TRUE(eventually([&] { return manager->getVideoDeviceList()->empty(); }));

    center.removeObserver(added);
    center.removeObserver(removed);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0], "kKPXDeviceAdded ZI Camera " + kPath0);
    EXPECT_EQ(heard[1], "kKPXDeviceRemoved ZI Camera " + kPath0);
}

TEST_F(SystemCamera, NodeFormatsAreOfferedAsAvc1And2vuy)
{
    plugMakerCamera();
    const v4l2_fract thirty{1, 30}, fifteen{1, 15};
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_H264, 1280, 720, {thirty}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_YUYV, 640, 480, {thirty, fifteen}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_YUYV, 1920, 1080, {{1, 5}}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_MJPEG, 1920, 1080, {thirty}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_MJPEG, 640, 480, {thirty}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_MJPEG, 1280, 720, {fifteen}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_UYVY, 320, 240, {thirty}});
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_NV12, 800, 600, {thirty}});
    openCamera();

    std::vector<std::string> offered;
    for (const auto& f : *camera->getSupportedFormats()) {
        const auto* video = dynamic_cast<const VideoFormatDescription*>(f.get());
        offered.push_back(std::string(video->mediaSubType() == kFourccAvc1 ? "avc1" : "2vuy") + " " +
                          std::to_string(video->dimensions().width) + "x" + std::to_string(video->dimensions().height));
    }
    EXPECT_EQ(offered, (std::vector<std::string>{"avc1 1280x720", "2vuy 1920x1080", "2vuy 1280x720", "2vuy 640x480",
                                                  "2vuy 320x240"}))
        << "NV12 is not offered";
    auto intervals = camera->getSupportedFrameIntervals(*VideoFormatDescription::create(kFourcc2vuy, 1920, 1080));
    ASSERT_EQ(intervals->size(), 2u) << "the sources' intervals together";
    EXPECT_EQ((*intervals)[0].integerValue(), 333333);
    EXPECT_EQ((*intervals)[1].integerValue(), 2000000);

    // 30 fps at 1080p comes from MJPEG (YUYV gives 5 there); at 480p YUYV is preferred.
    ASSERT_EQ(start(kFourcc2vuy, 1920, 1080), 0);
    EXPECT_EQ(fake.lastFormat("/dev/video0").pixelformat, static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(fake.lastInterval("/dev/video0").denominator, 30u);
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    ASSERT_EQ(start(kFourcc2vuy, 640, 480), 0);
    EXPECT_EQ(fake.lastFormat("/dev/video0").pixelformat, static_cast<uint32_t>(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(fake.lastInterval("/dev/video0").denominator, 30u) << "the default";
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    // A host's choice of 15 reaches the node as the camera's own fraction.
    camera->setFrameInterval(std::make_shared<const Number>(Number::numberWithInt(666666)));
    ASSERT_EQ(start(kFourcc2vuy, 640, 480), 0);
    EXPECT_EQ(fake.lastInterval("/dev/video0").numerator, 1u);
    EXPECT_EQ(fake.lastInterval("/dev/video0").denominator, 15u);
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    camera->setFrameInterval(nullptr);
    // 720p is only at 15 fps: the nearest interval is taken.
    ASSERT_EQ(start(kFourcc2vuy, 1280, 720), 0);
    EXPECT_EQ(fake.lastInterval("/dev/video0").denominator, 15u);
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    EXPECT_EQ(start(kFourcc2vuy, 800, 600), 7) << "a size the camera does not offer: no capture on the old one";
    EXPECT_FALSE(fake.streaming("/dev/video0"));
}

TEST_F(SystemCamera, YuyvFramesArriveAs2vuyWithTheirCaptureTimes)
{
    plugMakerCamera();
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_YUYV, 4, 2, {{1, 30}}});
    openCamera();
    auto frames = std::make_shared<Frames>();
    camera->addDelegate(frames);
    ASSERT_EQ(start(kFourcc2vuy, 4, kOrvaErrorNoFormat), 0);
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));

    // Y0 U Y1 V per pixel pair, rows of 8 bytes.
    const std::vector<uint8_t> yuyv = {10, 20, 11, 30, 12, 21, 13, 31, 14, 22, 15, 32, 16, 23, 17, 33};
    ASSERT_TRUE(fake.pushFrame("/dev/video0", yuyv, 5'000'123));
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", std::vector<uint8_t>(8, 0), 5'033'456)) << "a short frame";
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", yuyv, 5'066'789, true)) << "a frame the camera marked bad";
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", yuyv, 5'100'000));
    ASSERT_TRUE(frames->waitFor(2));
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);

    ASSERT_EQ(frames->count(), 2u) << "short and damaged frames are not handed on";
    EXPECT_EQ(frames->data[0],
              (std::vector<uint8_t>{20, 10, 30, 11, 21, 12, 31, 13, 22, 14, 32, 15, 23, 16, 33, 17}));
    EXPECT_EQ(frames->timestamps[0], 5'000'123);
    EXPECT_EQ(frames->timestamps[1], 5'100'000);
    EXPECT_FALSE(fake.streaming("/dev/video0"));
}

TEST_F(SystemCamera, MjpegFramesAreDecodedTo2vuy)
{
    plugMakerCamera();
    constexpr int kWidth = 64, kHeight = 32;
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_MJPEG, kWidth, kHeight, {{1, 30}}});
    openCamera();
    auto frames = std::make_shared<Frames>();
    camera->addDelegate(frames);
    ASSERT_EQ(start(kFourcc2vuy, kWidth, kHeight), kOrvaOK);
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));

    // A picture whose left half is (Y 60, U 90, V 200) and right half (Y 180, U 160, V 70).
    std::vector<uint8_t> y(kWidth * kHeight), u(kWidth / 2 * kHeight), v(kWidth / 2 * kHeight);
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x) {
            const bool left = x < kWidth / 2;
            y[row * kWidth + x] = left ? 60 : 180;
            if (x % 2 == 0) {
                u[row * kWidth / 2 + x / 2] = left ? 90 : 160;
                v[row * kWidth / 2 + x / 2] = left ? 200 : 70;
            }
        }
    tjhandle encoder = tjInitCompress();
    const unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    ASSERT_EQ(tjCompressFromYUVPlanes(encoder, planes, kWidth, strides, kHeight, TJSAMP_422, &jpeg, &jpegSize, 98, 0), 0);
    const std::vector<uint8_t> frame(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    tjDestroy(encoder);

    ASSERT_TRUE(fake.pushFrame("/dev/video0", std::vector<uint8_t>{0xFF, 0xD8, 0x00}, 1000)) << "a broken JPEG";
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", frame, 2000));
    ASSERT_TRUE(frames->waitFor(1));
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    ASSERT_EQ(frames->count(), 1u) << "the broken frame is dropped";
    const auto& out = frames->data[0];
    ASSERT_EQ(out.size(), size_t{kWidth * kHeight * 2});
    auto near = [](int a, int b) { return std::abs(a - b) <= 3; };
    const uint8_t* left = &out[(10 * kWidth + 4) * 2];   // row 10, pixels 4-5
    const uint8_t* right = &out[(20 * kWidth + 50) * 2]; // row 20, pixels 50-51
    EXPECT_TRUE(near(left[0], 90) && near(left[1], 60) && near(left[2], 200) && near(left[3], 60))
        << int(left[0]) << " " << int(left[1]) << " " << int(left[2]) << " " << int(left[3]);
    EXPECT_TRUE(near(right[0], 160) && near(right[1], 180) && near(right[2], 70) && near(right[3], 180))
        << int(right[0]) << " " << int(right[1]) << " " << int(right[2]) << " " << int(right[3]);
}

TEST_F(SystemCamera, H264ReachesTheComponentWithFourByteStartCodesOnly)
{
    plugMakerCamera();
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_H264, 1280, 720, {{1, 30}}});
    openCamera();
    auto frames = std::make_shared<Frames>();
    camera->addDelegate(frames);
    ASSERT_EQ(start(kFourccAvc1, 1280, 720), 0);
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));

    const std::vector<uint8_t> mixed = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88, 0x01};
    const std::vector<uint8_t> clean = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x65, 0x88, 0x01};
    ASSERT_TRUE(fake.pushFrame("/dev/video0", mixed, 1000));
    ASSERT_TRUE(frames->waitFor(1));
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", clean, 2000));
    ASSERT_TRUE(frames->waitFor(2));
    ASSERT_EQ(camera->stopCapture(), kOrvaOK);
    EXPECT_EQ(frames->data[0], clean) << "3-byte codes rewritten, nothing else changed";
    EXPECT_EQ(frames->data[1], clean);
    EXPECT_NE(frames->pointers[0], frames->pointers[1]) << "the rewritten frame is a copy; the clean one is the camera's buffer";
}

TEST_F(SystemCamera, StandardControlsMapOntoV4l2Controls)
{
    plugMakerCamera();
    fake.setControl("/dev/video0", V4L2_CID_BRIGHTNESS, FakeUvcCamera::range(-64, 64, 0, 12));
    const auto exposure = FakeUvcCamera::menu({1, 3}, 3, 3); // manual, aperture priority
    fake.setControl("/dev/video0", V4L2_CID_EXPOSURE_AUTO, exposure);
    fake.setControl("/dev/video0", V4L2_CID_EXPOSURE_AUTO_PRIORITY, FakeUvcCamera::range(0, 1, 0, 1));
    fake.setControl("/dev/video0", V4L2_CID_PAN_ABSOLUTE, FakeUvcCamera::range(-36000, 36000, 0, 0));
    fake.setControl("/dev/video0", V4L2_CID_TILT_ABSOLUTE, FakeUvcCamera::range(-36000, 36000, 0, -7200));
    fake.setControl("/dev/video0", V4L2_CID_PAN_SPEED, FakeUvcCamera::range(-8, 8, 0, 0));
    fake.setControl("/dev/video0", V4L2_CID_TILT_SPEED, FakeUvcCamera::range(-8, 8, 0, 0));
    openCamera();

    EXPECT_EQ(camera->getBrightnessMin()->integerValue(), -64);
    EXPECT_EQ(camera->getBrightnessMax()->integerValue(), 64);
    EXPECT_EQ(camera->getBrightnessCur()->integerValue(), 12);
    camera->setBrightnessCur(Number::numberWithInt(-20));
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_BRIGHTNESS), -20) << "a signed 16-bit value";
    EXPECT_FALSE(camera->getContrastCur()) << "a control the camera lacks reads null";

    EXPECT_TRUE(camera->isAutoExposureSet()) << "aperture priority (menu 3) is the UVC bit 8";
    camera->setAutoExposure(0);
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_EXPOSURE_AUTO_PRIORITY), 0);
    EXPECT_FALSE(camera->isAutoExposureSet());
    camera->setAutoExposure(1);
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);

    EXPECT_EQ(camera->getTiltCur()->integerValue(), -7200);
    camera->setPanCur(Number::numberWithInt(3600));
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_PAN_ABSOLUTE), 3600);
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_TILT_ABSOLUTE), -7200) << "tilt kept";
    EXPECT_EQ(fake.extendedSets("/dev/video0").back(), 2u) << "pan and tilt set together, in one call";

    // A relative move (direction bytes, speed 0) turns the head at its slowest, then stops it.
    const size_t before = fake.extendedSets("/dev/video0").size();
    camera->panRelativeLeft();
    ASSERT_TRUE(eventually([&] { return fake.extendedSets("/dev/video0").size() >= before + 2; }));
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_PAN_SPEED), 0);
    EXPECT_EQ(fake.extendedSets("/dev/video0")[before], 2u) << "pan and tilt speeds together";
}

TEST_F(SystemCamera, CameraWithOnlyAutoExposureTakesItForAperturePriority)
{
    plugMakerCamera();
    const auto exposure = FakeUvcCamera::menu({0, 1}, 0, 1); // auto, manual
    fake.setControl("/dev/video0", V4L2_CID_EXPOSURE_AUTO, exposure);
    openCamera();
    camera->setAutoExposure(1);
    EXPECT_EQ(fake.controlValue("/dev/video0", V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_AUTO);
}

TEST_F(SystemCamera, VendorSetsAreExtensionUnitsFoundByGuid)
{
    // The device-information unit as the descriptor stores its GUID: the first three
    // fields little-endian (69678EE4-410F-40DB-A850-7420D7D8240E).
    const uint8_t stored[16] = {0xE4, 0x8E, 0x67, 0x69, 0x0F, 0x41, 0xDB, 0x40,
                                0xA8, 0x50, 0x74, 0x20, 0xD7, 0xD8, 0x24, 0x0E};
    plugMakerCamera(UdevTestbed::descriptorsWithExtensionUnit(stored, 4, {0x0B})); // selectors 1, 2, 4
    fake.setUnitControl("/dev/video0", 4, 1, {{0x05, 0x02, 0x1C, 0x01}, {}, {}, {}});
    fake.setUnitControl("/dev/video0", 4, 2, {{0x34, 0x12}, {}, {}, {}});
    fake.setUnitControl("/dev/video0", 4, 4, {{0x03, 0x07}, {0, 0}, {0xFF, 0xFF}, {0x03, 0x07}});
    openCamera();

    OrvaVideoDevice::UUIDBytes info;
    std::memcpy(info.data(), DeviceInfoSet.uuid, 16);
    EXPECT_TRUE(camera->isPropertySupported(info));
    EXPECT_TRUE(camera->isPropertyItemSupported(info, 4));
    EXPECT_FALSE(camera->isPropertyItemSupported(info, 3)) << "the EEPROM selector is not in the unit's bitmap";
    OrvaVideoDevice::UUIDBytes geometry;
    std::memcpy(geometry.data(), ImageGeometrySet.uuid, 16);
    EXPECT_FALSE(camera->isPropertySupported(geometry));

    const Value firmware = camera->getFirmwareVersion();
    ASSERT_FALSE(firmware.isNull());
    EXPECT_EQ(firmware.get("Major").number()->integerValue(), 2);
    EXPECT_EQ(firmware.get("Minor").number()->integerValue(), 5);
    EXPECT_EQ(firmware.get("BuildNo").number()->integerValue(), 284);
    EXPECT_EQ(camera->getFirmwareCRCControl()->integerValue(), 0x1234);
    EXPECT_EQ(camera->getSensorInfo().get("SensorType").number()->integerValue(), 7);
    const Value eeprom = camera->getEEPROMInfo();
    EXPECT_EQ(eeprom.get("Major").number()->integerValue(), 0) << "not supported: zeros, as documented";
    EXPECT_FALSE(camera->getFieldOfView(nullptr)) << "no image-geometry unit";

    // Writes go to the unit; a value of the wrong length is refused.
    const uint8_t crc[2] = {0x78, 0x56};
    PropertySet set = DeviceInfoSet;
    uint32_t id = 2, size = 2;
    void* handle = VCI_Open_Device(reinterpret_cast<const uint16_t*>(u"/dev/video0;usb=1-4;serial=SN0001"));
    ASSERT_TRUE(handle);
    ASSERT_EQ(VCI_Set_Property(handle, &set, &id, crc, &size, 0, 0), ZI_OK);
    EXPECT_EQ(fake.unitValue("/dev/video0", 4, 2), (std::vector<uint8_t>{0x78, 0x56}));
    size = 3;
    EXPECT_EQ(VCI_Set_Property(handle, &set, &id, crc, &size, 0, 0), ZI_ERR_INVALID_ARG);
    uint8_t minimum[2];
    size = 2;
    EXPECT_EQ(VCI_Get_Property(handle, PropertyQueryMinimum, &set, &id, minimum, &size, 0, 0), ZI_ERR_FAILED)
        << "a request the control does not answer";
    EXPECT_EQ(VCI_Close_Device(handle), ZI_OK);
}

TEST_F(SystemCamera, UnpluggedMidCaptureStopsDeliveringAndStillCloses)
{
    plugMakerCamera();
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_UYVY, 4, 2, {{1, 30}}});
    fake.setControl("/dev/video0", V4L2_CID_BRIGHTNESS, FakeUvcCamera::range(-64, 64, 0, 12));
    openCamera();
    auto frames = std::make_shared<Frames>();
    camera->addDelegate(frames);
    ASSERT_EQ(start(kFourcc2vuy, 4, kOrvaErrorNoFormat), 0);
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));
    ASSERT_TRUE(fake.pushFrame("/dev/video0", std::vector<uint8_t>(16, 7), 1000));
    ASSERT_TRUE(frames->waitFor(1));
    ASSERT_TRUE(fake.waitStreaming("/dev/video0"));

    fake.failIoctl(VIDIOC_DQBUF, ENODEV, 1000);
    ASSERT_TRUE(fake.pushFrame("/dev/video0", std::vector<uint8_t>(16, 8), 2000));
    ASSERT_TRUE(eventually([&] { return !camera->getBrightnessCur().has_value(); }))
        << "once gone, the camera's calls fail (ZI_ERR_NO_DEVICE)";
    EXPECT_EQ(frames->count(), 1u);
    EXPECT_EQ(camera->stopCapture(), kOrvaOK);
    camera->closeDevice();
    EXPECT_FALSE(camera->isOpen());
    fake.failIoctl(VIDIOC_DQBUF, 0, 0);
}

TEST_F(SystemCamera, CameraHeldByAnotherProgramIsRefusedAtOnce)
{
    plugMakerCamera();
    fake.addFormat("/dev/video0", {V4L2_PIX_FMT_UYVY, 4, 2, {{1, 30}}});
    openCamera();
    fake.failIoctl(VIDIOC_S_FMT, EBUSY);
    EXPECT_EQ(start(kFourcc2vuy, 4, kOrvaErrorNoFormat), 6) << "the library's busy (19) is the camera's refusal";
    EXPECT_FALSE(camera->isCapturing());
    EXPECT_EQ(start(kFourcc2vuy, 4, kOrvaErrorNoFormat), 0) << "free again";
    EXPECT_EQ(camera->stopCapture(), kOrvaOK);
}

TEST_F(SystemCamera, NoCameraNoHang)
{
    ASSERT_EQ(VCI_Init(), ZI_OK);
    EXPECT_TRUE(listCameras().empty());
    EXPECT_EQ(VCI_Open_Device(reinterpret_cast<const uint16_t*>(u"/dev/video0")), nullptr);
}

} // namespace
