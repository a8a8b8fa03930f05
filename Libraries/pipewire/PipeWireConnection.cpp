#include "PipeWireConnection.h"

#include <pipewire/pipewire.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace orva::pipewire {

namespace {

const pw_core_events kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    return events;
}();

} // namespace

std::shared_ptr<PipeWireConnection> PipeWireConnection::connect(std::string* error)
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
    std::shared_ptr<PipeWireConnection> c(new PipeWireConnection());
    c->mLoop = pw_thread_loop_new("orva-pipewire", nullptr);
    if (!c->mLoop) {
        if (error) *error = "cannot make a PipeWire loop";
        return nullptr;
    }
    pw_properties* props = pw_properties_new(PW_KEY_CONFIG_NAME, "client.conf", nullptr);
    c->mContext = pw_context_new(pw_thread_loop_get_loop(c->mLoop), props, 0);
    if (!c->mContext || pw_thread_loop_start(c->mLoop) < 0) {
        if (error) *error = "cannot start a PipeWire loop";
        return nullptr;
    }
    Lock lock(*c);
    c->mCore = pw_context_connect(c->mContext, pw_properties_new(PW_KEY_APP_NAME, "orva", nullptr), 0);
    if (!c->mCore) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (error)
            *error = std::string("PipeWire is not running (no daemon answers in ") +
                     (runtime ? runtime : "the runtime directory") + "): no microphones can be listed";
        return nullptr;
    }
    static const pw_core_events events = [] {
        pw_core_events e = kCoreEvents;
        e.done = &PipeWireConnection::onDone;
        e.error = &PipeWireConnection::onError;
        return e;
    }();
    c->mCoreListener = std::make_unique<spa_hook>();
    std::memset(c->mCoreListener.get(), 0, sizeof(spa_hook));
    pw_core_add_listener(c->mCore, c->mCoreListener.get(), &events, c.get());
    c->mConnected = true;
    if (!c->sync()) {
        if (error) *error = "PipeWire does not answer";
        return nullptr;
    }
    return c;
}

PipeWireConnection::~PipeWireConnection()
{
    if (mLoop) pw_thread_loop_stop(mLoop);
    if (mCoreListener) spa_hook_remove(mCoreListener.get());
    if (mCore) pw_core_disconnect(mCore);
    if (mContext) pw_context_destroy(mContext);
    if (mLoop) pw_thread_loop_destroy(mLoop);
}

PipeWireConnection::Lock::Lock(const PipeWireConnection& connection) : mLoop(connection.mLoop)
{
    pw_thread_loop_lock(mLoop);
}

PipeWireConnection::Lock::~Lock()
{
    pw_thread_loop_unlock(mLoop);
}

bool PipeWireConnection::inLoopThread() const
{
    return pw_thread_loop_in_thread(mLoop);
}

void PipeWireConnection::onDone(void* data, uint32_t id, int seq)
{
    auto* self = static_cast<PipeWireConnection*>(data);
    if (id != PW_ID_CORE) return;
    self->mDoneSeq = seq;
    pw_thread_loop_signal(self->mLoop, false);
}

void PipeWireConnection::onError(void* data, uint32_t id, int /*seq*/, int res, const char* /*message*/)
{
    auto* self = static_cast<PipeWireConnection*>(data);
    if (id == PW_ID_CORE && res == -EPIPE) {
        self->mConnected = false;
        if (self->mLost) self->mLost();
    }
    pw_thread_loop_signal(self->mLoop, false);
}

bool PipeWireConnection::sync(int timeoutMilliseconds)
{
    if (!mConnected || inLoopThread()) return false;
    const int seq = pw_core_sync(mCore, PW_ID_CORE, 0);
    if (seq < 0) return false;
    mPendingSeq = seq;
    return waitFor([&] { return mDoneSeq == seq; }, timeoutMilliseconds);
}

void PipeWireConnection::signal()
{
    pw_thread_loop_signal(mLoop, false);
}

bool PipeWireConnection::waitFor(const std::function<bool()>& done, int timeoutMilliseconds)
{
    if (inLoopThread()) return done(); // the loop cannot answer while its own thread waits
    timespec deadline{};
    pw_thread_loop_get_time(mLoop, &deadline, int64_t{timeoutMilliseconds} * SPA_NSEC_PER_MSEC);
    while (!done()) {
        if (!mConnected) return false;
        if (pw_thread_loop_timed_wait_full(mLoop, &deadline) != 0) return done();
    }
    return true;
}

} // namespace orva::pipewire
