/// @file
/// The camera: opening, formats, capture, controls, relative pan/tilt motion and
/// information queries.
///
/// Threads: the host calls these methods from one thread at a time. Frames reach the
/// delegates on the capture library's thread, with the delegate-list lock held.
/// Control and information methods make synchronous library
/// calls on the caller's thread; the four relative moves queue their work on the
/// device's serial queue and return at once; resetPanTiltRel blocks for up to about
/// 0.6 s while turning the caller's run loop.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/OrvaAVDevice.h>
#include <orva/Number.h>
#include <orva/Value.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace orva {

/// Keys offered to hosts for describing a video format; the component does not read them.
ORVA_EXPORT extern const char* const KPXVideoWidth; ///< "kKPXVideoWidth"
ORVA_EXPORT extern const char* const KPXVideoHeight; ///< "kKPXVideoHeight"
ORVA_EXPORT extern const char* const KPXVideoCodec; ///< "kKPXVideoCodec"

/// A camera: formats and capture, controls, relative pan and tilt, information queries.
class ORVA_EXPORT OrvaVideoDevice : public OrvaAVDevice {
public:
    /// A property set's UUID, bytes in the order of its text.
    using UUIDBytes = std::array<uint8_t, 16>;
    /// A value, or null when the capture library failed.
    using OptionalNumber = std::optional<Number>;
    using BOOL = signed char; ///< a boolean argument that may carry values other than 0 and 1

