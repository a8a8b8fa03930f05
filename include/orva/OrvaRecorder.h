/// @file
/// Wraps one movie creator for one recording: describes the movie from the camera's
/// and the microphone's chosen formats, opens it, passes samples on while recording,
/// and closes it. The adding calls run on the capture threads and take no lock of the
/// recorder (the creator serialises them); open and close run on the host's thread,
/// and closeRecorder turns that thread's run loop for half a second before it
/// finishes the file, so it blocks for at least that long.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaMovieCreator.h>
#include <orva/OrvaStatus.h>

#include <memory>
#include <optional>
#include <string>

namespace orva {

class OrvaAudioDevice;
class OrvaVideoDevice;

/// One movie of a recording: describes, opens, feeds and closes it.
class ORVA_EXPORT OrvaRecorder {
public:
    /// No movie creator could be made (kOrvaErrorNoMovieCreator).
    static constexpr int32_t kStatusNoMovieCreator = kOrvaErrorNoMovieCreator;
    /// The movie creator's Open failed (kOrvaErrorMovieOpenFailed).
    static constexpr int32_t kStatusOpenFailed = kOrvaErrorMovieOpenFailed;

    OrvaRecorder();
    ~OrvaRecorder();
    OrvaRecorder(const OrvaRecorder&) = delete;
    OrvaRecorder& operator=(const OrvaRecorder&) = delete;

    /// kOrvaOK opened; kOrvaErrorNoMovieCreator; kOrvaErrorMovieOpenFailed (the
    /// creator's Open failed). A device without a chosen format (or null) gives a
    /// description that records nothing for its track.
    [[nodiscard]] int32_t openRecorderWithFilPath(const std::string& path, const OrvaVideoDevice* videoStream,
                                                  const OrvaAudioDevice* audioStream);
    /// A camera frame: 0 when not recording, else the movie creator's result. An
    /// H.264 frame is converted in place, so the buffer changes.
    [[nodiscard]] int32_t addVideoSample(void* data, uint32_t length, int64_t timestamp);
    /// A microphone buffer: 0 when not recording, else the movie creator's result.
    [[nodiscard]] int32_t addAudioSample(void* data, uint32_t length, int64_t timestamp);
    /// 0 when not recording, else the creator's Close result.
    int32_t closeRecorder();

    /// Whether a movie is open.
    bool isRecording() const;
    /// Samples the movie lost because its writer fell behind, so far or, once closed,
    /// in the end. Read on the host's thread (the one that opens and closes).
    uint64_t droppedSamples() const;
    /// What became of the movie: so far while recording, in the end once closed.
    /// Host's thread.
    OrvaMovieStats movieStats() const;
    /// The movie's path while open (any thread).
    std::optional<std::string> fileURL() const;
    /// Sets the movie's path (any thread).
    void setFileURL(std::optional<std::string> path);
    const OrvaVideoDevice* videoStream() const;           ///< the camera (not retained)
    void setVideoStream(const OrvaVideoDevice* stream);   ///< sets it
    const OrvaAudioDevice* audioStream() const;           ///< the microphone (not retained)
    void setAudioStream(const OrvaAudioDevice* stream);   ///< sets it

    /// The video description the recorder builds from the camera's chosen format.
    static _OrvaVideoDescription describeVideo(const OrvaVideoDevice* camera);
    /// The audio description the recorder builds from the microphone's chosen format.
    static _OrvaAudioDescription describeAudio(const OrvaAudioDevice* microphone);

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace orva
