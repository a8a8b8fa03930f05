#include "SystemLibrary.h"

#include "Log.h"
#include "PipeWireMicrophone.h"
#include <PipeWireSources.h>
#include "V4l2Camera.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zi::sys {

SystemLibrary& SystemLibrary::instance()
{
    static SystemLibrary* library = new SystemLibrary(); // never destroyed: threads may outlive static teardown
    return *library;
}

int32_t SystemLibrary::init(bool video)
{
    std::unique_lock lock(mMutex);
    if (video) {
        if (mVideoInits++ == 0) {
            auto cameras = std::make_shared<CameraDirectory>();
            lock.unlock(); // the walk opens every node
            cameras->start(true);
            lock.lock();
            mCameras = cameras;
        }
    } else if (mAudioInits++ == 0) {
        lock.unlock(); // connecting may wait for the daemon
        auto sources = PipeWireSources::connect([this](PipeWireSources::Change change, const std::string&) {
            if (change == PipeWireSources::Change::ListedArrived) post(ACI_EVENT_DEVICE_ARRIVED);
            if (change == PipeWireSources::Change::ListedRemoved) post(ACI_EVENT_DEVICE_REMOVED);
        });
        if (!sources->connection()) logLine(sources->status());
        lock.lock();
        mSources = sources;
    }
    startEvents(lock);
    return ZI_OK;
}

int32_t SystemLibrary::cleanup(bool video)
{
    std::unique_lock lock(mMutex);
    int& count = video ? mVideoInits : mAudioInits;
    if (count == 0) return ZI_ERR_NOT_INITIALIZED;
    if (--count == 0) {
        lock.unlock();
        mSubscriptions.removeLibraryWide(video);
        lock.lock();
        if (!video) {
            std::shared_ptr<PipeWireSources> sources = std::move(mSources);
            lock.unlock();
            sources.reset(); // disconnects; the open microphones keep their own share
            lock.lock();
        }
    }
    if (mVideoInits == 0 && mAudioInits == 0) {
        stopEvents(lock);
        mCameras.reset();
    }
    if (mVideoInits == 0) mCameras.reset();
    return ZI_OK;
}

bool SystemLibrary::initialised(bool video)
{
    std::lock_guard lock(mMutex);
    return (video ? mVideoInits : mAudioInits) > 0;
}

std::shared_ptr<CameraDirectory> SystemLibrary::cameras()
{
    std::lock_guard lock(mMutex);
    return mCameras;
}

std::shared_ptr<PipeWireSources> SystemLibrary::sources()
{
    std::lock_guard lock(mMutex);
    return mSources;
}

void* SystemLibrary::addCamera(std::shared_ptr<V4l2Camera> camera)
{
    std::lock_guard lock(mMutex);
    void* handle = reinterpret_cast<void*>((++mNextHandle << 4) | 0x5);
    camera->setHandle(handle);
    mCameraHandles[handle] = std::move(camera);
    return handle;
}

void* SystemLibrary::addMicrophone(std::shared_ptr<PipeWireMicrophone> microphone)
{
    std::lock_guard lock(mMutex);
    void* handle = reinterpret_cast<void*>((++mNextHandle << 4) | 0xA);
    microphone->setHandle(handle);
    mMicrophoneHandles[handle] = std::move(microphone);
    return handle;
}

std::shared_ptr<V4l2Camera> SystemLibrary::camera(void* handle)
{
    std::lock_guard lock(mMutex);
    auto it = mCameraHandles.find(handle);
    return it == mCameraHandles.end() ? nullptr : it->second;
}

std::shared_ptr<PipeWireMicrophone> SystemLibrary::microphone(void* handle)
{
    std::lock_guard lock(mMutex);
    auto it = mMicrophoneHandles.find(handle);
    return it == mMicrophoneHandles.end() ? nullptr : it->second;
}

bool SystemLibrary::owns(void* handle)
{
    std::lock_guard lock(mMutex);
    return mCameraHandles.count(handle) || mMicrophoneHandles.count(handle);
}

