// The built-in virtual camera and microphone, and the standard descriptions that
// ZISim_Plug gives a device when asked for them.
#include "Bus.h"
#include "PropertySets.h"

#include <cstring>

const char* const ZISIM_BUILTIN_CAMERA_PATH = "zi-bus:usb-0000:00:14.0-1:1.0/video";
const char* const ZISIM_BUILTIN_MICROPHONE_PATH = "zi-bus:usb-0000:00:14.0-1:1.2/audio";

namespace zi {

namespace {

constexpr const Uuid& kCameraTerminal = kCameraTerminalSet;
constexpr const Uuid& kProcessingUnit = kProcessingUnitSet;
constexpr Uuid kPanTiltExtension{0xFF, 0xE5, 0x2D, 0x21, 0x80, 0x30, 0x4E, 0x2C,
                                 0x82, 0xD9, 0xF5, 0x87, 0xD0, 0x05, 0x40, 0xBD};
constexpr Uuid kImageGeometry{0x49, 0xE4, 0x02, 0x15, 0xF4, 0x34, 0x47, 0xFE,
                              0xB1, 0x58, 0x0E, 0x88, 0x50, 0x23, 0xE5, 0x1B};
constexpr Uuid kSunwise{0xF7, 0x54, 0x49, 0x96, 0x08, 0x19, 0x4E, 0xC2,
                        0x99, 0x7E, 0xAA, 0x41, 0x88, 0x79, 0x64, 0xEA};
// Models with an absolute pan/tilt head: the maker's PTZ camera (0x08E6), and the
// virtual PTZ camera (a product ID of its own, never a real product's).
constexpr uint16_t kPtzProductID = 0x08E6, kVirtualPtzProductID = 0x7E03;
constexpr Uuid kDeviceInfo{0x69, 0x67, 0x8E, 0xE4, 0x41, 0x0F, 0x40, 0xDB,
                           0xA8, 0x50, 0x74, 0x20, 0xD7, 0xD8, 0x24, 0x0E};

template <typename T>
std::vector<uint8_t> le(T value, uint32_t width = sizeof(T))
{
    std::vector<uint8_t> bytes(width, 0);
    std::memcpy(bytes.data(), &value, std::min<size_t>(width, sizeof(T)));
    return bytes;
}

PropertySetDesc& setFor(Device& device, const Uuid& uuid)
{
    for (auto& s : device.propertySets)
        if (s.uuid == uuid) return s;
    device.propertySets.push_back(PropertySetDesc{uuid, {}, {}});
    return device.propertySets.back();
}

template <typename T>
void range(Device& device, const Uuid& uuid, uint32_t id, T cur, T def, T min, T max)
{
    auto& set = setFor(device, uuid);
    Property p;
    p.width = sizeof(T);
    p.cur = le(cur);
    p.def = le(def);
    p.min = le(min);
    p.max = le(max);
    if (!set.items.count(id)) set.order.push_back(id);
    set.items[id] = std::move(p);
}

void block(Device& device, const Uuid& uuid, uint32_t id, std::vector<uint8_t> value)
{
    auto& set = setFor(device, uuid);
    Property p;
    p.width = static_cast<uint32_t>(value.size());
    p.cur = p.def = value;
    p.min = p.max = std::vector<uint8_t>(value.size(), 0);
    if (!set.items.count(id)) set.order.push_back(id);
    set.items[id] = std::move(p);
}

} // namespace

void describeDefaultCamera(Device& device)
{
    const uint32_t avc1 = 0x61766331, yuv = 0x32767579; // 'avc1', '2vuy'
    const std::pair<uint32_t, uint32_t> sizes[] = {{1920, 1080}, {1280, 720}, {864, 480},
                                                   {640, 480},   {640, 360},  {320, 240}};
    for (uint32_t code : {avc1, yuv})
        for (auto [w, h] : sizes) {
            VideoFormat f;
            f.fourcc = code;
            f.width = w;
            f.height = h;
            f.intervals = (w * h > 1280 * 720 && code == yuv) ? std::vector<uint32_t>{666666, 1000000}
                                                              : std::vector<uint32_t>{333333, 666666, 1000000};
            device.videoFormats.push_back(std::move(f));
        }

    // Camera terminal.
    range<uint8_t>(device, kCameraTerminal, 2, 8, 8, 0, 0x0F);                 // auto-exposure mode
    range<uint8_t>(device, kCameraTerminal, 3, 0, 0, 0, 1);                    // auto-exposure priority
    range<uint32_t>(device, kCameraTerminal, 4, 156, 156, 3, 2047);            // exposure time
    range<uint16_t>(device, kCameraTerminal, 6, 0, 0, 0, 255);                 // focus
    range<uint8_t>(device, kCameraTerminal, 8, 1, 1, 0, 1);                    // auto focus
    range<int32_t>(device, kCameraTerminal, 11, 1, 1, 1, 4);                   // zoom (digital, 1x-4x)
    range<int32_t>(device, kCameraTerminal, 12, 0, 0, -1, 1);                  // relative zoom
    range<uint32_t>(device, kCameraTerminal, 14, 0, 0, 0, 0);                  // relative pan/tilt
    // Processing unit.
    range<int16_t>(device, kProcessingUnit, 2, 128, 128, 0, 255);              // brightness
    range<uint16_t>(device, kProcessingUnit, 3, 32, 32, 0, 95);                // contrast
    range<uint8_t>(device, kProcessingUnit, 5, 2, 2, 0, 2);                    // anti-flicker
    range<int16_t>(device, kProcessingUnit, 6, 0, 0, -180, 180);               // hue
    range<uint16_t>(device, kProcessingUnit, 7, 64, 64, 0, 100);               // saturation
    range<uint16_t>(device, kProcessingUnit, 8, 3, 3, 0, 7);                   // sharpness
    range<uint16_t>(device, kProcessingUnit, 10, 4600, 4600, 2800, 6500);      // white balance
    range<uint8_t>(device, kProcessingUnit, 11, 1, 1, 0, 1);                   // auto white balance
    range<uint8_t>(device, kProcessingUnit, 16, 0, 0, 0, 1);                   // auto hue
    // Vendor sets.
    // Vendor pan/tilt: the head's position in steps (pan s16, tilt s16), moved by the
    // camera-terminal relative control and zeroed by the reset command.
    range<uint32_t>(device, kPanTiltExtension, 1, 0, 0, 0xFFDCFFDC /* -36,-36 */, 0x00240024 /* 36,36 */);
    range<uint8_t>(device, kPanTiltExtension, 2, 0, 0, 0, 3);                   // pan/tilt reset
    range<uint8_t>(device, kImageGeometry, 5, 0, 0, 0, 2);                      // field of view
    range<uint8_t>(device, kImageGeometry, 13, 0, 0, 0, 1);                     // mirror
    range<uint8_t>(device, kSunwise, 6, 0, 0, 0, 1);                            // Sunwise
    block(device, kDeviceInfo, 4, {0x03, 0x07});                                // sensor: CMOS, type 7
    if (device.productID == kPtzProductID || device.productID == kVirtualPtzProductID) {
        // The PTZ model also has an absolute pan/tilt head (arc-seconds, pan then tilt).
        auto& set = setFor(device, kCameraTerminal);
        Property p;
        p.width = 8;
        p.cur = p.def = std::vector<uint8_t>(8, 0);
        p.min = le<int64_t>(static_cast<int64_t>(static_cast<uint32_t>(-36000)) | (static_cast<int64_t>(static_cast<uint32_t>(-36000)) << 32));
        p.max = le<int64_t>(36000LL | (36000LL << 32));
        set.order.push_back(13);
        set.items[13] = std::move(p);
    }
    block(device, kDeviceInfo, 1, {0x05, 0x02, 0x1C, 0x01});                    // firmware 2.5 build 284
    block(device, kDeviceInfo, 2, {0x34, 0x12});                                // CRC control
    block(device, kDeviceInfo, 3, {0x01, 0x04, 0, 0, 0, 0, 0, 0});              // EEPROM 1.4
}

void describeDefaultMicrophone(Device& device)
{
    device.waveFormats = {
        {ZI_WAVE_FORMAT_LPCM, 2, 48000, 16, 0}, {ZI_WAVE_FORMAT_LPCM, 2, 44100, 16, 0},
        {ZI_WAVE_FORMAT_LPCM, 1, 16000, 16, 0}, {ZI_WAVE_FORMAT_AAC, 2, 48000, 16, 0},
        {ZI_WAVE_FORMAT_AAC, 2, 44100, 16, 0},  {ZI_WAVE_FORMAT_AAC, 1, 48000, 16, 0},
    };
    device.volume = 200;
    device.mute = 0;
}

void Bus::plugBuiltIns()
{
    ZISimDeviceDesc camera{};
    camera.type = ZISIM_CAMERA;
    camera.path = ZISIM_BUILTIN_CAMERA_PATH;
    camera.name = "Orva Virtual Camera";
    camera.vendorID = 0x2E7A;
    camera.productID = 0x7E01; // the virtual devices' own product IDs, never a real product's
    camera.revision = 0x0102;
    camera.withDefaultDescription = 1;
    plug(camera, true);

    ZISimDeviceDesc mic{};
    mic.type = ZISIM_MICROPHONE;
    mic.path = ZISIM_BUILTIN_MICROPHONE_PATH;
    mic.name = "Orva Virtual Microphone";
    mic.vendorID = 0x2E7A;
    mic.productID = 0x7E02;
    mic.revision = 0x0102;
    mic.withDefaultDescription = 1;
    plug(mic, true);
}

} // namespace zi
