// Task queues. A serial queue runs its tasks one after another, in submission order,
// on a thread of its own. async() returns at once; sync() waits for the task (and the
// tasks before it) and runs it inline when called from the queue's own thread. A
// queue whose last reference is dropped still runs the tasks already submitted, then
// its thread ends. global() is a shared queue whose tasks may run concurrently.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orva {

class DispatchQueue {
public:
    using Task = std::function<void()>;

    [[nodiscard]] static std::shared_ptr<DispatchQueue> create(std::string label);
    static DispatchQueue& global();

    void async(Task task);
    void sync(const Task& task);
    const std::string& label() const;
    // True when called from a task of this queue.
    bool isCurrent() const;

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    struct Impl;

private:
    DispatchQueue(std::string label, int threads);
    std::shared_ptr<Impl> mImpl;
};

} // namespace orva
