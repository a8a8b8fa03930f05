/// @file
/// The process-wide notification centre. post() calls every matching observer
/// synchronously on the posting thread, in the order they were added, and returns
/// when they have all run. Observers may be added and removed from any thread; once
/// removeObserver() returns, that observer is not running on another thread and will
/// not be called again (a removal from inside the observer itself returns at once).
#pragma once

#include <orva/OrvaExport.h>

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orva {

/// One posted notification.
struct Notification {
    std::string name; ///< the notification's name
    std::shared_ptr<void> object; ///< the sender; often null
    std::map<std::string, std::any> userInfo; ///< what comes with it, by key
};

/// Delivers notifications by name to the observers that asked for them.
class ORVA_EXPORT NotificationCenter {
public:
    /// What an observer does with a notification (runs on the posting thread).
    using Observer = std::function<void(const Notification&)>;
    /// What addObserver() answers and removeObserver() takes.
    using Token = uint64_t;

    /// The process-wide centre the component posts its device notifications to.
    static NotificationCenter& defaultCenter();

    /// Calls `observer` for every notification of that name (an empty name: every
    /// notification) until removeObserver().
    [[nodiscard]] Token addObserver(const std::string& name, Observer observer);
    /// Stops the observer; waits for a call of it running on another thread.
    void removeObserver(Token token);
    /// Calls every matching observer on this thread, in the order they were added.
    void post(const Notification& notification);
    /// Posts a notification made of the three parts.
    void postNotificationName(const std::string& name, std::shared_ptr<void> object,
                              std::map<std::string, std::any> userInfo);

private:
    struct Entry {
        Token token;
        std::string name;
        Observer observer;
        std::recursive_mutex callLock; ///< held while the observer runs
        bool removed = false;
    };
    std::mutex mMutex;
    std::vector<std::shared_ptr<Entry>> mEntries;
    Token mNextToken = 1;
};

} // namespace orva
