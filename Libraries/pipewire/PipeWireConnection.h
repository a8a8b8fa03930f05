// One connection to the PipeWire daemon: a thread loop of its own, a context and the
// core. Every PipeWire call is made with the loop locked (Lock); callbacks run on the
// loop's thread with the loop locked. Waits are bounded, so a daemon that does not
// answer costs at most the timeout, never a hang.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

struct pw_context;
struct pw_core;
struct pw_thread_loop;
struct spa_hook;

namespace orva::pipewire {

class PipeWireConnection {
public:
    // Null, with the reason in `error`, when no daemon answers.
    static std::shared_ptr<PipeWireConnection> connect(std::string* error);
    ~PipeWireConnection();
    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;

    class Lock {
    public:
        explicit Lock(const PipeWireConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pw_thread_loop* mLoop;
    };

    pw_core* core() const { return mCore; }
    pw_thread_loop* loop() const { return mLoop; }
    bool inLoopThread() const;
    // False once the daemon went away.
    bool connected() const { return mConnected.load(); }
    // Called (on the loop thread, locked) when the daemon goes away.
    void setLostHandler(std::function<void()> handler) { mLost = std::move(handler); }

    // A round trip to the daemon: every event it sent before has been handled when
    // this returns true. Call with the loop locked, not from the loop thread.
    bool sync(int timeoutMilliseconds = 2000);
    // Wakes the waits (after a callback changed what they wait for).
    void signal();
    // Waits, locked, until `done` holds or the time is up; false on timeout.
    bool waitFor(const std::function<bool()>& done, int timeoutMilliseconds);

private:
    PipeWireConnection() = default;
    static void onDone(void* data, uint32_t id, int seq);
    static void onError(void* data, uint32_t id, int seq, int res, const char* message);

    pw_thread_loop* mLoop = nullptr;
    pw_context* mContext = nullptr;
    pw_core* mCore = nullptr;
    std::unique_ptr<spa_hook> mCoreListener;
    int mPendingSeq = -1;
    int mDoneSeq = -1;
    std::atomic<bool> mConnected{false};
    std::function<void()> mLost;
};

} // namespace orva::pipewire
