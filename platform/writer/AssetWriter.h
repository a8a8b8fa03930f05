// Writes a QuickTime movie with FFmpeg's libavformat ("mov"): samples are written as
// they are, with no re-encoding (H.264 with its avcC record, 2vuy pictures, 16-bit
// PCM, AAC packets with an AudioSpecificConfig). The movie is written in fragments of
// a second, each complete on disk when written, so a crash or a full disk keeps what
// came before; finishWriting makes it a regular movie in place (MovieFinisher: an
// index of the samples where they lie, the AAC priming, kept here in the metadata,
// hidden with an edit list), even after a failed write. The file is the working file
// handed over by its maker (FileManager::createWorkingFile), or one created new
// (O_EXCL|O_NOFOLLOW); the first failed write fails the writer for good.
//
// Threads: status() and error() may be read from any thread. startWriting opens the
// file on the calling thread; everything that calls libavformat (appending, through
// the inputs, and finishWriting) runs on the serial queue the inputs were given, the
// movie's "Media Writer Queue". finishWriting blocks until the file is complete.
#pragma once

#include "platform/media/MediaTime.h"
#include "platform/writer/MovieFinisher.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orva {

class AssetWriterInput;
class SampleBuffer;

class AssetWriter : public std::enable_shared_from_this<AssetWriter> {
public:
    enum class Status : int { Unknown = 0, Writing = 1, Completed = 2, Failed = 3, Cancelled = 4 };
    // Error codes of a failed writer.
    static constexpr int kErrorCannotCreateFile = -3000;
    static constexpr int kErrorDiskFull = -11807;
    static constexpr int kErrorUnknown = -11800;
    // The working file's metadata key holding the AAC priming (frames) to hide.
    static constexpr const char* kMetadataAACPriming = "com.orva.aac-priming";

    struct Error {
        int code = 0;
        std::string message;
        // "Error Code=-11807 "the disk is full"", as the error prints in logs.
        std::string description() const { return "Error Code=" + std::to_string(code) + " \"" + message + "\""; }
    };

    // A writer for a movie at `path` (file type QuickTime movie). Nothing is opened yet.
    static std::shared_ptr<AssetWriter> create(const std::string& path);
    ~AssetWriter();

    bool canAddInput(const std::shared_ptr<AssetWriterInput>& input) const;
    void addInput(const std::shared_ptr<AssetWriterInput>& input);
    Status status() const { return mStatus.load(); }
    Error error() const;

    // Creates the file; false (status failed, -3000) when it cannot be created.
    bool startWriting();
    void startSessionAtSourceTime(const MediaTime& time);
    // Writes what is held, finishes the movie in place and closes the file; blocks
    // until done.
    void finishWriting();
    // Bytes written to the file so far (any thread).
    uint64_t bytesWritten() const { return mBytesWritten.load(std::memory_order_relaxed); }
    // How finishing in place went (after finishWriting).
    const MovieFinisher::Result& finishResult() const { return mFinished; }

    // The file's writes go through this function (tests make disks fail with it);
    // it answers bytes written or -1 with errno set, as write(2). Null restores
    // write(2). The same as WriteSeam::setForTesting.
    using WriteFunction = std::function<long(int fd, const void* data, size_t size)>;
    static void setWriteFunctionForTesting(WriteFunction function);

private:
    friend class AssetWriterInput;
    explicit AssetWriter(std::string path) : mPath(std::move(path)) {}
    bool append(size_t track, const std::shared_ptr<SampleBuffer>& sample);
    bool appendSilence(size_t track, const MediaTime& until);
    bool wantsData() const { return status() == Status::Writing; }
    void fail(int code, std::string message);
    bool writeHeader();
    bool writeHeaderAndHeldSamples();
    struct Track;
    bool writeSample(size_t track, const std::shared_ptr<SampleBuffer>& sample);
    bool writePacket(Track& track, const uint8_t* data, size_t length, int64_t pts, int64_t duration, bool key);
    bool fillAudioGap(Track& track, int64_t pts);
    void flushPendingVideo();
    void closeFile();
    void freeFormatContext();
    static int writeBytes(void* opaque, uint8_t* data, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    std::string mPath;
    std::vector<std::shared_ptr<AssetWriterInput>> mInputs;
    std::atomic<Status> mStatus{Status::Unknown};
    mutable std::mutex mErrorMutex;
    Error mError;
    MediaTime mSessionStart = MediaTime::zero();
    int mFd = -1;
    int mWriteErrno = 0; // the first write error seen, sticky
    std::atomic<uint64_t> mBytesWritten{0};
    int64_t mLastSync = 0; // monotonic nanoseconds of the last fdatasync

    std::vector<std::shared_ptr<Track>> mTracks; // one per input
    struct Held {
        size_t track;
        std::shared_ptr<SampleBuffer> sample;
    };
    std::vector<Held> mHeld; // samples that wait for the header
    size_t mHeldBytes = 0;
    bool mHeaderWritten = false;
    void* mFormatContext = nullptr; // AVFormatContext*
    MovieFinisher::Result mFinished;
};

} // namespace orva
