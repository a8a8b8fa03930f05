// The camera: opening, formats, capture, controls, relative pan/tilt motion and
// information queries.
//
// Threads: the host calls these methods from one thread at a time. Frames reach the
// delegates on the capture library's thread (VideoFrameCompletionCallback), with the
// delegate-list lock held. Control and information methods make synchronous library
// calls on the caller's thread; the four relative moves queue their work on the
// device's serial queue and return at once; resetPanTiltRel blocks for up to about
// 0.6 s while turning the caller's run loop.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/SharedSlot.h>
#include <orva/OrvaAVDevice.h>
#include <orva/Number.h>
#include <orva/Value.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

struct _VCI_EVENT_INFO;
struct PropertySet;

namespace orva {

class DispatchQueue;

// Keys offered to hosts for describing a video format; the component does not read them.
ORVA_EXPORT extern const char* const KPXVideoWidth;  // "kKPXVideoWidth"
ORVA_EXPORT extern const char* const KPXVideoHeight; // "kKPXVideoHeight"
ORVA_EXPORT extern const char* const KPXVideoCodec;  // "kKPXVideoCodec"

// The library calls this on its thread for every captured frame; the event's context
// is the device.
ORVA_EXPORT void VideoFrameCompletionCallback(void* reserved, _VCI_EVENT_INFO* info);

class ORVA_EXPORT OrvaVideoDevice : public OrvaAVDevice {
public:
    using UUIDBytes = std::array<uint8_t, 16>;
    using OptionalNumber = std::optional<Number>;
    using BOOL = signed char; // a boolean argument that may carry values other than 0 and 1

    [[nodiscard]] static std::shared_ptr<OrvaVideoDevice> create(std::shared_ptr<OrvaDeviceInfo> deviceInfo);
    ~OrvaVideoDevice() override;

    // The shared device manager's camera list (records, not devices).
    static std::shared_ptr<const std::vector<std::shared_ptr<OrvaDeviceInfo>>> getVideoDeviceList();

    // ---- Lifecycle, formats, capture ----
    // 0, or 7 when the library gives no handle.
    [[nodiscard]] int32_t openDevice() override;
    void closeDevice() override;
    // The library's pixel formats as four-character texts; null when not open.
    std::shared_ptr<const std::vector<std::string>> getMediaFormats();
    // One video format description per frame size the library lists for the code.
    std::shared_ptr<const FormatList> getResolutionsForCodec(uint32_t codec);
    // All formats, built on first request and kept (empty when first asked while closed).
    std::shared_ptr<const FormatList> getSupportedFormats() override;
    // A new list of the formats whose code matches; null for a null or empty input.
    [[nodiscard]] static std::shared_ptr<FormatList> copyFormatsForCodec(uint32_t codec, const FormatList* formats);
    // The library's frame intervals (100 ns units) for the format's code and size.
    std::shared_ptr<const std::vector<Number>> getSupportedFrameIntervals(const FormatDescription& format);
    // The stored interval list, which nothing fills: null.
    std::shared_ptr<const std::vector<Number>> getSupportedFrameIntervals() const { return mSupportedFrameIntervals; }
    std::shared_ptr<const Number> frameInterval() const { return mFrameinterval.load(); }
    void setFrameInterval(std::shared_ptr<const Number> interval) { mFrameinterval.store(std::move(interval)); }
    std::shared_ptr<const FormatDescription> getFormat() const override { return mFormat; }
    // Keeps the format for the next startCapture; null (or a description that is not
    // a video one) leaves no chosen format.
    void setFormat(std::shared_ptr<const FormatDescription> format) override;
    // 0; 3 when not open; 2 when the library refuses the parameters.
    [[nodiscard]] int32_t setCaptureFormat(const FormatDescription& format);
    // 0 (also when already capturing), 3 not open, 2 no format, 6 refused (19), 7 failed.
    [[nodiscard]] int32_t startCapture() override;
    // 0 (also when not capturing), 3 capturing but not open, 7 failed.
    [[nodiscard]] int32_t stopCapture() override;

