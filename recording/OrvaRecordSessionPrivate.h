// The record session's private part: the devices, the recorder, the working file, the
// capture threads' arrival times, and what became of the movie.
#pragma once

#include <orva/OrvaRecordSession.h>

#include <orva/OrvaRecorder.h>

#include <atomic>
#include <mutex>

namespace orva {

class ORVA_NO_EXPORT OrvaRecordSession::Private {
public:
    explicit Private(OrvaRecordSession& session) : q(session) {}

    void detach(); // removes the session from both devices' delegate lists
    void abandonStart(); // undoes a start that failed: no delegate entry, no recorder, no working file
    void refuseStart(const std::string& why); // a start refused before the recorder opened
    void discardWorkingFile(); // removes the working file when it holds nothing
    void waitForSoundToCatchUp();
    void placeMovie();

    OrvaRecordSession& q;
    mutable std::mutex mPropertyLock;
    std::shared_ptr<OrvaVideoDevice> mVideoDevice;
    std::shared_ptr<OrvaAudioDevice> mAudioDevice;
    std::unique_ptr<OrvaRecorder> mRecorder;
    std::atomic<OrvaRecorder*> mRecorderForCapture{nullptr}; // what the capture threads read
    std::string mFileURL;
    std::string mWorkingPath; // the working file, from start to stop
    std::atomic<bool> mIsRunning{false};
    std::atomic<int32_t> mFailure{0}; // the first failure while recording (announced once)
    std::atomic<bool> mVideoClosed{false};          // stopping: frames are no longer taken
    std::atomic<int64_t> mStartedAt{0};             // monotonic microseconds
    std::atomic<int64_t> mLastVideoArrival{0}, mLastSoundArrival{0}; // monotonic microseconds
    std::atomic<int64_t> mLastVideoTimestamp{-1}, mLastSoundTimestamp{-1}; // capture times
    int64_t mFramePeriod = 33333; // microseconds, set before capture starts
    bool mReplaces = false;
    std::optional<std::string> mMoviePath; // under mPropertyLock, as the four below
    double mMovieSeconds = 0;
    std::string mPlacementError;
    int32_t mRecordingStatus = 0;
    OrvaMovieStats mStats;
};

} // namespace orva
