#include <orva/OrvaDeviceManager.h>

#include "Utilities/unistr.h"
#include "platform/foundation/Bundle.h"
#include <orva/NotificationCenter.h>
#include "platform/foundation/PropertyList.h"

#include <orva/SharedSlot.h>

#include <zedederadIvo.h>

#include <mutex>

namespace orva {

const char* const KPXDeviceAdded = "kKPXDeviceAdded";
const char* const KPXDeviceRemoved = "kKPXDeviceRemoved";

namespace {

std::mutex gSharedMutex;
std::shared_ptr<OrvaDeviceManager> gShared;

// Text of a listing entry's 1024-unit field: the units before its 0 unit, and never
// more than the field holds when the library left out the 0 unit.
std::string fieldText(const uint16_t* field)
{
    unichar bounded[ZI_DEVICE_TEXT_UNITS + 1];
    unistr_copy(bounded, field, ZI_DEVICE_TEXT_UNITS + 1);
    return unistr_createCFString(bounded);
}

// The library's plug-and-play events (7 and 8, 72 and 73), on its thread.
void PNPVideoDeviceCallback(void* /*reserved*/, _VCI_EVENT_INFO* info)
{
    if (info && info->context) static_cast<OrvaDeviceManager*>(info->context)->updateVideoDeviceList();
}

void PNPAudioDeviceCallback(void* /*reserved*/, _ACI_EVENT_INFO* info)
{
    if (info && info->context) static_cast<OrvaDeviceManager*>(info->context)->updateAudioDevicelist();
}

} // namespace

// The kept lists: each replaced whole, so a reader gets the old list or the new one.
class ORVA_NO_EXPORT OrvaDeviceManager::Private {
public:
    std::shared_ptr<const DeviceList> enumerate(bool video);
    std::shared_ptr<const DeviceList> keptList(SharedSlot<const DeviceList>& kept, bool video);
    void update(SharedSlot<const DeviceList>& kept, bool video);

