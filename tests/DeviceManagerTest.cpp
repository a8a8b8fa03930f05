#include "SimBus.h"
#include "Wait.h"

#include <orva/OrvaDeviceManager.h>
#include <orva/NotificationCenter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace orva;
using orvatest::SimBusTest;

namespace {

std::vector<std::string> paths(const OrvaDeviceManager::DeviceList& list)
{
    std::vector<std::string> out;
    for (auto& d : list) out.push_back(*d->path());
    return out;
}

// Collects the device notifications and what the kept camera list held when each came.
struct Announcements {
    struct Entry {
        std::string name;
        std::shared_ptr<OrvaDeviceInfo> device;
        size_t keptCameras;
    };
    Announcements()
    {
        for (const char* name : {KPXDeviceAdded, KPXDeviceRemoved})
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(name, [this](const Notification& n) {
                std::shared_ptr<OrvaDeviceInfo> device;
                if (auto it = n.userInfo.find(n.name); it != n.userInfo.end())
                    device = std::any_cast<std::shared_ptr<OrvaDeviceInfo>>(it->second);
                const size_t kept = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList()->size();
                std::lock_guard lock(mutex);
                entries.push_back({n.name, device, kept});
                EXPECT_EQ(n.object, nullptr);
                EXPECT_EQ(n.userInfo.size(), 1u);
            }));
    }
    ~Announcements()
    {
        for (auto t : tokens) NotificationCenter::defaultCenter().removeObserver(t);
    }
    std::vector<Entry> take()
    {
        ZISim_WaitIdle();
        std::lock_guard lock(mutex);
        return std::exchange(entries, {});
    }
    std::mutex mutex;
    std::vector<Entry> entries;
    std::vector<NotificationCenter::Token> tokens;
};

class DeviceManager : public SimBusTest {
protected:
    void TearDown() override
    {
        OrvaDeviceManager::destroy();
        SimBusTest::TearDown();
    }
};

} // namespace

TEST_F(DeviceManager, StartSubscribesAndTeardownUndoesInOrder)
{
    auto manager = OrvaDeviceManager::getSharedInstance();
    EXPECT_EQ(OrvaDeviceManager::getSharedInstance(), manager);
    manager.reset();
    OrvaDeviceManager::destroy();

    const std::vector<std::string> expected = {
        "VCI_Init() -> 0",
        "ACI_Init() -> 0",
        "VCI_Subscribe_Event(handle=null, event=8, callback=set, context=set) -> 0",
        "VCI_Subscribe_Event(handle=null, event=7, callback=set, context=set) -> 0",
        "ACI_Subscribe_Event(handle=null, event=73, callback=set, context=set) -> 0",
        "ACI_Subscribe_Event(handle=null, event=72, callback=set, context=set) -> 0",
        "VCI_UnSubscribe_Event(handle=null, event=8) -> 0",
        "VCI_UnSubscribe_Event(handle=null, event=7) -> 0",
        "ACI_UnSubscribe_Event(handle=null, event=73) -> 0",
        "ACI_UnSubscribe_Event(handle=null, event=72) -> 0",
        "VCI_Cleanup() -> 0",
        "ACI_Cleanup() -> 0",
    };
    EXPECT_EQ(journal(), expected) << "no list is made at start";
}

TEST_F(DeviceManager, ListsAreEnumeratedOnceAndKept)
{
    plugCamera("usb-1/video", "Cam A", 0x0101);
    plugCamera("usb-2/video", "Cam B", 0x0102);
    auto manager = OrvaDeviceManager::getSharedInstance();
    ZISim_JournalClear();

    auto cameras = manager->getVideoDeviceList();
    EXPECT_EQ(paths(*cameras), (std::vector<std::string>{"usb-1/video", "usb-2/video"}));
    EXPECT_EQ(*(*cameras)[1]->name(), "Cam B");
    EXPECT_EQ((*cameras)[1]->productID(), 0x0102);
    EXPECT_EQ((*cameras)[1]->revisionID(), 0x0101);
    EXPECT_EQ((*cameras)[1]->deviceType(), 0);
    EXPECT_EQ(calls("VCI_Enum_Devices"),
              (std::vector<std::string>{"VCI_Enum_Devices(entries=null, size=0, count=0) -> 8",
                                        "VCI_Enum_Devices(entries=buf, size=8216, count=2) -> 0"}));

    EXPECT_EQ(manager->getVideoDeviceList(), cameras);
    EXPECT_EQ(calls("VCI_Enum_Devices").size(), 2u) << "the second read does not ask the library";

    // No microphones: the first call answers 0 and the empty list is kept too.
    EXPECT_TRUE(manager->getAudioDeviceList()->empty());
    EXPECT_TRUE(manager->getAudioDeviceList()->empty());
    EXPECT_EQ(calls("ACI_Enum_Devices"),
              (std::vector<std::string>{"ACI_Enum_Devices(entries=null, size=0, count=0) -> 0"}));
}

