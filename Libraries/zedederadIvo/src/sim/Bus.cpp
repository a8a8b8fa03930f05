#include "Bus.h"

#include <cstdlib>

#include "Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zi {

namespace {
constexpr size_t kJournalLimit = 200000; // oldest half dropped past this
}

Bus& Bus::instance()
{
    static Bus* bus = [] {
        auto* made = new Bus(); // never destroyed: callbacks may outlive static teardown
        made->injectFromEnvironment();
        return made;
    }();
    return *bus;
}

// ORVA_SIM_FAULTS="VCI_Enum_Pixel_Formats=1,ACI_Enum_Devices=1": those functions answer
// that result on every call, so a program using the simulator (the CLI's tests) can be
// shown a failing library from outside.
void Bus::injectFromEnvironment()
{
    const char* faults = std::getenv("ORVA_SIM_FAULTS");
    if (!faults) return;
    std::string text = faults;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        const size_t eq = item.find('=');
        if (eq != std::string::npos && eq > 0)
            injections[item.substr(0, eq)] = Injection{0, static_cast<int32_t>(std::atoi(item.c_str() + eq + 1)),
                                                      UINT32_MAX};
        start = end + 1;
    }
}

Bus::~Bus() = default;

void Bus::journal(std::string line)
{
    std::lock_guard lock(mutex);
    if (mJournal.size() >= kJournalLimit)
        mJournal.erase(mJournal.begin(), mJournal.begin() + static_cast<std::ptrdiff_t>(kJournalLimit / 2));
    mJournal.push_back(std::move(line));
}

uint32_t Bus::journalCount()
{
    std::lock_guard lock(mutex);
    return static_cast<uint32_t>(mJournal.size());
}

std::optional<std::string> Bus::journalLine(uint32_t index)
{
    std::lock_guard lock(mutex);
    if (index >= mJournal.size()) return std::nullopt;
    return mJournal[index];
}

void Bus::journalClear()
{
    std::lock_guard lock(mutex);
    mJournal.clear();
}

std::optional<int32_t> Bus::injected(const char* function)
{
    std::lock_guard lock(mutex);
    auto it = injections.find(function);
    if (it == injections.end()) return std::nullopt;
    if (it->second.skip > 0) {
        --it->second.skip;
        return std::nullopt;
    }
    const int32_t result = it->second.result;
    if (--it->second.times == 0) injections.erase(it);
    return result;
}

