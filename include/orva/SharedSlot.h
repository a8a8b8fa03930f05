/// @file
/// A slot holding a std::shared_ptr that any thread may read while another replaces
/// it: a reader gets the old or the new object whole. A short mutex guards only the
/// pointer copy (libstdc++ 12's std::atomic<std::shared_ptr> is opaque to
/// ThreadSanitizer, and this is as cheap for the rare writes the component makes).
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace orva {

/// A shared pointer read and replaced whole under a short lock: a reader gets the
/// old value or the new one, never a torn one.
template <typename T>
class SharedSlot {
public:
    SharedSlot() = default;
    SharedSlot(const SharedSlot&) = delete;
    SharedSlot& operator=(const SharedSlot&) = delete;

    /// The value now.
    std::shared_ptr<T> load() const
    {
        std::lock_guard lock(mMutex);
        return mValue;
    }
    /// Replaces the value.
    void store(std::shared_ptr<T> value)
    {
        std::shared_ptr<T> old;
        {
            std::lock_guard lock(mMutex);
            old = std::exchange(mValue, std::move(value));
        }
        // The old object is released outside the lock.
    }
    /// Stores `value` only when the slot is empty; answers what the slot then holds.
    std::shared_ptr<T> storeIfEmpty(std::shared_ptr<T> value)
    {
        std::lock_guard lock(mMutex);
        if (!mValue) mValue = std::move(value);
        return mValue;
    }

private:
    mutable std::mutex mMutex;
    std::shared_ptr<T> mValue;
};

} // namespace orva
