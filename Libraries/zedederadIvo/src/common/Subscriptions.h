// The event subscriptions of one implementation: per handle (frames, audio buffers)
// and library-wide (handle null: device arrivals and removals). Thread-safe.
// dispatch() allocates nothing and holds the lock only while it picks its targets;
// remove() waits until no callback of the removed subscriptions runs on another
// thread, so a context is never used after its subscription is withdrawn.
#pragma once

#include "zedederadIvo.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zi {

class Subscriptions {
public:
    static constexpr size_t kMaxPerEvent = 16;

    // One of video/audio is set. ZI_ERR_INVALID_ARG when both are null.
    int32_t add(void* handle, uint32_t event, VCI_EVENT_CALLBACK video, ACI_EVENT_CALLBACK audio, void* context);
    // Withdraws every subscription of (handle, event); ZI_ERR_INVALID_ARG when there is none.
    int32_t remove(void* handle, uint32_t event);
    // Withdraws every subscription of a handle (the handle is being closed).
    void removeHandle(void* handle);
    // Withdraws the library-wide subscriptions of one half (the half is cleaned up).
    void removeLibraryWide(bool video);
    // Whether someone subscribed to (handle, event).
    bool wanted(void* handle, uint32_t event);
    // Calls the subscribers of (handle, event) on this thread; answers how many.
    int dispatch(void* handle, uint32_t event, const void* data, uint32_t length, int64_t timestamp);

private:
    struct Entry {
        void* handle = nullptr;
        uint32_t event = 0;
        VCI_EVENT_CALLBACK video = nullptr;
        ACI_EVENT_CALLBACK audio = nullptr;
        void* context = nullptr;
        std::atomic<bool> active{true};
        std::atomic<int> inFlight{0};
        std::atomic<std::thread::id> caller{};
    };
    template <typename Match>
    void withdraw(Match match, int32_t* found);

    std::mutex mMutex;
    std::condition_variable mDone;
    std::atomic<int> mWaiters{0};
    std::vector<std::shared_ptr<Entry>> mEntries;
};

} // namespace zi