int64_t Bus::now()
{
    {
        std::lock_guard lock(mutex);
        if (manualClock) return manualNow;
    }
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int32_t Bus::init(bool video)
{
    bool plugDefaults = false;
    {
        std::lock_guard lock(mutex);
        (video ? mVideoInits : mAudioInits)++;
        plugDefaults = builtInsEnabled && !everPlugged;
        startEventThreadLocked();
    }
    if (plugDefaults) plugBuiltIns();
    return ZI_OK;
}

int32_t Bus::cleanup(bool video)
{
    std::unique_lock lock(mutex);
    int& count = video ? mVideoInits : mAudioInits;
    if (count == 0) return ZI_ERR_NOT_INITIALIZED;
    --count;
    if (count == 0) {
        // Library-wide subscriptions of this side end with it.
        for (auto& sub : mSubscriptions) {
            const bool videoEvent = sub->video != nullptr;
            if (sub->handle == nullptr && videoEvent == video) sub->active = false;
        }
        std::erase_if(mSubscriptions, [](const auto& s) { return !s->active; });
    }
    if (mVideoInits == 0 && mAudioInits == 0) stopEventThread(lock);
    return ZI_OK;
}

bool Bus::initialised(bool video)
{
    std::lock_guard lock(mutex);
    return (video ? mVideoInits : mAudioInits) > 0;
}

std::shared_ptr<Device> Bus::findDevice(const std::string& path)
{
    for (auto& d : mDevices)
        if (d->path == path) return d;
    return nullptr;
}

std::vector<std::shared_ptr<Device>> Bus::devicesOfType(uint32_t type)
{
    std::vector<std::shared_ptr<Device>> out;
    for (auto& d : mDevices)
        if (d->type == type) out.push_back(d);
    return out;
}

int32_t Bus::plug(const ZISimDeviceDesc& desc, bool builtIn)
{
    if ((desc.type != ZISIM_CAMERA && desc.type != ZISIM_MICROPHONE) || desc.path == nullptr || desc.path[0] == 0)
        return ZI_ERR_INVALID_ARG;
    std::unique_lock lock(mutex);
    if (findDevice(desc.path)) return builtIn ? ZI_OK : ZI_ERR_INVALID_ARG;
    auto device = std::make_shared<Device>();
    device->type = desc.type;
    device->path = desc.path;
    device->name = desc.name ? desc.name : "";
    device->vendorID = desc.vendorID;
    device->productID = desc.productID;
    device->revision = desc.revision;
    if (desc.rawPath)
        std::memcpy(device->rawPath.data(), desc.rawPath, sizeof(uint16_t) * ZI_DEVICE_TEXT_UNITS);
    else
        utf8ToUtf16Field(device->path, device->rawPath.data(), ZI_DEVICE_TEXT_UNITS);
    if (desc.rawName)
        std::memcpy(device->rawName.data(), desc.rawName, sizeof(uint16_t) * ZI_DEVICE_TEXT_UNITS);
    else
        utf8ToUtf16Field(device->name, device->rawName.data(), ZI_DEVICE_TEXT_UNITS);
    if (desc.withDefaultDescription) {
        if (desc.type == ZISIM_CAMERA)
            describeDefaultCamera(*device);
        else
            describeDefaultMicrophone(*device);
    }
    mDevices.push_back(device);
    everPlugged = true;
    lock.unlock();
    postDeviceEvent(desc.type == ZISIM_CAMERA ? VCI_EVENT_DEVICE_ARRIVED : ACI_EVENT_DEVICE_ARRIVED);
    return ZI_OK;
}

int32_t Bus::unplug(const std::string& path)
{
    std::unique_lock lock(mutex);
    auto it = std::find_if(mDevices.begin(), mDevices.end(), [&](const auto& d) { return d->path == path; });
    if (it == mDevices.end()) return ZI_ERR_NO_DEVICE;
    (*it)->plugged = false;
    const uint32_t type = (*it)->type;
    mDevices.erase(it);
    lock.unlock();
    postDeviceEvent(type == ZISIM_CAMERA ? VCI_EVENT_DEVICE_REMOVED : ACI_EVENT_DEVICE_REMOVED);
    return ZI_OK;
}

void* Bus::openHandle(const std::shared_ptr<Device>& device)
{
    auto h = std::make_shared<Handle>();
    h->id = mNextHandleID++;
    h->device = device;
    void* key = h.get();
    mHandles[key] = std::move(h);
    return key;
}

std::shared_ptr<Handle> Bus::handle(void* h)
{
    auto it = mHandles.find(h);
    return it == mHandles.end() ? nullptr : it->second;
}

std::string Bus::handleName(void* h)
{
    if (h == nullptr) return "null";
    auto it = mHandles.find(h);
    return it == mHandles.end() ? "invalid" : "h" + std::to_string(it->second->id);
}

int32_t Bus::closeHandle(void* h, std::shared_ptr<Stream>& stream)
{
    auto it = mHandles.find(h);
    if (it == mHandles.end()) return ZI_ERR_INVALID_HANDLE;
    stream = std::move(it->second->stream);
    for (auto& sub : mSubscriptions)
        if (sub->handle == h) sub->active = false;
    std::erase_if(mSubscriptions, [](const auto& s) { return !s->active; });
    mHandles.erase(it);
    return ZI_OK;
}

int32_t Bus::subscribe(void* handle, uint32_t event, VCI_EVENT_CALLBACK video, ACI_EVENT_CALLBACK audio, void* context)
{
    std::lock_guard lock(mutex);
    if (video == nullptr && audio == nullptr) return ZI_ERR_INVALID_ARG;
    if (handle != nullptr && !mHandles.count(handle)) return ZI_ERR_INVALID_HANDLE;
    const bool videoSide = video != nullptr;
    if (handle == nullptr && !(videoSide ? mVideoInits : mAudioInits)) return ZI_ERR_NOT_INITIALIZED;
    auto sub = std::make_shared<Subscription>();
    sub->id = mNextSubscriptionID++;
    sub->handle = handle;
    sub->event = event;
    sub->video = video;
    sub->audio = audio;
    sub->context = context;
    mSubscriptions.push_back(std::move(sub));
    return ZI_OK;
}

int32_t Bus::unsubscribe(void* handle, uint32_t event)
{
    std::unique_lock lock(mutex);
    if (handle != nullptr && !mHandles.count(handle)) return ZI_ERR_INVALID_HANDLE;
    std::vector<std::shared_ptr<Subscription>> removed;
    for (auto& sub : mSubscriptions)
        if (sub->handle == handle && sub->event == event) {
            sub->active = false;
            removed.push_back(sub);
        }
    if (removed.empty()) return ZI_ERR_INVALID_ARG;
    std::erase_if(mSubscriptions, [](const auto& s) { return !s->active; });
    const auto self = std::this_thread::get_id();
    ++mCallbackWaiters;
    callbacksDone.wait(lock, [&] {
        return std::all_of(removed.begin(), removed.end(),
                           [&](const auto& s) { return s->inFlight == 0 || s->callingThread == self; });
    });
    --mCallbackWaiters;
    return ZI_OK;
}

void Bus::postDeviceEvent(uint32_t event)
{
    std::lock_guard lock(mutex);
    const bool wanted = std::any_of(mSubscriptions.begin(), mSubscriptions.end(),
                                    [&](const auto& s) { return s->handle == nullptr && s->event == event; });
    if (!wanted || !mEventThread.joinable()) return;
    mEvents.push_back(event);
    changed.notify_all();
}

void Bus::waitIdle()
{
    std::unique_lock lock(mutex);
    if (mEventThread.joinable() && mEventThread.get_id() == std::this_thread::get_id()) return;
    changed.wait(lock, [&] { return (mEvents.empty() || holdEvents) && !mDelivering; });
}

void Bus::startEventThreadLocked()
{
    if (mEventThread.joinable()) return;
    mStopEvents = false;
    ++mEventGeneration;
    mEventThread = std::thread([this] { eventLoop(); });
}

void Bus::stopEventThread(std::unique_lock<std::mutex>& lock)
{
    if (!mEventThread.joinable()) return;
    mStopEvents = true;
    changed.notify_all();
    std::thread thread = std::move(mEventThread);
    lock.unlock();
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // cleanup from inside a callback: the loop ends on its own
    else
        thread.join();
    lock.lock();
    mEvents.clear();
    changed.notify_all();
}

void Bus::eventLoop()
{
    std::unique_lock lock(mutex);
    const uint64_t generation = mEventGeneration;
    for (;;) {
        changed.wait(lock, [&] {
            return mStopEvents || generation != mEventGeneration || (!mEvents.empty() && !holdEvents);
        });
        if (mStopEvents || generation != mEventGeneration) return;
        const uint32_t event = mEvents.front();
        mEvents.pop_front();
        mDelivering = true;
        lock.unlock();
        deliver(event);
        lock.lock();
        mDelivering = false;
        changed.notify_all();
    }
}

void Bus::deliver(uint32_t event)
{
    dispatch(nullptr, event, nullptr, 0, 0);
}

int Bus::dispatch(void* handle, uint32_t event, const void* data, uint32_t length, int64_t timestamp)
{
    // A fixed array, not a vector: the capture threads call this for every frame and
    // a real driver's completion path does not allocate either.
    std::array<std::shared_ptr<Subscription>, kMaxSubscribersPerEvent> targets;
    size_t count = 0;
    {
        std::lock_guard lock(mutex);
        for (auto& s : mSubscriptions)
            if (s->handle == handle && s->event == event && count < targets.size()) targets[count++] = s;
    }
    int called = 0;
    for (size_t i = 0; i < count; ++i) {
        auto& sub = targets[i];
        {
            std::lock_guard lock(mutex);
            if (!sub->active) continue;
            sub->inFlight++;
            sub->callingThread = std::this_thread::get_id();
        }
        if (sub->video) {
            _VCI_EVENT_INFO info{};
            info.event = event;
            info.context = sub->context;
            info.handle = handle;
            info.length = length;
            info.data = data;
            info.timestamp = timestamp;
            sub->video(handle, &info);
        } else {
            _ACI_EVENT_INFO info{};
            info.event = event;
            info.context = sub->context;
            info.length = length;
            info.data = data;
            info.timestamp = timestamp;
            sub->audio(handle, &info);
        }
        ++called;
        std::lock_guard lock(mutex);
        sub->inFlight--;
        if (mCallbackWaiters > 0) callbacksDone.notify_all(); // only an unsubscribe waits for this
    }
    return called;
}

size_t Bus::handlesOf(const std::shared_ptr<Device>& device, void** out, size_t capacity)
{
    // Opening order without allocating: an insertion sort by id into the caller's array.
    std::array<uint32_t, kMaxSubscribersPerEvent> ids{};
    size_t count = 0;
    for (auto& [key, h] : mHandles) {
        if (h->device != device || count == capacity || count == ids.size()) continue;
        size_t at = count++;
        while (at > 0 && ids[at - 1] > h->id) {
            ids[at] = ids[at - 1];
            out[at] = out[at - 1];
            --at;
        }
        ids[at] = h->id;
        out[at] = key;
    }
    return count;
}

std::vector<void*> Bus::handlesOf(const std::shared_ptr<Device>& device)
{
    std::vector<std::pair<uint32_t, void*>> found;
    for (auto& [key, h] : mHandles)
        if (h->device == device) found.emplace_back(h->id, key);
    std::sort(found.begin(), found.end());
    std::vector<void*> out;
    for (auto& f : found) out.push_back(f.second);
    return out;
}

bool Bus::deviceStreaming(const std::shared_ptr<Device>& device)
{
    for (auto& [key, h] : mHandles)
        if (h->device == device && h->stream) return true;
    return false;
}

void Bus::reset()
{
    std::vector<std::shared_ptr<Stream>> streams;
    {
        std::lock_guard lock(mutex);
        for (auto& [key, h] : mHandles)
            if (h->stream) streams.push_back(std::move(h->stream));
    }
    for (auto& s : streams) s->stop();
    std::unique_lock lock(mutex);
    stopEventThread(lock);
    for (auto& d : mDevices) d->plugged = false;
    mDevices.clear();
    mHandles.clear();
    for (auto& s : mSubscriptions) s->active = false;
    mSubscriptions.clear();
    mVideoInits = mAudioInits = 0;
    mJournal.clear();
    injections.clear();
    holdEvents = false;
    manualClock = false;
    manualNow = 0;
    builtInsEnabled = true;
    everPlugged = false;
    mNextHandleID = 1;
}

} // namespace zi
