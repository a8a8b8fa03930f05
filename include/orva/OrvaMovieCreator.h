/// @file
/// The movie-writing interface the recorder sees: open a movie with a description of
/// its video and audio, add captured buffers one at a time with their capture
/// timestamps (microseconds), close. Open, AddSampleToMovie and Close may be called
/// from different threads; the implementation serialises them. Close blocks until
/// the file is complete.
#pragma once

#include <orva/OrvaExport.h>
#include <orva/OrvaStatus.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orva {

/// What the movie's video track records.
struct _OrvaVideoDescription {
    int32_t width = 0;  ///< picture width in pixels
    int32_t height = 0; ///< picture height in pixels
    uint32_t codec = 0; ///< 'avc1' or '2vuy'; another code records no video
    int32_t frameRate = 0; ///< frames per second the camera was asked for
    /// The camera's frame interval in 100 ns units (333333 is 30 fps, 333667 29.97 fps):
    /// frames are placed on its grid. 0: one frame period of `frameRate`.
    uint32_t frameInterval = 0;
};

/// What the movie's audio track records.
struct _OrvaAudioDescription {
    uint16_t format = 0; ///< 0x636D linear PCM, 0x6320 AAC; another code records no audio
    uint16_t channels = 0;      ///< channels
    uint32_t sampleRate = 0;    ///< frames per second
    uint16_t bitsPerSample = 0; ///< bits of one PCM sample (16)
};

/// What became of a recording's movie: per track, what was written and what was lost
/// on the way (anywhere: the device or sound server, a queue, the writer), and how
/// the file was finished.
struct OrvaMovieStats {
    uint64_t videoFrames = 0;     ///< frames taken into the movie
    uint64_t videoDropped = 0;    ///< frames lost on the way
    uint64_t audioBuffers = 0;    ///< buffers taken into the movie
    uint64_t audioDropped = 0;    ///< buffers lost on the way, the device's and the sound server's included
    double audioSilenceSeconds = 0; ///< silence written where sound was lost or a microphone stalled
    bool audioStalled = false;    ///< now: the microphone delivers nothing, its silence is written
    bool stoppedForSpace = false; ///< the recording ended with a minute of room left on the disk
    bool finished = false;        ///< the file is a regular movie (finished in place)
    bool nothingRecorded = false; ///< not a single sample reached the file whole
    double seconds = 0;           ///< the finished movie's length
    std::string problem;          ///< why the file is not finished, when it is not
    std::vector<std::string> notes; ///< tracks left out of the finished movie, and why
};

/// Writes one QuickTime movie from captured buffers (see the file's description).
class ORVA_EXPORT OrvaMovieCreator {
public:
    /// The track a sample belongs to.
    enum OrvaMediaType : int32_t { Audio = 0, Video = 1 };

    /// @name Results (the same as kOrvaError… in OrvaStatus.h)
    ///@{
    static constexpr int32_t kErrorUnsupportedMediaType = kOrvaErrorUnsupportedMediaType; ///< no track for the type
    static constexpr int32_t kErrorCannotCreateFile = kOrvaErrorCannotCreateFile;         ///< the file cannot be made
    static constexpr int32_t kErrorDiskFull = kOrvaErrorDiskFull;                         ///< the disk is full
    static constexpr int32_t kErrorWriterFailed = kOrvaErrorWriterFailed;                 ///< any other failure
    ///@}

    /// A creator for the movie file at `path` (UTF-8); nothing is opened yet.
    explicit OrvaMovieCreator(std::string path) : mPath(std::move(path)) {}
    virtual ~OrvaMovieCreator() = default;

    /// Null descriptions leave that medium out. 0.
    [[nodiscard]] virtual int32_t Open(const _OrvaVideoDescription* video, const _OrvaAudioDescription* audio) = 0;
    /// May rewrite the buffer (an H.264 frame is converted in place). 0 or an error code.
    [[nodiscard]] virtual int32_t AddSampleToMovie(uint8_t* data, uint32_t length, uint64_t timestamp,
                                                   OrvaMediaType type) = 0;
    /// Finishes the movie file. 0.
    virtual int32_t Close() = 0;

    /// The movie's path.
    const std::string& path() const { return mPath; }
    /// Samples lost so far because the writer fell behind (any thread).
    virtual uint64_t droppedSamples() const { return 0; }
    /// What became of the movie so far, or in the end once closed (any thread).
    virtual OrvaMovieStats movieStats() const { return {}; }

protected:
    std::string mPath; ///< the movie's path
};

/// A new movie creator for the path (UTF-8); never null.
ORVA_EXPORT std::unique_ptr<OrvaMovieCreator> CreateMovieCreator(const char* path);

} // namespace orva
