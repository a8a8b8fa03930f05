/// @file
/// Records one camera and one microphone into a QuickTime movie: startSession opens
/// and starts the devices as needed and becomes their capture delegate; every buffer
/// then goes to the recorder on the capture threads; stopSession stops the
/// microphone (the camera keeps capturing), finishes the movie and puts it at the
/// destination path. startSession and stopSession run on the host's thread;
/// stopSession blocks for at least half a second while it turns that thread's run
/// loop and finishes the file.
///
/// The movie is written once, where it will stay: a hidden working file beside the
/// destination (".NAME.recording"), in fragments of a second, so a crash or a power
/// loss keeps all but the last second of it (the CLI's `orva repair` makes a movie of
/// such a file). At the stop it is finished in place (an index of the samples where
/// they lie, no copy) and renamed to the destination, so it arrives whole or not at
/// all. The start checks that the folder can be written and has room for a minute;
/// the recording ends, posting KPXRecordingFailed once, when the disk fills or a
/// minute before it would, and the movie is kept up to that point.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDeviceDelegate.h>
#include <orva/OrvaMovieCreator.h>

#include <memory>
#include <optional>
#include <string>

namespace orva {

class OrvaAudioDevice;
class OrvaRecorder;
class OrvaVideoDevice;

/// "kKPXRecordingFailed": posted once, on the capture thread that met it, when a
/// recording's movie can take no more (the disk is full, a write failed). Its user
/// information holds "status" (int32_t: kOrvaErrorDiskFull or kOrvaErrorWriterFailed)
/// and "path" (std::string: the movie being written). The host should stop the session.
ORVA_EXPORT extern const char* const KPXRecordingFailed;

/// Records one camera and one microphone together into a QuickTime movie.
class ORVA_EXPORT OrvaRecordSession : public OrvaAVDeviceDelegate, public std::enable_shared_from_this<OrvaRecordSession> {
public:
    /// A session for the devices (either may be null) and the destination path.
    static std::shared_ptr<OrvaRecordSession> create(std::shared_ptr<OrvaVideoDevice> videoDevice,
                                                     std::shared_ptr<OrvaAudioDevice> audioDevice,
                                                     std::string fileURL);
    ~OrvaRecordSession() override;

    /// 0 running; kOrvaErrorCannotCreateFile when the destination's folder cannot be
    /// written, kOrvaErrorDiskFull when it has room for less than a minute (both
    /// before any device starts; placementError() says why); else the recorder's code
    /// (kOrvaErrorNoMovieCreator, kOrvaErrorMovieOpenFailed) or a device's start code. A start that fails leaves nothing behind: the
    /// devices it started are stopped, the session is no longer their delegate and no
    /// working file or writer remains.
    [[nodiscard]] int32_t startSession();
    /// Stops the microphone, finishes the movie and moves it to the destination;
    /// blocks for at least half a second (turning this thread's run loop). Always 0.
    int32_t stopSession();
    /// Whether the session records.
    bool isRunning() const;
    /// The destination path.
    const std::string& fileURL() const;
    /// The working file being written while running (beside the destination).
    std::optional<std::string> workingPath() const;
    /// Samples lost so far, both tracks, anywhere on the way (host's thread).
    uint64_t droppedSamples() const;
    /// What became of the movie, per track: so far while running, in the end after
    /// stopSession (host's thread).
    OrvaMovieStats movieStats() const;
    /// While running: how long the microphone has delivered nothing while the camera
    /// runs (0 when sound comes, or without a microphone). Any thread.
    double secondsWithoutSound() const;

    /// The camera.
    std::shared_ptr<OrvaVideoDevice> videoDevice() const;
    /// Replaces the camera (not while running).
    void setVideoDevice(std::shared_ptr<OrvaVideoDevice> device);
    /// The microphone.
    std::shared_ptr<OrvaAudioDevice> audioDevice() const;
    /// Replaces the microphone (not while running).
    void setAudioDevice(std::shared_ptr<OrvaAudioDevice> device);

    /// The capture delegate: a camera's frames (device type 0) go to the recorder's
    /// video track, anything else to its audio track.
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>& withDevice) override;

    /// @name After stopSession
    ///@{
    /// 0 when the whole recording was written; else the first failure
    /// (kOrvaErrorDiskFull, kOrvaErrorWriterFailed): the movie then ends there.
    int32_t recordingStatus() const;
    /// Where the movie is: the destination; or, when it could not be put there (see
    /// placementError()), its working file beside it, a finished movie (or, when no
    /// room was left for its index, the working movie `orva repair` finishes). Null
    /// when nothing was recorded (no sample arrived) and no file was left.
    std::optional<std::string> moviePath() const;
    /// The finished movie's length in seconds.
    double movieSeconds() const;
    /// Why the movie is not at the destination; empty when it is.
    std::string placementError() const;
    ///@}
    /// Whether stopSession may replace a file at the destination (default: no, the
    /// movie then keeps its working name beside it).
    void setReplacesExistingFile(bool replaces);

    class Private;

private:
    OrvaRecordSession(std::shared_ptr<OrvaVideoDevice> videoDevice, std::shared_ptr<OrvaAudioDevice> audioDevice,
                      std::string fileURL);
    std::unique_ptr<Private> d;
};

} // namespace orva
