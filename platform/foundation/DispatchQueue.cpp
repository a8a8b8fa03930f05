#include "platform/foundation/DispatchQueue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace orva {

struct DispatchQueue::Impl {
    std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool closing = false;
    std::vector<std::thread::id> workers;

    static void work(const std::shared_ptr<Impl>& self)
    {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->closing || !self->tasks.empty(); });
            if (self->tasks.empty()) return; // closing and drained
            Task task = std::move(self->tasks.front());
            self->tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr; // release what the task held before taking the lock again
            lock.lock();
        }
    }
};

DispatchQueue::DispatchQueue(std::string label, int threads) : mImpl(std::make_shared<Impl>())
{
    mImpl->label = std::move(label);
    for (int i = 0; i < threads; ++i) {
        std::thread t([impl = mImpl] { Impl::work(impl); });
        {
            std::lock_guard lock(mImpl->mutex);
            mImpl->workers.push_back(t.get_id());
        }
        t.detach(); // ends by itself once the queue is released and drained
    }
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label)
{
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(std::move(label), 1));
}

DispatchQueue& DispatchQueue::global()
{
    static auto* queue = new DispatchQueue("global", static_cast<int>(std::max(2u, std::thread::hardware_concurrency())));
    return *queue;
}

DispatchQueue::~DispatchQueue()
{
    std::lock_guard lock(mImpl->mutex);
    mImpl->closing = true;
    mImpl->wake.notify_all();
}

void DispatchQueue::async(Task task)
{
    std::lock_guard lock(mImpl->mutex);
    mImpl->tasks.push_back(std::move(task));
    mImpl->wake.notify_one();
}

void DispatchQueue::sync(const Task& task)
{
    if (isCurrent()) {
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&] {
        task();
        done.set_value();
    });
    finished.wait();
}

const std::string& DispatchQueue::label() const
{
    return mImpl->label;
}

bool DispatchQueue::isCurrent() const
{
    std::lock_guard lock(mImpl->mutex);
    const auto self = std::this_thread::get_id();
    return std::find(mImpl->workers.begin(), mImpl->workers.end(), self) != mImpl->workers.end();
}

} // namespace orva
