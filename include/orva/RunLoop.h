/// @file
/// Run loops over GLib's main contexts. The process's main thread uses GLib's default
/// context, so a GTK or Qt host that runs it delivers timers and main-queue tasks with
/// no glue; any other thread gets a context of its own on first use. current() and the
/// run/timer calls act on the calling thread's loop; dispatchToMain() may be called
/// from any thread and never runs the task inline.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/Timer.h>

#include <functional>
#include <memory>

namespace orva {

/// A thread's run loop: GLib's main context of that thread.
class ORVA_EXPORT RunLoop {
public:
    /// The calling thread's loop (the default context on the main thread).
    static RunLoop& current();
    /// The main thread's loop (GLib's default context).
    static RunLoop& main();

    /// Turns this loop (dispatching timers, tasks and other sources) until `seconds`
    /// have passed. Must be called on the loop's own thread.
    void runUntilDate(double seconds);
    /// Turns this loop until stop() is called (from any thread).
    void run();
    /// Makes run() return (any thread).
    void stop();

    /// A timer on this loop. The loop keeps it until it is invalidated (or fires once);
    /// the caller's reference is only for invalidating it.
    std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Timer::Callback callback);

    /// Adds a task to the main queue: it runs on the main thread when its loop turns.
    static void dispatchToMain(std::function<void()> task);

    /// The GMainContext, for hosts that attach their own sources.
    void* context() const { return mContext; } // the GMainContext

private:
    explicit RunLoop(void* context) : mContext(context) {}
    void* mContext;
    bool mStopRequested = false;
};

} // namespace orva
