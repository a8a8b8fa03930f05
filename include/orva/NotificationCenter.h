// The process-wide notification centre. post() calls every matching observer
// synchronously on the posting thread, in the order they were added, and returns
// when they have all run. Observers may be added and removed from any thread; once
// removeObserver() returns, that observer is not running on another thread and will
// not be called again (a removal from inside the observer itself returns at once).
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

struct Notification {
    std::string name;
    std::shared_ptr<void> object; // the sender; often null
    std::map<std::string, std::any> userInfo;
};

class ORVA_EXPORT NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    // An empty name observes every notification.
    [[nodiscard]] Token addObserver(const std::string& name, Observer observer);
    void removeObserver(Token token);
    void post(const Notification& notification);
    void postNotificationName(const std::string& name, std::shared_ptr<void> object,
                              std::map<std::string, std::any> userInfo);

private:
    struct Entry {
        Token token;
        std::string name;
        Observer observer;
        std::recursive_mutex callLock; // held while the observer runs
        bool removed = false;
    };
    std::mutex mMutex;
    std::vector<std::shared_ptr<Entry>> mEntries;
    Token mNextToken = 1;
};

} // namespace orva
