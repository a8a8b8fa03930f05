/// @file
/// The microphone: opening, wave formats, capture and closing; the level meter;
/// volume and mute.
///
/// Threads: the host calls open, format, start, stop and close from one thread at a
/// time. Audio buffers reach the delegates on the capture library's thread
/// with the delegate-list lock held. The meter belongs
/// to the thread that calls startVUMeter, which must turn its run loop (normally the
/// host's main thread): its ticks run there, levels reach delegates on the main queue,
/// and the final negative infinity is sent on the thread that stops it. Volume and
/// mute are synchronous library calls on the caller's thread.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDevice.h>
#include <orva/Number.h>

#include <memory>
#include <vector>
#include <optional>

namespace orva {

class CaptureDevice;
class Timer;

/// A microphone: capture, the level meter, volume and mute.
class ORVA_EXPORT OrvaAudioDevice : public OrvaAVDevice {
public:
    /// A value, or null when the capture library failed.
    using OptionalNumber = std::optional<Number>;

    /// A microphone device for the record (OrvaAVDevice::newDevice() chooses for you).
    [[nodiscard]] static std::shared_ptr<OrvaAudioDevice> create(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    /// Closes the microphone if it is open.
    ~OrvaAudioDevice() override;

    /// The shared device manager's microphone list (records, not devices).
    static std::shared_ptr<const std::vector<std::shared_ptr<OrvaDeviceInfo>>> getAudioDeviceList();

    /// @name Lifecycle, formats, capture
    ///@{
    /// kOrvaOK, or kOrvaErrorLibraryFailed when the library gives no handle. Opening an
    /// open device opens it again.
    [[nodiscard]] int32_t openDevice() override;
    /// Stops capture, closes the handle and stops the level meter (even when not open).
    void closeDevice() override;
    /// The wave formats as audio format descriptions, built once and kept across close
    /// and reopen; null when not open or when the library lists none (then the next
    /// call asks again).
    std::shared_ptr<const FormatList> getSupportedFormats() override;
    /// The chosen format, or null.
    std::shared_ptr<const FormatDescription> getFormat() const override;
    /// Keeps a copy holding only the four stream fields; null chooses none.
    void setFormat(std::shared_ptr<const FormatDescription> format) override;
    /// kOrvaOK (also when already capturing); kOrvaErrorNotOpen; kOrvaErrorNoFormat (no
    /// format, or parameters refused); the library's code when subscribing fails;
    /// kOrvaErrorMicrophoneBusy when another program has it; the library's code for any
    /// other start failure. A failed start undoes nothing: the subscription stays until
    /// the next start or the close withdraws it (the microphone's callbacks stay safe).
    [[nodiscard]] int32_t startCapture() override;
    /// kOrvaOK (also when not capturing); kOrvaErrorNotOpen; kOrvaErrorLibraryFailed when
    /// the library fails to stop or to withdraw the subscription: the microphone then
    /// still reports capturing, and closeDevice stops it again. Buffers never reach a
    /// destroyed object.
    [[nodiscard]] int32_t stopCapture() override;
    /// Record/description mapping of the wave format (public for the recording side
    /// and tests). The description carries only rate, format id, channels and bits.
    static std::shared_ptr<const AudioFormatDescription> descriptionForWaveFormat(uint16_t tag, uint16_t channels,
                                                                                   uint32_t samplesPerSec,
                                                                                   uint16_t bitsPerSample);
    ///@}

    /// @name Level meter
    ///@{
    /// Starts the platform capture of this microphone and a 0.03 s repeating timer on
    /// the calling thread's run loop; always 0. Logs "IsRunning YES|NO". A second call
    /// while the meter runs changes nothing.
    int32_t startVUMeter();
    /// Stops the timer, stops the session on a global queue and sends negative
    /// infinity at once to every delegate that takes levels; always 0. Idle: nothing.
    int32_t stopVUMeter();
    /// Replaces the session's input with one for `device` (null: no input).
    void setSelectedAudioDevice(const std::shared_ptr<CaptureDevice>& device);
    /// One tick: the plain mean of the connection's channel levels (dB), queued on the
    /// main queue for each delegate that takes levels.
    void micLevelTimerFired(Timer& timer);
    /// While the meter runs: each channel's level (dB full scale, -120 for silence) over
    /// the last buffer, for a host that shows one bar per channel; empty otherwise.
    /// Called on the meter's thread.
    std::vector<float> channelLevels() const;
    /// While the meter runs: whether the microphone stopped delivering sound (nothing
    /// for 0.3 s after it had started); its levels then read -120. Meter's thread.
    bool meterStalled() const;
    ///@}

    /// @name Volume and mute
    /// Synchronous library calls on the caller's thread; whatever handle is stored is
    /// passed (nothing is checked).
    ///@{
    bool isMuteOn();         ///< whether the microphone is muted (NO after a failure)
    void setMute(bool mute); ///< mutes or unmutes
    Number getVolumeMax() const { return Number::numberWithInt(255); }     ///< 255
    Number getVolumeMin() const { return Number::numberWithInt(0); }       ///< 0
    Number getVolumeDefault() const { return Number::numberWithInt(255); } ///< 255
    /// The volume, 0-255; null when the library fails.
    OptionalNumber getVolumeCur();
    /// Sends the low 8 bits of intValue (256 → 0, 300 → 44, −1 → 255); null sends 0.
    void setVolumeCur(const OptionalNumber& volume);
    bool isAutoVolumeSet() const { return false; } ///< never: the microphone has no automatic volume
    void setAutoVolume(bool) {}                    ///< does nothing
    ///@}

    class Private;

private:
    explicit OrvaAudioDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    Private& d() const; // defined with the private part
};

} // namespace orva
