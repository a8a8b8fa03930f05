// The movie creator over the asset writer adapter: picks the sample generators from
// the descriptions, makes every timestamp relative to the recording's first sample
// (of either kind; a track's first sample captured up to half a second before it
// starts that track at 0, later ones from before it are ignored), converts H.264 frames to box format in place and hands each
// finished sample to the adapter. One lock serialises Open, AddSampleToMovie and
// Close; it is taken before the adapter's own.
#pragma once

#include <orva/OrvaMovieCreator.h>

#include <atomic>
#include <mutex>

namespace orva {

class AVAssetWriterAdapter;
class ISampleGenerator;

class OrvaMovieAssetCreator : public OrvaMovieCreator {
public:
    explicit OrvaMovieAssetCreator(std::string path);
    ~OrvaMovieAssetCreator() override;

    int32_t Open(const _OrvaVideoDescription* video, const _OrvaAudioDescription* audio) override;
    int32_t AddSampleToMovie(uint8_t* data, uint32_t length, uint64_t timestamp, OrvaMediaType type) override;
    int32_t Close() override;
    // Every sample lost so far: by the generators (out of order, sound the device
    // lost) and by the adapter (full queue, waiting for a key frame, refused after a
    // failure, too late for time filled). Any thread.
    uint64_t droppedSamples() const override;
    // Samples waiting for the writer (0 when closed). Any thread.
    size_t queuedSamples() const;
    OrvaMovieStats movieStats() const override;

private:
    OrvaMovieStats countsLocked() const;

    std::unique_ptr<AVAssetWriterAdapter> mAdapter;
    _OrvaVideoDescription mVideoDescription;
    std::unique_ptr<ISampleGenerator> mVideoGenerator;
    _OrvaAudioDescription mAudioDescription;
    std::unique_ptr<ISampleGenerator> mAudioGenerator;
    uint64_t mBaseTimestamp = 0;
    bool mVideoStarted = false, mAudioStarted = false; // a sample of the track was taken
    // How much earlier than the recording's first sample a track's first sample may
    // be captured and still start its track (microseconds).
    static constexpr uint64_t kEarlyFirstSample = 500000;
    mutable std::mutex mLock;
    std::atomic<uint64_t> mDropped{0}; // the generators' losses; at Close the adapter's join them
    uint64_t mVideoDropped = 0, mAudioDropped = 0; // the generators' own, under mLock
    uint64_t mVideoTaken = 0, mAudioTaken = 0;     // samples handed to the adapter, under mLock
    OrvaMovieStats mFinalStats;                     // at Close
};

} // namespace orva
