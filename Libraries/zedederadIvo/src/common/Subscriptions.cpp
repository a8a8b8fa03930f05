#include "Subscriptions.h"

#include <algorithm>

namespace zi {

int32_t Subscriptions::add(void* handle, uint32_t event, VCI_EVENT_CALLBACK video, ACI_EVENT_CALLBACK audio,
                           void* context)
{
    if (video == nullptr && audio == nullptr) return ZI_ERR_INVALID_ARG;
    auto entry = std::make_shared<Entry>();
    entry->handle = handle;
    entry->event = event;
    entry->video = video;
    entry->audio = audio;
    entry->context = context;
    std::lock_guard lock(mMutex);
    mEntries.push_back(std::move(entry));
    return ZI_OK;
}

template <typename Match>
void Subscriptions::withdraw(Match match, int32_t* found)
{
    std::unique_lock lock(mMutex);
    std::vector<std::shared_ptr<Entry>> removed;
    for (auto& entry : mEntries)
        if (match(*entry)) {
            entry->active = false;
            removed.push_back(entry);
        }
    if (found) *found = removed.empty() ? ZI_ERR_INVALID_ARG : ZI_OK;
    if (removed.empty()) return;
    std::erase_if(mEntries, [](const auto& e) { return !e->active; });
    const auto self = std::this_thread::get_id();
    mWaiters.fetch_add(1);
    mDone.wait(lock, [&] {
        return std::all_of(removed.begin(), removed.end(),
                           [&](const auto& e) { return e->inFlight.load() == 0 || e->caller.load() == self; });
    });
    mWaiters.fetch_sub(1);
}

int32_t Subscriptions::remove(void* handle, uint32_t event)
{
    int32_t found = ZI_ERR_INVALID_ARG;
    withdraw([&](const Entry& e) { return e.handle == handle && e.event == event; }, &found);
    return found;
}

void Subscriptions::removeHandle(void* handle)
{
    withdraw([&](const Entry& e) { return e.handle == handle; }, nullptr);
}

void Subscriptions::removeLibraryWide(bool video)
{
    withdraw([&](const Entry& e) { return e.handle == nullptr && (e.video != nullptr) == video; }, nullptr);
}

bool Subscriptions::wanted(void* handle, uint32_t event)
{
    std::lock_guard lock(mMutex);
    return std::any_of(mEntries.begin(), mEntries.end(),
                       [&](const auto& e) { return e->handle == handle && e->event == event; });
}

int Subscriptions::dispatch(void* handle, uint32_t event, const void* data, uint32_t length, int64_t timestamp)
{
    std::array<std::shared_ptr<Entry>, kMaxPerEvent> targets;
    size_t count = 0;
    {
        std::lock_guard lock(mMutex);
        const auto self = std::this_thread::get_id();
        for (auto& entry : mEntries)
            if (entry->handle == handle && entry->event == event && count < targets.size()) {
                entry->inFlight.fetch_add(1);
                entry->caller.store(self);
                targets[count++] = entry;
            }
    }
    int called = 0;
    for (size_t i = 0; i < count; ++i) {
        Entry& entry = *targets[i];
        if (entry.active.load()) {
            if (entry.video) {
                _VCI_EVENT_INFO info{};
                info.event = event;
                info.context = entry.context;
                info.handle = handle;
                info.length = length;
                info.data = data;
                info.timestamp = timestamp;
                entry.video(handle, &info);
            } else {
                _ACI_EVENT_INFO info{};
                info.event = event;
                info.context = entry.context;
                info.length = length;
                info.data = data;
                info.timestamp = timestamp;
                entry.audio(handle, &info);
            }
            ++called;
        }
        // Only a withdrawal in progress needs to hear that this call is over.
        if (entry.inFlight.fetch_sub(1) == 1 && mWaiters.load() > 0) {
            std::lock_guard lock(mMutex);
            mDone.notify_all();
        }
        targets[i].reset();
    }
    return called;
}

} // namespace zi