    // ---- Controls: getters answer null when the library call fails ----
    OptionalNumber getPanMin();
    OptionalNumber getPanMax();
    OptionalNumber getPanCur();
    OptionalNumber getPanDef();
    void setPanCur(const OptionalNumber& value);
    OptionalNumber getPanRelMin();
    OptionalNumber getPanRelMax();
    OptionalNumber getPanRelCur();
    OptionalNumber getPanRelDef();
    void setPanRelCur(const OptionalNumber& value);
    OptionalNumber getTiltMin();
    OptionalNumber getTiltMax();
    OptionalNumber getTiltCur();
    OptionalNumber getTiltDef();
    void setTiltCur(const OptionalNumber& value);
    OptionalNumber getTiltRelMin();
    OptionalNumber getTiltRelMax();
    OptionalNumber getTiltRelDef();
    OptionalNumber getTiltRelCur();
    void setTiltRelCur(const OptionalNumber& value);
    OptionalNumber getZoomDef();
    OptionalNumber getZoomMin();
    OptionalNumber getZoomMax();
    OptionalNumber getZoomCur();
    void setZoomCur(const OptionalNumber& value);
    OptionalNumber getZoomRelDef();
    OptionalNumber getZoomRelMin();
    OptionalNumber getZoomRelMax();
    OptionalNumber getZoomRelCur();
    void setZoomRelCur(const OptionalNumber& value);
    OptionalNumber getBrightnessMin();
    OptionalNumber getBrightnessMax();
    OptionalNumber getBrightnessCur();
    OptionalNumber getBrightnessDefault();
    void setBrightnessCur(const OptionalNumber& value);
    OptionalNumber getContrastMin();
    OptionalNumber getContrastMax();
    OptionalNumber getContrastCur();
    OptionalNumber getContrastDefault();
    void setContrastCur(const OptionalNumber& value);
    OptionalNumber getExposureMin();
    OptionalNumber getExposureMax();
    OptionalNumber getExposureCur();
    OptionalNumber getExposureDefault();
    void setExposureCur(const OptionalNumber& value);
    bool isAutoExposureSet();
    void setAutoExposure(BOOL on);
    bool isSunwiseSet();
    void setSunwise(BOOL on);
    OptionalNumber getSaturationMin();
    OptionalNumber getSaturationMax();
    OptionalNumber getSaturationCur();
    OptionalNumber getSaturationDefault();
    void setSaturationCur(const OptionalNumber& value);
    OptionalNumber getHueMin();
    OptionalNumber getHueMax();
    OptionalNumber getHueCur();
    OptionalNumber getHueDefault();
    void setHueCur(const OptionalNumber& value);
    bool isAutoHueSet();
    bool getAutoHueDefault();
    void setAutoHue(BOOL on);
    OptionalNumber getSharpnessMin();
    OptionalNumber getSharpnessMax();
    OptionalNumber getSharpnessCur();
    OptionalNumber getSharpnessDefault();
    void setSharpnessCur(const OptionalNumber& value);
    OptionalNumber getFocusMin();
    OptionalNumber getFocusMax();
    OptionalNumber getFocusCur();
    OptionalNumber getFocusDefault();
    void setFocusCur(const OptionalNumber& value);
    void setWhiteBalAuto(BOOL on);
    OptionalNumber isAutoWhiteBalanceSet();
    bool getAutoWhiteBalanceDefault();
    OptionalNumber getWhiteBalMin();
    OptionalNumber getWhiteBalMax();
    OptionalNumber getWhiteBalCur();
    OptionalNumber getWhiteBalDefault();
    void setWhiteBalCur(const OptionalNumber& value);
    void setAutoFocusCur(int64_t on);
    OptionalNumber isAutoFocusSet();
    bool getAutoFocusDefault();
    bool isAntiFlickerSupported();
    OptionalNumber getAntiFlickerCur();
    void setAntiFlickerCur(const OptionalNumber& value);
    OptionalNumber getAntiFlickerDefault();
    bool isMirrorSupported();
    OptionalNumber getMirrorDef();
    OptionalNumber getMirrorCur();
    void setMirrorCur(const OptionalNumber& value);
    void setFieldOfView(int32_t value);
    // Always stores a number (0 after a failed read); answers whether the read succeeded.
    bool getFieldOfView(OptionalNumber* slot);
    bool isPropertySupported(UUIDBytes uuid);
    bool isPropertyItemSupported(UUIDBytes uuid, uint32_t item);

    // ---- Relative pan/tilt motion ----
    void panRelativeLeft();
    void panRelativeRight();
    void tiltRelativeUp();
    void tiltRelativeDown();
    // Lets go of the queue of movements (those submitted still run); always 0.
    int16_t relativePanTiltStop(int64_t unused);
    void resetPanTiltRel();
    bool isPTZRelativeSupported();

    // ---- Information queries ----
    static bool hasBuiltInCamera();
    Value getEEPROMInfo();      // never null
    Value getSensorInfo();      // null on failure
    Value getFirmwareVersion(); // null on failure
    OptionalNumber getFirmwareCRCControl();

private:
    friend void VideoFrameCompletionCallback(void*, _VCI_EVENT_INFO*);
    explicit OrvaVideoDevice(std::shared_ptr<OrvaDeviceInfo> deviceInfo) : OrvaAVDevice(std::move(deviceInfo)) {}

    enum class Kind { S32, S16, U16, U32, U8, Bool };
    int32_t getProperty(const PropertySet& set, uint32_t id, uint32_t query, void* block, uint32_t width);
    int32_t setProperty(const PropertySet& set, uint32_t id, const void* block, uint32_t width);
    // Step group A: a read of `width` bytes, the field at `offset` as a number of `kind`.
    OptionalNumber readNumber(const PropertySet& set, uint32_t id, uint32_t query, uint32_t width, Kind kind,
                              uint32_t offset = 0);
    // Step group B: the argument's low `width` bytes, written as they are.
    void writeInteger(const PropertySet& set, uint32_t id, uint32_t width, const OptionalNumber& value);
    void writeZoom(uint32_t id, const OptionalNumber& value);
    void writeAbsolutePanTilt(bool pan, const OptionalNumber& value);
    void writeRelativePanTilt(bool pan, const OptionalNumber& value);
    void queueMove(const uint8_t (&move)[4], const char* message);
    int32_t readInfoRecord(uint32_t id, void* block, uint32_t width);

    SharedSlot<const Number> mFrameinterval;
    std::shared_ptr<const std::vector<Number>> mSupportedFrameIntervals;
    std::shared_ptr<const FormatList> mSupportedFormats;
    uint32_t mSubstream = 0;
    std::shared_ptr<const FormatDescription> mFormat;
    int64_t stop = 0;
    std::shared_ptr<DispatchQueue> _localQueue;
};

} // namespace orva
