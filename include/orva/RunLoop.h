// Run loops over GLib's main contexts. The process's main thread uses GLib's default
// context, so a GTK or Qt host that runs it delivers timers and main-queue tasks with
// no glue; any other thread gets a context of its own on first use. current() and the
// run/timer calls act on the calling thread's loop; dispatchToMain() may be called
// from any thread and never runs the task inline.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/Timer.h>

#include <functional>
#include <memory>

namespace orva {

class ORVA_EXPORT RunLoop {
public:
    static RunLoop& current();
    static RunLoop& main();

    // Turns this loop (dispatching timers, tasks and other sources) until `seconds`
    // have passed. Must be called on the loop's own thread.
    void runUntilDate(double seconds);
    // Turns this loop until stop() is called (from any thread).
    void run();
    void stop();

    // A timer on this loop. The loop keeps it until it is invalidated (or fires once);
    // the caller's reference is only for invalidating it.
    std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Timer::Callback callback);

    // Adds a task to the main queue: it runs on the main thread when its loop turns.
    static void dispatchToMain(std::function<void()> task);

    void* context() const { return mContext; } // the GMainContext

private:
    explicit RunLoop(void* context) : mContext(context) {}
    void* mContext;
    bool mStopRequested = false;
};

} // namespace orva