    OrvaDeviceManager* mManager = nullptr;
    SharedSlot<const DeviceList> mVideoDevices;
    SharedSlot<const DeviceList> mAudioDevices;
};

std::shared_ptr<OrvaDeviceManager> OrvaDeviceManager::getSharedInstance()
{
    std::lock_guard lock(gSharedMutex);
    if (!gShared) gShared.reset(new OrvaDeviceManager());
    return gShared;
}

void OrvaDeviceManager::destroy()
{
    std::shared_ptr<OrvaDeviceManager> dropped;
    {
        std::lock_guard lock(gSharedMutex);
        dropped.swap(gShared);
    }
    // Released outside the lock: teardown waits for a callback in progress, whose
    // observers may ask for the shared instance.
}

OrvaDeviceManager::OrvaDeviceManager() : d(std::make_unique<Private>())
{
    d->mManager = this;
    (void)VCI_Init();
    (void)ACI_Init();
    (void)VCI_Subscribe_Event(nullptr, VCI_EVENT_DEVICE_REMOVED, PNPVideoDeviceCallback, this);
    (void)VCI_Subscribe_Event(nullptr, VCI_EVENT_DEVICE_ARRIVED, PNPVideoDeviceCallback, this);
    (void)ACI_Subscribe_Event(nullptr, ACI_EVENT_DEVICE_REMOVED, PNPAudioDeviceCallback, this);
    (void)ACI_Subscribe_Event(nullptr, ACI_EVENT_DEVICE_ARRIVED, PNPAudioDeviceCallback, this);
}

OrvaDeviceManager::~OrvaDeviceManager()
{
    (void)VCI_UnSubscribe_Event(nullptr, VCI_EVENT_DEVICE_REMOVED);
    (void)VCI_UnSubscribe_Event(nullptr, VCI_EVENT_DEVICE_ARRIVED);
    (void)ACI_UnSubscribe_Event(nullptr, ACI_EVENT_DEVICE_REMOVED);
    (void)ACI_UnSubscribe_Event(nullptr, ACI_EVENT_DEVICE_ARRIVED);
    (void)VCI_Cleanup();
    (void)ACI_Cleanup();
    d->mVideoDevices.store(nullptr);
    d->mAudioDevices.store(nullptr);
}

std::shared_ptr<const OrvaDeviceManager::DeviceList> OrvaDeviceManager::Private::enumerate(bool video)
{
    auto list = std::make_shared<DeviceList>();
    auto enumDevices = video ? VCI_Enum_Devices : ACI_Enum_Devices;
    uint32_t size = 0, count = 0;
    if (enumDevices(nullptr, &size, &count) != ZI_MORE_DATA) return list;
    std::vector<_VCI_DEVICE_ENTRY> entries(count);
    if (enumDevices(entries.data(), &size, &count) != ZI_OK) return list;
    for (uint32_t i = 0; i < count && i < entries.size(); ++i) {
        const auto& entry = entries[i];
        auto info = std::make_shared<OrvaDeviceInfo>();
        info->setName(mManager->getDeviceFriendlyName(entry.productID, fieldText(entry.name)));
        info->setPath(fieldText(entry.path));
        info->setProductID(entry.productID);
        info->setVendorID(entry.vendorID);
        info->setRevisionID(video ? entry.revision : 0);
        info->setDeviceType(video ? 0 : 1);
        list->push_back(std::move(info));
    }
    return list;
}

std::shared_ptr<const OrvaDeviceManager::DeviceList> OrvaDeviceManager::enumarateVideoDevices()
{
    return d->enumerate(true);
}

std::shared_ptr<const OrvaDeviceManager::DeviceList> OrvaDeviceManager::enumarateAudioDevices()
{
    return d->enumerate(false);
}

std::shared_ptr<const OrvaDeviceManager::DeviceList>
OrvaDeviceManager::Private::keptList(SharedSlot<const DeviceList>& kept, bool video)
{
    if (auto list = kept.load()) return list;
    // An update that kept a list meanwhile wins: it is the newer one.
    return kept.storeIfEmpty(enumerate(video));
}

std::shared_ptr<const OrvaDeviceManager::DeviceList> OrvaDeviceManager::getVideoDeviceList()
{
    return d->keptList(d->mVideoDevices, true);
}

std::shared_ptr<const OrvaDeviceManager::DeviceList> OrvaDeviceManager::getAudioDeviceList()
{
    return d->keptList(d->mAudioDevices, false);
}

void OrvaDeviceManager::Private::update(SharedSlot<const DeviceList>& kept, bool video)
{
    auto fresh = enumerate(video);
    auto old = kept.load();
    const size_t oldCount = old ? old->size() : 0;
    std::shared_ptr<OrvaDeviceInfo> odd; // held until the notification has been posted
    const char* name;
    if (fresh->size() > oldCount) {
        odd = getOddDevice(fresh.get(), old.get());
        name = KPXDeviceAdded;
    } else {
        odd = getOddDevice(old.get(), fresh.get());
        name = KPXDeviceRemoved;
    }
    kept.store(fresh);
    old.reset();
    if (odd)
        NotificationCenter::defaultCenter().postNotificationName(name, nullptr, {{name, std::any(odd)}});
}

void OrvaDeviceManager::updateVideoDeviceList()
{
    d->update(d->mVideoDevices, true);
}

void OrvaDeviceManager::updateAudioDevicelist()
{
    d->update(d->mAudioDevices, false);
}

std::shared_ptr<OrvaDeviceInfo> OrvaDeviceManager::getOddDevice(const DeviceList* a, const DeviceList* newList)
{
    if (!a) return nullptr;
    for (const auto& candidate : *a) {
        bool found = false;
        if (newList)
            for (const auto& other : *newList)
                if (candidate->isEqualToDevice(*other)) {
                    found = true;
                    break;
                }
        if (!found) return candidate;
    }
    return nullptr;
}

std::string OrvaDeviceManager::getDeviceFriendlyName(uint64_t productID, const std::string& withFallbackName)
{
    auto path = Bundle::mainBundle()->pathForResource("DeviceNames", "plist");
    if (!path) return withFallbackName;
    auto table = PropertyList::readFile(*path);
    if (!table) return withFallbackName;
    const Value name = table->get(std::to_string(productID));
    if (const auto* text = name.text()) return *text;
    return withFallbackName;
}

} // namespace orva
