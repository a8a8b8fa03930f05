/// @file
/// Shares an open camera with the desktop while the host captures, records or does
/// neither: a PipeWire video source (class Video/Source, role Camera) named after the
/// camera, which browsers, OBS and GStreamer's pipewiresrc take like any camera. Its
/// frames are the camera's, handed on from the capture thread (2vuy as UYVY, H.264
/// decoded to I420). When the host does not capture, the share starts the camera
/// while a consumer is connected and stops it when the last one leaves, unless the
/// host started it meanwhile (startCapture, a recording): then it is the host's to
/// stop. Controls and pan/tilt keep working on the camera as ever.
///
/// Threads: create, startSharing and stopSharing on the host's thread (startSharing
/// waits for the daemon, two seconds at most); the getters on any thread. The frames
/// pass on the camera's capture thread and never wait for a consumer: a consumer that
/// does not take them loses frames, counted in framesDropped(). KPXCameraShareChanged
/// is posted on the share's own PipeWire thread.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDeviceDelegate.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orva {

class OrvaVideoDevice;

/// "kKPXCameraShareChanged": posted when a consumer connects or leaves, and once when
/// sharing ends because PipeWire went away. Its user information holds "consumers"
/// (uint32_t), "node" (uint32_t: the node id) and "ended" (bool); the object is the
/// share.
ORVA_EXPORT extern const char* const KPXCameraShareChanged;

/// A camera offered to other applications over PipeWire.
class ORVA_EXPORT OrvaCameraShare : public OrvaAVDeviceDelegate, public std::enable_shared_from_this<OrvaCameraShare> {
public:
    /// The node.name a share of this camera has: "orva-camera-" and the camera's path
    /// in letters, digits and dashes.
    static std::string nodeNameFor(const OrvaDeviceInfo& camera);
    /// The id of the node under which some process shares this camera now; 0 when
    /// none does or PipeWire is not running. Waits for the daemon, two seconds at most.
    static uint32_t sharedNodeOf(const OrvaDeviceInfo& camera);

    /// A share of the camera, not yet started.
    static std::shared_ptr<OrvaCameraShare> create(std::shared_ptr<OrvaVideoDevice> camera);
    ~OrvaCameraShare() override;
    OrvaCameraShare(const OrvaCameraShare&) = delete;
    OrvaCameraShare& operator=(const OrvaCameraShare&) = delete;

    /// kOrvaOK sharing; kOrvaErrorNotOpen (the camera is not open), kOrvaErrorNoFormat
    /// (no format chosen), kOrvaErrorUnsupportedMediaType (a format that cannot be
    /// shared), kOrvaErrorNoPipeWire (no daemon, or it refused the node; failure()
    /// says which).
    [[nodiscard]] int32_t startSharing();
    /// Removes the node; a camera the share started is stopped.
    void stopSharing();
    /// Whether the node is there (false after stopSharing, or once PipeWire went).
    bool isSharing() const;
    /// The node's id in the PipeWire graph; 0 when not sharing.
    uint32_t nodeID() const;
    /// The node's node.name, what a consumer targets; empty when not sharing.
    std::string nodeName() const;
    /// Applications connected now.
    uint32_t consumerCount() const;
    /// Frames handed on since the share was made.
    uint64_t framesShared() const;
    /// Frames no consumer had room for since the share was made.
    uint64_t framesDropped() const;
    /// Why sharing failed or ended; empty while it runs.
    std::string failure() const;

    /// The camera's capture thread: hands the frame on.
    void didCaptureFrame(const void* frame, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>& withDevice) override;

    class Private;

private:
    explicit OrvaCameraShare(std::shared_ptr<OrvaVideoDevice> camera);
    std::unique_ptr<Private> d;
};

} // namespace orva