    /// A camera device for the record (OrvaAVDevice::newDevice() chooses for you).
    [[nodiscard]] static std::shared_ptr<OrvaVideoDevice> create(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    /// Closes the camera if it is open.
    ~OrvaVideoDevice() override;

    /// The shared device manager's camera list (records, not devices).
    static std::shared_ptr<const std::vector<std::shared_ptr<OrvaDeviceInfo>>> getVideoDeviceList();

    /// @name Lifecycle, formats, capture
    ///@{
    /// kOrvaOK, or kOrvaErrorLibraryFailed when the library gives no handle.
    [[nodiscard]] int32_t openDevice() override;
    /// Stops capture if it runs, then closes the library's handle.
    void closeDevice() override;
    /// The library's pixel formats as four-character texts; null when not open.
    std::shared_ptr<const std::vector<std::string>> getMediaFormats();
    /// One video format description per frame size the library lists for the code.
    std::shared_ptr<const FormatList> getResolutionsForCodec(uint32_t codec);
    /// All formats, built on first request and kept (empty when first asked while closed).
    std::shared_ptr<const FormatList> getSupportedFormats() override;
    /// A new list of the formats whose code matches; null for a null or empty input.
    [[nodiscard]] static std::shared_ptr<FormatList> copyFormatsForCodec(uint32_t codec, const FormatList* formats);
    /// The library's frame intervals (100 ns units) for the format's code and size.
    std::shared_ptr<const std::vector<Number>> getSupportedFrameIntervals(const FormatDescription& format) const;
    /// The stored interval list, which nothing fills: null.
    std::shared_ptr<const std::vector<Number>> getSupportedFrameIntervals() const;
    /// The frame interval (100 ns units) the host asked for; null: the default, 1/30 s.
    std::shared_ptr<const Number> frameInterval() const;
    /// Asks for a frame interval (100 ns units; one of getSupportedFrameIntervals(format))
    /// at the next start; null goes back to 1/30 s (any thread).
    void setFrameInterval(std::shared_ptr<const Number> interval);
    /// The frame interval the chosen format runs at: of those the library lists for it,
    /// the nearest to the one asked for (the library picks the same); the asked one
    /// when it lists none. Host's thread; asks the library.
    uint32_t captureFrameInterval() const;
    /// The chosen format, or null.
    std::shared_ptr<const FormatDescription> getFormat() const override;
    /// Keeps the format for the next startCapture; null (or a description that is not
    /// a video one) leaves no chosen format.
    void setFormat(std::shared_ptr<const FormatDescription> format) override;
    /// kOrvaOK; kOrvaErrorNotOpen; kOrvaErrorNoFormat when the library refuses the parameters.
    [[nodiscard]] int32_t setCaptureFormat(const FormatDescription& format);
    /// kOrvaOK (also when already capturing), kOrvaErrorNotOpen, kOrvaErrorNoFormat,
    /// kOrvaErrorCameraBusy (another program has the camera), kOrvaErrorLibraryFailed.
    /// Only the busy refusal withdraws the subscription; after another failure it stays
    /// until the next start or the close withdraws it (the callbacks stay safe).
    [[nodiscard]] int32_t startCapture() override;
    /// kOrvaOK (also when not capturing), kOrvaErrorNotOpen (capturing but not open),
    /// kOrvaErrorLibraryFailed: the camera then still reports capturing, and closeDevice
    /// stops it again. Frames never reach a camera object that was destroyed, whatever
    /// the library answered.
    [[nodiscard]] int32_t stopCapture() override;
    ///@}

    /// @name Pan and tilt
    /// Absolute pan and tilt in arc-seconds (the minimum, maximum, current and default
    /// value), and the vendor relative pan/tilt position in steps. Getters answer null
    /// when the library call fails; setters send the value as it is.
    ///@{
    OptionalNumber getPanMin();                  ///< absolute pan, minimum
    OptionalNumber getPanMax();                  ///< absolute pan, maximum
    OptionalNumber getPanCur();                  ///< absolute pan, current
    OptionalNumber getPanDef();                  ///< absolute pan, default
    void setPanCur(const OptionalNumber& value); ///< moves pan, keeping tilt
    OptionalNumber getPanRelMin();               ///< relative pan position, minimum
    OptionalNumber getPanRelMax();               ///< relative pan position, maximum
    OptionalNumber getPanRelCur();               ///< relative pan position, current
    OptionalNumber getPanRelDef();               ///< relative pan position, default
    void setPanRelCur(const OptionalNumber& value); ///< sets the relative pan position
    OptionalNumber getTiltMin();                 ///< absolute tilt, minimum
    OptionalNumber getTiltMax();                 ///< absolute tilt, maximum
    OptionalNumber getTiltCur();                 ///< absolute tilt, current
    OptionalNumber getTiltDef();                 ///< absolute tilt, default
    void setTiltCur(const OptionalNumber& value); ///< moves tilt, keeping pan
    OptionalNumber getTiltRelMin();              ///< relative tilt position, minimum
    OptionalNumber getTiltRelMax();              ///< relative tilt position, maximum
    OptionalNumber getTiltRelDef();              ///< relative tilt position, default
    OptionalNumber getTiltRelCur();              ///< relative tilt position, current
    void setTiltRelCur(const OptionalNumber& value); ///< sets the relative tilt position
    ///@}

    /// @name Zoom
    /// Absolute zoom and the relative (continuous) zoom; null when the call fails.
    ///@{
    OptionalNumber getZoomDef();                  ///< zoom, default
    OptionalNumber getZoomMin();                  ///< zoom, minimum
    OptionalNumber getZoomMax();                  ///< zoom, maximum (some models report a corrected value)
    OptionalNumber getZoomCur();                  ///< zoom, current
    void setZoomCur(const OptionalNumber& value); ///< zooms (a 16-bit value, sign-extended)
    OptionalNumber getZoomRelDef();               ///< relative zoom, default
    OptionalNumber getZoomRelMin();               ///< relative zoom, minimum
    OptionalNumber getZoomRelMax();               ///< relative zoom, maximum
    OptionalNumber getZoomRelCur();               ///< relative zoom, current
    void setZoomRelCur(const OptionalNumber& value); ///< starts (1, -1) or stops (0) zooming
    ///@}

    /// @name Picture controls
    /// Each control's minimum, maximum, current and default value, null when the call
    /// fails, and its setter, which sends the value's low bytes as they are (no
    /// clamping: a value outside the range is the camera's to refuse).
    ///@{
    OptionalNumber getBrightnessMin();      ///< brightness, minimum
    OptionalNumber getBrightnessMax();      ///< brightness, maximum
    OptionalNumber getBrightnessCur();      ///< brightness, current
    OptionalNumber getBrightnessDefault();  ///< brightness, default
    void setBrightnessCur(const OptionalNumber& value); ///< sets brightness
    OptionalNumber getContrastMin();        ///< contrast, minimum
    OptionalNumber getContrastMax();        ///< contrast, maximum
    OptionalNumber getContrastCur();        ///< contrast, current
    OptionalNumber getContrastDefault();    ///< contrast, default
    void setContrastCur(const OptionalNumber& value);   ///< sets contrast
    OptionalNumber getExposureMin();        ///< exposure time (100 µs units), minimum
    OptionalNumber getExposureMax();        ///< exposure time, maximum
    OptionalNumber getExposureCur();        ///< exposure time, current
    OptionalNumber getExposureDefault();    ///< exposure time, default
    void setExposureCur(const OptionalNumber& value);   ///< sets the exposure time
    OptionalNumber getSaturationMin();      ///< saturation, minimum
    OptionalNumber getSaturationMax();      ///< saturation, maximum
    OptionalNumber getSaturationCur();      ///< saturation, current
    OptionalNumber getSaturationDefault();  ///< saturation, default
    void setSaturationCur(const OptionalNumber& value); ///< sets saturation
    OptionalNumber getHueMin();             ///< hue, minimum
    OptionalNumber getHueMax();             ///< hue, maximum
    OptionalNumber getHueCur();             ///< hue, current
    OptionalNumber getHueDefault();         ///< hue, default
    void setHueCur(const OptionalNumber& value);        ///< sets hue
    OptionalNumber getSharpnessMin();       ///< sharpness, minimum
    OptionalNumber getSharpnessMax();       ///< sharpness, maximum
    OptionalNumber getSharpnessCur();       ///< sharpness, current
    OptionalNumber getSharpnessDefault();   ///< sharpness, default
    void setSharpnessCur(const OptionalNumber& value);  ///< sets sharpness
    OptionalNumber getFocusMin();           ///< focus, minimum
    OptionalNumber getFocusMax();           ///< focus, maximum
    OptionalNumber getFocusCur();           ///< focus, current
    OptionalNumber getFocusDefault();       ///< focus, default
    void setFocusCur(const OptionalNumber& value);      ///< sets focus
    OptionalNumber getWhiteBalMin();        ///< white balance temperature (K), minimum
    OptionalNumber getWhiteBalMax();        ///< white balance temperature, maximum
    OptionalNumber getWhiteBalCur();        ///< white balance temperature, current
    OptionalNumber getWhiteBalDefault();    ///< white balance temperature, default
    void setWhiteBalCur(const OptionalNumber& value);   ///< sets the white balance temperature
    ///@}

    /// @name Automatic modes and switches
    ///@{
    bool isAutoExposureSet();               ///< whether the exposure mode is aperture priority (automatic)
    void setAutoExposure(BOOL on);          ///< 1: automatic; 0: manual (and exposure priority off)
    bool isSunwiseSet();                    ///< whether the Sunwise low-light feature is on
    void setSunwise(BOOL on);               ///< turns Sunwise on or off
    bool isAutoHueSet();                    ///< whether hue is automatic (NO after a failure)
    bool getAutoHueDefault();               ///< automatic hue's default
    void setAutoHue(BOOL on);               ///< turns automatic hue on or off
    void setWhiteBalAuto(BOOL on);          ///< automatic white balance (the byte as given)
    OptionalNumber isAutoWhiteBalanceSet(); ///< automatic white balance's byte; null on failure
    bool getAutoWhiteBalanceDefault();      ///< automatic white balance's default
    void setAutoFocusCur(int64_t on);       ///< turns automatic focus on (non-zero) or off
    OptionalNumber isAutoFocusSet();        ///< automatic focus as a boolean; null on failure
    bool getAutoFocusDefault();             ///< automatic focus's default
    bool isAntiFlickerSupported();          ///< whether the camera has anti-flicker
    OptionalNumber getAntiFlickerCur();     ///< anti-flicker (0 off, 1 50 Hz, 2 60 Hz, 3 auto; 0 after a failure)
    void setAntiFlickerCur(const OptionalNumber& value); ///< sets anti-flicker
    OptionalNumber getAntiFlickerDefault(); ///< anti-flicker's default
    OptionalNumber getAntiFlickerMax();     ///< the highest anti-flicker setting the camera has (3: auto); null when it does not say
    bool isMirrorSupported();               ///< whether the camera can mirror its picture
    OptionalNumber getMirrorDef();          ///< mirror's default; null when not supported
    OptionalNumber getMirrorCur();          ///< mirror; null when not supported
    void setMirrorCur(const OptionalNumber& value); ///< mirrors (1) or not (0)
    void setFieldOfView(int32_t value);     ///< the field of view (0 wide … 2 narrow)
    /// Always stores a number (0 after a failed read); answers whether the read succeeded.
    bool getFieldOfView(OptionalNumber* slot);
    ///@}

    /// @name Property sets
    ///@{
    /// Whether the camera has the property set (vendor sets are extension units).
    bool isPropertySupported(UUIDBytes uuid);
    /// Whether the camera has the set and the item in it.
    bool isPropertyItemSupported(UUIDBytes uuid, uint32_t item);
    ///@}

    /// @name Relative pan/tilt motion
    /// Each move turns the head for 125 ms on the device's serial queue and returns at once.
    ///@{
    void panRelativeLeft();  ///< a step left
    void panRelativeRight(); ///< a step right
    void tiltRelativeUp();   ///< a step up
    void tiltRelativeDown(); ///< a step down
    /// Lets go of the queue of movements (those submitted still run); always 0.
    int16_t relativePanTiltStop(int64_t unused);
    /// Brings the head back to its start, retrying while the camera refuses (up to
    /// about 0.6 s, turning the caller's run loop).
    void resetPanTiltRel();
    /// Whether the camera has the relative head and no absolute one.
    bool isPTZRelativeSupported();
    ///@}

    /// @name Information queries
    ///@{
    /// Whether the computer's own built-in camera is among the cameras.
    static bool hasBuiltInCamera();
    Value getEEPROMInfo();      ///< {Major, Minor}; never null (zeros when the camera does not say)
    Value getSensorInfo();      ///< {SensorTech, SensorType}; null on failure
    Value getFirmwareVersion(); ///< {Major, Minor, BuildNo}; null on failure
    OptionalNumber getFirmwareCRCControl(); ///< the firmware's CRC; null on failure
    ///@}

    class Private;

private:
    friend class OrvaCameraShare; // runs the camera for its consumers
    explicit OrvaVideoDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    Private& d() const; // defined with the private part
};

} // namespace orva
