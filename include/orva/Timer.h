/// @file
/// A timer on a thread's run loop. Its callback runs on the thread that turns that
/// run loop, each time the interval has passed (repeating) or once. invalidate() may
/// be called from any thread; after it returns the callback is not started again.
#pragma once

#include <orva/OrvaExport.h>

#include <atomic>
#include <functional>
#include <memory>

namespace orva {

/// A timer of a run loop (RunLoop::scheduledTimer()).
class ORVA_EXPORT Timer : public std::enable_shared_from_this<Timer> {
public:
    /// What runs when the timer fires.
    using Callback = std::function<void(Timer&)>;

    /// Seconds between firings.
    double timeInterval() const { return mInterval; }
    /// Whether it fires again and again.
    bool repeats() const { return mRepeats; }
    /// Whether it will still fire.
    bool isValid() const { return mValid.load(); }
    /// Stops it for good (any thread).
    void invalidate();

    ~Timer();

    /// Called by the run loop when the interval has passed.
    void fireFromLoop();

private:
    friend class RunLoop;
    Timer(double interval, bool repeats, Callback callback) : mInterval(interval), mRepeats(repeats), mCallback(std::move(callback)) {}

    double mInterval;
    bool mRepeats;
    Callback mCallback;
    std::atomic<bool> mValid{true};
    void* mSource = nullptr; ///< the GLib source, owned
};

} // namespace orva
