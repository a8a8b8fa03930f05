// The state of the system implementation: init counts of the two halves, the open
// cameras and microphones by handle, the subscriptions, the camera directory and
// the event thread that delivers arrivals and removals. One process-wide instance.
//
// Threads: every member function is thread-safe. Library-wide events reach their
// subscribers on the event thread, which starts with the first *_Init of either half
// and ends with the last *_Cleanup.
#pragma once

#include "CameraDirectory.h"
#include "Subscriptions.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace zi::sys {

class V4l2Camera;
class PipeWireMicrophone;
}
namespace orva::pipewire {
class PipeWireSources;
}
namespace zi::sys {
using orva::pipewire::PipeWireSources;

class SystemLibrary {
public:
    static SystemLibrary& instance();

    int32_t init(bool video);
    int32_t cleanup(bool video);
    bool initialised(bool video);

    Subscriptions& subscriptions() { return mSubscriptions; }
    // The camera directory while the video half is initialised; null otherwise.
    std::shared_ptr<CameraDirectory> cameras();
    // The PipeWire sources while the audio half is initialised; null otherwise.
    std::shared_ptr<PipeWireSources> sources();

    // Handles. A handle is never given out twice in a process.
    void* addCamera(std::shared_ptr<V4l2Camera> camera);
    void* addMicrophone(std::shared_ptr<PipeWireMicrophone> microphone);
    std::shared_ptr<V4l2Camera> camera(void* handle);
    std::shared_ptr<PipeWireMicrophone> microphone(void* handle);
    bool owns(void* handle);
    // Closes a handle of either kind; ZI_ERR_INVALID_HANDLE when unknown.
    int32_t close(void* handle);

    // Queues a library-wide event for the event thread (from any thread).
    void post(uint32_t event);
    // Waits until every event queued so far has been delivered.
    void waitIdle();

private:
    SystemLibrary() = default;
    void startEvents(std::unique_lock<std::mutex>& lock);
    void stopEvents(std::unique_lock<std::mutex>& lock);
    void eventLoop();
    void cameraRemoved(const std::string& syspath);

    std::mutex mMutex;
    std::condition_variable mIdle;
    int mVideoInits = 0, mAudioInits = 0;
    Subscriptions mSubscriptions;
    std::shared_ptr<CameraDirectory> mCameras;
    std::shared_ptr<PipeWireSources> mSources;
    std::map<void*, std::shared_ptr<V4l2Camera>> mCameraHandles;
    std::map<void*, std::shared_ptr<PipeWireMicrophone>> mMicrophoneHandles;
    uintptr_t mNextHandle = 0;

    std::thread mEventThread;
    int mWakeFd = -1;
    bool mStopEvents = false;
    std::deque<uint32_t> mEvents;
    bool mDelivering = false;
};

} // namespace zi::sys
