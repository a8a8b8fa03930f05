// Relative pan/tilt motion: 125 ms bursts on the device's serial queue.
#include "devices/video/OrvaPropertySets.h"
#include "platform/foundation/ConsoleLog.h"
#include "devices/video/OrvaVideoDevicePrivate.h"
#include <orva/OrvaVideoDevice.h>

#include "platform/foundation/DispatchQueue.h"
#include <orva/RunLoop.h>
#include "platform/foundation/SystemLog.h"

#include <zedederadIvo.h>

#include <cstdio>
#include <unistd.h>

namespace orva {

namespace {
constexpr uint32_t kRelativePanTilt = 14;    // camera terminal
constexpr uint32_t kPanTiltReset = 2;        // vendor pan/tilt set
constexpr uint32_t kRelativePanTiltValue = 1; // vendor pan/tilt set
constexpr uint8_t kMoveLeft[4] = {0x01, 0, 0, 0};
constexpr uint8_t kMoveRight[4] = {0xFF, 0, 0, 0};
constexpr uint8_t kMoveUp[4] = {0, 0, 0x01, 0};
constexpr uint8_t kMoveDown[4] = {0, 0, 0xFF, 0};

// A 125 ms burst of the head, then the stop, on the camera's motion queue; the camera
// stays alive until its burst ran.
void queueMove(OrvaVideoDevice& camera, OrvaVideoDevice::Private& d, const uint8_t (&move)[4], const char* message)
{
    if (!d.mMotionQueue) d.mMotionQueue = DispatchQueue::create("orva.camera.relative-motion");
    if (!d.mMotionQueue) return;
    auto self = std::static_pointer_cast<OrvaVideoDevice>(camera.shared_from_this());
    const uint32_t value = static_cast<uint32_t>(move[0]) | move[1] << 8 | move[2] << 16 | static_cast<uint32_t>(move[3]) << 24;
    d.mMotionQueue->async([self, device = &d, value, message] {
        (void)device->setProperty(CameraTerminalSet, kRelativePanTilt, &value, 4);
        usleep(125000);
        const uint32_t stopValue = 0;
        (void)device->setProperty(CameraTerminalSet, kRelativePanTilt, &stopValue, 4);
        SystemLog::log("%s", message);
    });
}

} // namespace

void OrvaVideoDevice::panRelativeLeft() { queueMove(*this, d(), kMoveLeft, "panRelativeLeft -1"); }
void OrvaVideoDevice::panRelativeRight() { queueMove(*this, d(), kMoveRight, "panRelativeRight 1"); }
void OrvaVideoDevice::tiltRelativeUp() { queueMove(*this, d(), kMoveUp, "tiltRelativeUp -1"); }
void OrvaVideoDevice::tiltRelativeDown() { queueMove(*this, d(), kMoveDown, "tiltRelativeDown 1"); }

int16_t OrvaVideoDevice::relativePanTiltStop(int64_t /*unused*/)
{
    d().mMotionQueue.reset(); // submitted movements still run on the released queue
    return 0;
}

void OrvaVideoDevice::resetPanTiltRel()
{
    for (int attempts = 6; attempts > 0; --attempts) {
        const uint8_t reset = 3;
        const int32_t result = d().setProperty(PanTiltExtensionSet, kPanTiltReset, &reset, 1);
        SystemLog::log("resetPanTiltRel Result %d", result);
        RunLoop::current().runUntilDate(0.1);
        if (result == 0) return;
    }
}

bool OrvaVideoDevice::isPTZRelativeSupported()
{
    uint8_t absolute[8] = {};
    if (d().getProperty(CameraTerminalSet, 13, PropertyQueryCurrent, absolute, 8) == ZI_OK) return false;
    PropertySet set = PanTiltExtensionSet;
    uint32_t size = 0, count = 0;
    if (VCI_Enum_Property_Items(d().mHandle.load(), &set, nullptr, &size, &count) != ZI_MORE_DATA) return false;
    // The buffer holds whole ids only, whatever byte count the library gave.
    std::vector<uint32_t> ids((size + sizeof(uint32_t) - 1) / sizeof(uint32_t));
    const int32_t result = VCI_Enum_Property_Items(d().mHandle.load(), &set, ids.data(), &size, &count);
    if (result != ZI_OK) {
        ConsoleLog::print(OrvaLogLevel::Error, ConsoleLog::Stream::StandardOutput, "\n VCI_Enum_Property_Items is failed with error %d", result);
        return false;
    }
    if (ids.empty()) return false;
    for (uint32_t i = 0; i < count && i < ids.size(); ++i) {
        ConsoleLog::print(OrvaLogLevel::Info, ConsoleLog::Stream::StandardOutput, "item %d = %u \n", static_cast<int>(i), ids[i]);
        if (ids[i] == kRelativePanTiltValue) return true;
    }
    return false;
}

} // namespace orva
