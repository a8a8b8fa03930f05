#include "SimBus.h"
#include "Wait.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/OrvaStatus.h>
#include "devices/video/OrvaPropertySets.h"
#include <orva/OrvaVideoDevice.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

const char* kPath = "usb-1/video";

class CameraExtras : public SimBusTest {
protected:
    void TearDown() override
    {
        camera.reset();
        OrvaDeviceManager::destroy();
        SimBusTest::TearDown();
    }
    void openCamera(bool bare = false, uint16_t vendorID = 0x2E7A)
    {
        plug(ZISIM_CAMERA, kPath, "Cam", 0x0100, 0x0101, vendorID);
        if (bare) {
            ZISim_Reset();
            ZISim_SetBuiltInDevices(0);
            ZISimDeviceDesc d{};
            d.type = ZISIM_CAMERA;
            d.path = kPath;
            d.name = "Cam";
            d.vendorID = vendorID;
            ASSERT_EQ(ZISim_Plug(&d), 0);
            ZISim_WaitIdle();
        }
        auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
        ASSERT_FALSE(cameras->empty());
        camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice((*cameras)[0]));
        ASSERT_EQ(camera->openDevice(), kOrvaOK);
        ZISim_JournalClear();
    }
    std::vector<std::string> lines(const std::string& text)
    {
        std::vector<std::string> out;
        for (auto& l : logLines())
            if (l == text) out.push_back(l);
        return out;
    }
    bool waitForLog(const std::string& text, size_t n)
    {
        return orvatest::waitUntil([&] { return lines(text).size() >= n; });
    }
    std::shared_ptr<OrvaVideoDevice> camera;
};

} // namespace

TEST_F(CameraExtras, QuickMovesRunOneAfterAnotherAsBursts)
{
    openCamera();
    camera->panRelativeLeft();
    camera->panRelativeLeft();
    camera->panRelativeLeft();
    camera->tiltRelativeDown();
    EXPECT_EQ(camera->relativePanTiltStop(0), 0);
    ASSERT_TRUE(waitForLog("tiltRelativeDown 1", 1));
    EXPECT_EQ(lines("panRelativeLeft -1").size(), 3u);

    const std::string set = "set=EEACD05B-1930-487F-80EA-A91A94B64F51, id=14, value=";
    std::vector<std::string> values;
    for (auto& l : calls("VCI_Set_Property")) {
        const auto at = l.find(set);
        ASSERT_NE(at, std::string::npos) << l;
        values.push_back(l.substr(at + set.size(), 8));
    }
    EXPECT_EQ(values, (std::vector<std::string>{"01000000", "00000000", "01000000", "00000000", "01000000",
                                                "00000000", "0000FF00", "00000000"}));
    EXPECT_EQ(camera->getPanRelCur()->intValue(), 3) << "the head moved";
    EXPECT_EQ(camera->getTiltRelCur()->intValue(), -1);

    // A move after the stop makes a new queue and still runs.
    camera->panRelativeRight();
    ASSERT_TRUE(waitForLog("panRelativeRight 1", 1));
}

TEST_F(CameraExtras, QueuedMovesKeepTheDeviceAlive)
{
    openCamera();
    std::weak_ptr<OrvaVideoDevice> weak = camera;
    camera->tiltRelativeUp();
    camera.reset();
    EXPECT_FALSE(weak.expired());
    ASSERT_TRUE(waitForLog("tiltRelativeUp -1", 1));
    EXPECT_TRUE(orvatest::waitUntil([&] { return weak.expired(); }));
}

TEST_F(CameraExtras, ResetRetriesWhileRefused)
{
    openCamera();
    auto start = std::chrono::steady_clock::now();
    camera->resetPanTiltRel();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95)) << "waits after success too";
    EXPECT_EQ(lines("resetPanTiltRel Result 0").size(), 1u);

    ZISim_InjectResult("VCI_Set_Property", 5, 100);
    camera->resetPanTiltRel();
    EXPECT_EQ(lines("resetPanTiltRel Result 5").size(), 6u);
    ZISim_ClearInjections();

    ZISim_InjectResult("VCI_Set_Property", 5, 2);
    camera->resetPanTiltRel();
    EXPECT_EQ(lines("resetPanTiltRel Result 5").size(), 8u);
    EXPECT_EQ(lines("resetPanTiltRel Result 0").size(), 2u);
}