TEST_F(DeviceManager, FailedEnumerationGivesAnEmptyList)
{
    plugCamera("usb-1/video");
    auto manager = OrvaDeviceManager::getSharedInstance();

    ZISim_InjectResult("VCI_Enum_Devices", 1, 1); // the first call fails
    EXPECT_TRUE(manager->enumarateVideoDevices()->empty());

    ZISim_InjectResultAfter("VCI_Enum_Devices", 1, 9, 1); // the second call fails
    EXPECT_TRUE(manager->enumarateVideoDevices()->empty());

    ZISim_JournalClear();
    EXPECT_EQ(manager->enumarateVideoDevices()->size(), 1u);
    EXPECT_EQ(calls("VCI_Enum_Devices").size(), 2u);
}

TEST_F(DeviceManager, MicrophoneRecordsHaveRevisionZeroAndTypeOne)
{
    plug(ZISIM_MICROPHONE, "usb-1/audio", "Mic", 0x0200, /*revision*/ 0x0777);
    auto mics = OrvaDeviceManager::getSharedInstance()->getAudioDeviceList();
    ASSERT_EQ(mics->size(), 1u);
    EXPECT_EQ((*mics)[0]->revisionID(), 0);
    EXPECT_EQ((*mics)[0]->deviceType(), 1);
    EXPECT_EQ((*mics)[0]->productID(), 0x0200);
}

TEST_F(DeviceManager, ArrivalsAndRemovalsAreAnnouncedAfterTheListIsReplaced)
{
    plugCamera("usb-1/video", "First");
    auto manager = OrvaDeviceManager::getSharedInstance();
    Announcements heard;
    ASSERT_EQ(manager->getVideoDeviceList()->size(), 1u);

    plugCamera("usb-2/video", "Second");
    auto got = heard.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "kKPXDeviceAdded");
    EXPECT_EQ(*got[0].device->path(), "usb-2/video");
    EXPECT_EQ(got[0].keptCameras, 2u) << "observers see the new list";
    EXPECT_EQ(paths(*manager->getVideoDeviceList()), (std::vector<std::string>{"usb-1/video", "usb-2/video"}));

    ASSERT_EQ(ZISim_Unplug("usb-1/video"), 0);
    ZISim_WaitIdle();
    ASSERT_EQ(ZISim_Unplug("usb-2/video"), 0);
    got = heard.take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, "kKPXDeviceRemoved");
    EXPECT_EQ(*got[0].device->path(), "usb-1/video");
    EXPECT_EQ(*got[1].device->path(), "usb-2/video");
    EXPECT_EQ(*got[1].device->name(), "Second") << "a removed record stays usable";
    EXPECT_TRUE(manager->getVideoDeviceList()->empty());
}

TEST_F(DeviceManager, EventBeforeFirstReadAnnouncesAnArrival)
{
    auto manager = OrvaDeviceManager::getSharedInstance();
    Announcements heard;
    plugMicrophone("usb-9/audio", "Late Mic");
    auto got = heard.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "kKPXDeviceAdded");
    EXPECT_EQ(got[0].device->deviceType(), 1);
    EXPECT_EQ(manager->getAudioDeviceList()->size(), 1u);
}

TEST_F(DeviceManager, EqualCountsAreARemovalAndUnchangedListsPostNothing)
{
    plugCamera("usb-1/video", "Old");
    auto manager = OrvaDeviceManager::getSharedInstance();
    auto before = manager->getVideoDeviceList();
    Announcements heard;

    // Nothing changed: the list is replaced by a new enumeration, nothing is posted.
    manager->updateVideoDeviceList();
    EXPECT_TRUE(heard.take().empty());
    EXPECT_NE(manager->getVideoDeviceList(), before);
    EXPECT_EQ(paths(*manager->getVideoDeviceList()), paths(*before));

    // One camera swapped for another between two events: the old one is announced
    // leaving, the newcomer is not announced.
    ZISim_HoldEvents(1);
    ASSERT_EQ(ZISim_Unplug("usb-1/video"), 0);
    plugCamera("usb-2/video", "New");
    ZISim_HoldEvents(0);
    auto got = heard.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "kKPXDeviceRemoved");
    EXPECT_EQ(*got[0].device->path(), "usb-1/video");
    EXPECT_EQ(paths(*manager->getVideoDeviceList()), (std::vector<std::string>{"usb-2/video"}));

    // Two arrivals between two events: only the first newcomer is announced.
    ZISim_HoldEvents(1);
    plugCamera("usb-3/video");
    plugCamera("usb-4/video");
    ZISim_HoldEvents(0);
    got = heard.take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(*got[0].device->path(), "usb-3/video");
}

