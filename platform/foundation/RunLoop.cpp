#include <orva/RunLoop.h>

#include <glib.h>

#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

namespace orva {

namespace {

bool isMainThread()
{
    return syscall(SYS_gettid) == getpid();
}

struct TimerRef {
    std::shared_ptr<Timer> timer;
};

gboolean fireTimer(gpointer data)
{
    auto timer = static_cast<TimerRef*>(data)->timer; // keep it alive during the call
    if (!timer->isValid()) return G_SOURCE_REMOVE;
    timer->fireFromLoop();
    return (timer->repeats() && timer->isValid()) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

} // namespace

RunLoop& RunLoop::main()
{
    static auto* loop = new RunLoop(g_main_context_default());
    return *loop;
}

RunLoop& RunLoop::current()
{
    if (isMainThread()) return main();
    struct ThreadLoop {
        GMainContext* context = nullptr;
        RunLoop* loop = nullptr;
        ~ThreadLoop()
        {
            if (!context) return;
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
            delete loop;
        }
    };
    thread_local ThreadLoop threadLoop;
    if (!threadLoop.loop) {
        threadLoop.context = g_main_context_new();
        g_main_context_push_thread_default(threadLoop.context);
        threadLoop.loop = new RunLoop(threadLoop.context);
    }
    return *threadLoop.loop;
}

void RunLoop::runUntilDate(double seconds)
{
    auto* ctx = static_cast<GMainContext*>(mContext);
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
    std::atomic<bool> done{false};
    GSource* wake = g_timeout_source_new(static_cast<guint>(seconds > 0 ? seconds * 1000 : 0));
    g_source_set_callback(
        wake,
        [](gpointer d) -> gboolean {
            static_cast<std::atomic<bool>*>(d)->store(true);
            return G_SOURCE_REMOVE;
        },
        &done, nullptr);
    g_source_attach(wake, ctx);
    while (!done.load() && g_get_monotonic_time() < deadline) g_main_context_iteration(ctx, TRUE);
    g_source_destroy(wake);
    g_source_unref(wake);
}

void RunLoop::run()
{
    auto* ctx = static_cast<GMainContext*>(mContext);
    mStopRequested = false;
    while (!__atomic_load_n(&mStopRequested, __ATOMIC_ACQUIRE)) g_main_context_iteration(ctx, TRUE);
}

void RunLoop::stop()
{
    __atomic_store_n(&mStopRequested, true, __ATOMIC_RELEASE);
    g_main_context_wakeup(static_cast<GMainContext*>(mContext));
}

std::shared_ptr<Timer> RunLoop::scheduledTimer(double interval, bool repeats, Timer::Callback callback)
{
    std::shared_ptr<Timer> timer(new Timer(interval, repeats, std::move(callback)));
    const auto ms = static_cast<guint>(interval > 0 ? interval * 1000.0 + 0.5 : 0);
    GSource* source = g_timeout_source_new(ms);
    g_source_set_callback(source, fireTimer, new TimerRef{timer},
                          [](gpointer d) { delete static_cast<TimerRef*>(d); });
    timer->mSource = source; // our reference, dropped by ~Timer
    g_source_attach(source, static_cast<GMainContext*>(mContext));
    return timer;
}

void RunLoop::dispatchToMain(std::function<void()> task)
{
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer d) -> gboolean {
            (*static_cast<std::function<void()>*>(d))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(task)), [](gpointer d) { delete static_cast<std::function<void()>*>(d); });
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

void Timer::invalidate()
{
    if (!mValid.exchange(false)) return;
    if (mSource) g_source_destroy(static_cast<GSource*>(mSource));
}

void Timer::fireFromLoop()
{
    if (mCallback) mCallback(*this);
}

Timer::~Timer()
{
    if (mSource) g_source_unref(static_cast<GSource*>(mSource));
}

} // namespace orva