TEST_F(CameraExtras, RelativeSupportQuery)
{
    openCamera();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(camera->isPTZRelativeSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "item 0 = 1 \n");

    // Ids 3, 1, 2: two lines, then YES.
    uint8_t zero[4] = {};
    for (uint32_t id : {3u, 1u, 2u}) (void)id;
    ZISim_Reset();
    ZISim_SetBuiltInDevices(0);
    camera.reset();
    OrvaDeviceManager::destroy();
    ZISimDeviceDesc d{};
    d.type = ZISIM_CAMERA;
    d.path = kPath;
    ASSERT_EQ(ZISim_Plug(&d), 0);
    ZISim_WaitIdle();
    for (uint32_t id : {3u, 1u, 2u})
        ASSERT_EQ(ZISim_SetProperty(kPath, PanTiltExtensionSet.uuid, id, 4, zero, zero, zero, zero), 0);
    auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
    camera = std::dynamic_pointer_cast<OrvaVideoDevice>(OrvaAVDevice::newDevice((*cameras)[0]));
    ASSERT_EQ(camera->openDevice(), kOrvaOK);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(camera->isPTZRelativeSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "item 0 = 3 \nitem 1 = 1 \n");

    ZISim_InjectResult("VCI_Enum_Property_Items", 0, 1);
    EXPECT_FALSE(camera->isPTZRelativeSupported());
    ZISim_InjectResultAfter("VCI_Enum_Property_Items", 1, 9, 1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(camera->isPTZRelativeSupported());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n VCI_Enum_Property_Items is failed with error 9");

    // An absolute head answers NO, whatever the extension set lists.
    uint8_t head[8] = {};
    ASSERT_EQ(ZISim_SetProperty(kPath, CameraTerminalSet.uuid, 13, 8, head, head, head, head), 0);
    EXPECT_FALSE(camera->isPTZRelativeSupported());
}

TEST_F(CameraExtras, InformationRecordsFromEitherSet)
{
    openCamera(/*bare*/ true);
    EXPECT_TRUE(camera->getFirmwareVersion().isNull());
    EXPECT_FALSE(camera->getFirmwareCRCControl());
    EXPECT_TRUE(camera->getSensorInfo().isNull());
    auto eeprom = camera->getEEPROMInfo();
    EXPECT_EQ(eeprom.get("Major").number()->intValue(), 0);
    EXPECT_EQ(eeprom.get("Minor").number()->intValue(), 0);

    const uint8_t firmware[4] = {0x05, 0x02, 0x1C, 0x01}, crc[2] = {0xFE, 0xFF}, sensor[2] = {3, 7},
                  rom[8] = {5, 2, 9, 9, 9, 9, 9, 9};
    for (const PropertySet* set : {&AlternateDeviceInfoSet, &DeviceInfoSet}) {
        ASSERT_EQ(ZISim_SetProperty(kPath, set->uuid, 1, 4, firmware, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ZISim_SetProperty(kPath, set->uuid, 2, 2, crc, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ZISim_SetProperty(kPath, set->uuid, 3, 8, rom, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ZISim_SetProperty(kPath, set->uuid, 4, 2, sensor, nullptr, nullptr, nullptr), 0);
        ZISim_JournalClear();
        auto version = camera->getFirmwareVersion();
        EXPECT_EQ(version.get("Major").number()->intValue(), 2);
        EXPECT_EQ(version.get("Minor").number()->intValue(), 5);
        EXPECT_EQ(version.get("BuildNo").number()->intValue(), 284);
        EXPECT_EQ(version.get("BuildNo").number()->kind(), Number::Kind::Int32);
        EXPECT_EQ(calls("VCI_Get_Property").size(), set == &DeviceInfoSet ? 1u : 2u);
        EXPECT_EQ(camera->getFirmwareCRCControl()->intValue(), 65534);
        EXPECT_EQ(camera->getEEPROMInfo().get("Major").number()->intValue(), 5);
        EXPECT_EQ(camera->getEEPROMInfo().get("Minor").number()->intValue(), 2);
        EXPECT_EQ(camera->getSensorInfo().get("SensorTech").number()->intValue(), 3);
        EXPECT_EQ(camera->getSensorInfo().get("SensorType").number()->intValue(), 7);
    }
}

TEST_F(CameraExtras, BuiltInCameraIsFoundAnywhereInTheList)
{
    EXPECT_FALSE(OrvaVideoDevice::hasBuiltInCamera()) << "empty list";
    OrvaDeviceManager::destroy();
    plug(ZISIM_CAMERA, "usb-1/video", "A", 1);
    plug(ZISIM_CAMERA, "usb-2/video", "Built-in", 2, 0x0101, 0x05AC);
    EXPECT_TRUE(OrvaVideoDevice::hasBuiltInCamera());
}