TEST(DeviceManagerOddDevice, FirstRecordOfAMissingFromB)
{
    auto make = [](std::initializer_list<const char*> ps) {
        auto list = std::make_shared<OrvaDeviceManager::DeviceList>();
        for (auto p : ps) {
            auto d = std::make_shared<OrvaDeviceInfo>();
            d->setPath(p);
            list->push_back(d);
        }
        return list;
    };
    auto a = make({"x", "y", "z"});
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(a.get(), make({"x", "z"}).get()), (*a)[1]);
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(a.get(), make({}).get()), (*a)[0]);
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(a.get(), nullptr), (*a)[0]);
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(a.get(), make({"z", "y", "x"}).get()), nullptr);
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(nullptr, a.get()), nullptr);
    EXPECT_EQ(OrvaDeviceManager::getOddDevice(make({}).get(), a.get()), nullptr);
}

TEST_F(DeviceManager, FriendlyNamesComeFromTheHostTable)
{
    plugCamera("usb-1/video", "Library Name", 1234);
    plugCamera("usb-2/video", "Other Library Name", 77);
    auto manager = OrvaDeviceManager::getSharedInstance();

    // No table: the library's names.
    EXPECT_EQ(*(*manager->enumarateVideoDevices())[0]->name(), "Library Name");

    writeDeviceNames(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>1234</key><string>Front Camera</string></dict></plist>)");
    auto named = manager->enumarateVideoDevices();
    EXPECT_EQ(*(*named)[0]->name(), "Front Camera");
    EXPECT_EQ(*(*named)[1]->name(), "Other Library Name") << "product not in the table";

    for (const char* bad : {"<plist><dict><key>1234</key><string>Front", "bplist00\x01\x02garbage", "",
                            "<plist version=\"1.0\"><array><string>x</string></array></plist>"}) {
        writeDeviceNames(bad);
        EXPECT_EQ(*(*manager->enumarateVideoDevices())[0]->name(), "Library Name") << bad;
    }
}

TEST_F(DeviceManager, FieldsWithoutTheirEndUnitAreReadUpToTheirWidth)
{
    std::vector<uint16_t> rawPath(1024, u'p'), rawName(1024, u'n');
    ZISimDeviceDesc d{};
    d.type = ZISIM_CAMERA;
    d.path = "unterminated";
    d.rawPath = rawPath.data();
    d.rawName = rawName.data();
    ASSERT_EQ(ZISim_Plug(&d), 0);
    auto cameras = OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
    ASSERT_EQ(cameras->size(), 1u);
    EXPECT_EQ(*(*cameras)[0]->path(), std::string(1024, 'p'));
    EXPECT_EQ(*(*cameras)[0]->name(), std::string(1024, 'n'));
}

TEST_F(DeviceManager, RepeatedStartAndDestroyLeaveNothingBehind)
{
    auto threads = [] {
        size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
        return n;
    };
    // One start and destroy first: threads the process makes once (a sanitizer's
    // background thread, GLib's) are there before counting.
    (void)OrvaDeviceManager::getSharedInstance()->getVideoDeviceList();
    OrvaDeviceManager::destroy();
    const size_t before = threads();
    for (int i = 0; i < 19; ++i) {
        auto m = OrvaDeviceManager::getSharedInstance();
        (void)m->getVideoDeviceList();
        m.reset();
        OrvaDeviceManager::destroy();
    }
    // A released queue's thread ends on its own once its last task ran: waited for.
    EXPECT_TRUE(orvatest::waitUntil([&] { return threads() <= before; }))
        << threads() << " threads, " << before << " before: the library's event thread ends with the last cleanup";
    plugCamera("usb-1/video");
    ZISim_WaitIdle();
    EXPECT_EQ(calls("VCI_Enum_Devices").size(), 20u) << "no subscription left to react to the plug";
}

// Readers on several threads never see a torn list while the library's thread
// replaces it hundreds of times.
TEST_F(DeviceManager, HotPlugStormWhileOtherThreadsRead)
{
    plugCamera("usb-0/video", "Steady");
    auto manager = OrvaDeviceManager::getSharedInstance();
    Announcements heard;
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!stop.load()) {
                auto list = manager->getVideoDeviceList();
                for (auto& d : *list) {
                    auto p = d->path();
                    ASSERT_TRUE(p);
                    ASSERT_EQ(p->rfind("usb-", 0), 0u);
                }
                (void)manager->getAudioDeviceList();
                reads++;
            }
        });
    for (int i = 0; i < 200; ++i) {
        const std::string path = "usb-" + std::to_string(1 + i % 3) + "/video";
        plugCamera(path, "Storm");
        if (i % 2) plugMicrophone("usb-m/audio");
        if (i % 10 == 0) ZISim_WaitIdle(); // some arrivals are seen before their removal
        (void)ZISim_Unplug(path.c_str());
        if (i % 2) (void)ZISim_Unplug("usb-m/audio");
    }
    ZISim_WaitIdle();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(paths(*manager->getVideoDeviceList()), (std::vector<std::string>{"usb-0/video"}));
    EXPECT_TRUE(manager->getAudioDeviceList()->empty());
    EXPECT_GE(heard.take().size(), 20u);
}