int32_t SystemLibrary::close(void* handle)
{
    std::shared_ptr<V4l2Camera> camera;
    std::shared_ptr<PipeWireMicrophone> microphone;
    {
        std::lock_guard lock(mMutex);
        if (auto it = mCameraHandles.find(handle); it != mCameraHandles.end()) {
            camera = std::move(it->second);
            mCameraHandles.erase(it);
        } else if (auto mit = mMicrophoneHandles.find(handle); mit != mMicrophoneHandles.end()) {
            microphone = std::move(mit->second);
            mMicrophoneHandles.erase(mit);
        } else {
            return ZI_ERR_INVALID_HANDLE;
        }
    }
    if (camera) (void)camera->stopCapture();
    if (microphone) (void)microphone->stopCapture();
    mSubscriptions.removeHandle(handle);
    return ZI_OK;
}

void SystemLibrary::post(uint32_t event)
{
    std::lock_guard lock(mMutex);
    if (!mEventThread.joinable() || !mSubscriptions.wanted(nullptr, event)) return;
    mEvents.push_back(event);
    const uint64_t one = 1;
    (void)::write(mWakeFd, &one, sizeof one);
}

void SystemLibrary::waitIdle()
{
    std::unique_lock lock(mMutex);
    if (mEventThread.joinable() && mEventThread.get_id() == std::this_thread::get_id()) return;
    mIdle.wait(lock, [&] { return mEvents.empty() && !mDelivering; });
}

void SystemLibrary::startEvents(std::unique_lock<std::mutex>&)
{
    if (mWakeFd < 0) mWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const uint64_t one = 1;
    (void)::write(mWakeFd, &one, sizeof one); // a new monitor to watch, perhaps
    if (mEventThread.joinable()) return;
    mStopEvents = false;
    mEventThread = std::thread([this] { eventLoop(); });
}

void SystemLibrary::stopEvents(std::unique_lock<std::mutex>& lock)
{
    if (!mEventThread.joinable()) return;
    mStopEvents = true;
    const uint64_t one = 1;
    (void)::write(mWakeFd, &one, sizeof one);
    std::thread thread = std::move(mEventThread);
    lock.unlock();
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // cleanup from inside a callback: the loop ends when it returns
    else
        thread.join();
    lock.lock();
    mEvents.clear();
    mIdle.notify_all();
}

void SystemLibrary::cameraRemoved(const std::string& syspath)
{
    std::lock_guard lock(mMutex);
    for (auto& [handle, camera] : mCameraHandles)
        if (camera->node().syspath == syspath) camera->markGone();
}

void SystemLibrary::eventLoop()
{
    std::unique_lock lock(mMutex);
    const std::shared_ptr<CameraDirectory> keep = mCameras; // a detached loop may outlive cleanup
    while (!mStopEvents) {
        std::shared_ptr<CameraDirectory> cameras = mCameras;
        const int monitor = cameras ? cameras->monitorFd() : -1;
        const int wake = mWakeFd;
        lock.unlock();
        pollfd fds[2] = {{wake, POLLIN, 0}, {monitor, POLLIN, 0}};
        const int ready = ::poll(fds, monitor >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno != EINTR) {
            lock.lock();
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t drained;
            (void)::read(wake, &drained, sizeof drained);
        }
        if (monitor >= 0 && (fds[1].revents & POLLIN)) {
            std::string syspath;
            const int change = cameras->receive(&syspath);
            if (change < 0) cameraRemoved(syspath);
            if (change != 0) post(change > 0 ? VCI_EVENT_DEVICE_ARRIVED : VCI_EVENT_DEVICE_REMOVED);
        }
        lock.lock();
        while (!mStopEvents && !mEvents.empty()) {
            const uint32_t event = mEvents.front();
            mEvents.pop_front();
            mDelivering = true;
            lock.unlock();
            mSubscriptions.dispatch(nullptr, event, nullptr, 0, 0);
            lock.lock();
            mDelivering = false;
        }
        mIdle.notify_all();
    }
    mDelivering = false;
    mIdle.notify_all();
}

} // namespace zi::sys
