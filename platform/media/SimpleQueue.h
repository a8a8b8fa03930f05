// A bounded first-in first-out queue of counted references (the platform's simple
// queue) for exactly one producer thread and one consumer thread: enqueue never
// blocks and fails when the queue is full, dequeue answers null when it is empty.
// Neither allocates after construction nor takes a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

namespace orva {

template <typename T>
class SimpleQueue {
public:
    explicit SimpleQueue(size_t capacity) : mSlots(capacity + 1) {}

    size_t capacity() const { return mSlots.size() - 1; }
    // Producer: false (the item is not taken) when full.
    bool enqueue(std::shared_ptr<T> item)
    {
        const size_t tail = mTail.load(std::memory_order_relaxed);
        const size_t next = (tail + 1) % mSlots.size();
        if (next == mHead.load(std::memory_order_acquire)) return false;
        mSlots[tail] = std::move(item);
        mTail.store(next, std::memory_order_release);
        return true;
    }
    // Consumer: the oldest item, or null.
    std::shared_ptr<T> dequeue()
    {
        const size_t head = mHead.load(std::memory_order_relaxed);
        if (head == mTail.load(std::memory_order_acquire)) return nullptr;
        std::shared_ptr<T> item = std::move(mSlots[head]);
        mHead.store((head + 1) % mSlots.size(), std::memory_order_release);
        return item;
    }
    // Consumer: the oldest item without taking it, or null.
    T* front() const
    {
        const size_t head = mHead.load(std::memory_order_relaxed);
        if (head == mTail.load(std::memory_order_acquire)) return nullptr;
        return mSlots[head].get();
    }
    size_t count() const
    {
        const size_t head = mHead.load(std::memory_order_acquire), tail = mTail.load(std::memory_order_acquire);
        return (tail + mSlots.size() - head) % mSlots.size();
    }

private:
    std::vector<std::shared_ptr<T>> mSlots;
    std::atomic<size_t> mHead{0};
    std::atomic<size_t> mTail{0};
};

} // namespace orva
