#include <orva/NotificationCenter.h>

#include <algorithm>

namespace orva {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static auto* center = new NotificationCenter(); // lives for the whole process
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer)
{
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->observer = std::move(observer);
    std::lock_guard lock(mMutex);
    entry->token = mNextToken++;
    mEntries.push_back(entry);
    return entry->token;
}

void NotificationCenter::removeObserver(Token token)
{
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mMutex);
        auto it = std::find_if(mEntries.begin(), mEntries.end(), [&](const auto& e) { return e->token == token; });
        if (it == mEntries.end()) return;
        entry = *it;
        mEntries.erase(it);
    }
    // Waits for a call in progress on another thread; re-entrant on this one.
    std::lock_guard call(entry->callLock);
    entry->removed = true;
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mMutex);
        for (auto& e : mEntries)
            if (e->name.empty() || e->name == notification.name) targets.push_back(e);
    }
    for (auto& e : targets) {
        std::lock_guard call(e->callLock);
        if (!e->removed) e->observer(notification);
    }
}

void NotificationCenter::postNotificationName(const std::string& name, std::shared_ptr<void> object,
                                              std::map<std::string, std::any> userInfo)
{
    post(Notification{name, std::move(object), std::move(userInfo)});
}

} // namespace orva
