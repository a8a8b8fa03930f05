// A platform audio capture device: one microphone as the desktop's sound system
// offers it, apart from the capture library (AudioCaptureBackend: PipeWire, or the
// simulated device bus when the simulator backs the library). devicesWithMediaType
// may be called from any thread; the first call may wait for the sound server to
// answer (two seconds at most).
#pragma once

#include <orva/FormatDescription.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orva {

class CaptureDevice {
public:
    // The platform's devices of a media type, in the platform's order (only audio
    // devices exist here; video answers an empty list).
    static std::vector<std::shared_ptr<CaptureDevice>> devicesWithMediaType(MediaType type);

    // Stable for the device's life; contains the device's bus path.
    const std::string& uniqueID() const { return mUniqueID; }
    const std::string& localizedName() const { return mLocalizedName; }
    // What the platform opens the device by (the simulator's bus path, PipeWire's node name).
    const std::string& busPath() const { return mBusPath; }
    // Audio channels the device delivers; 0 when it is gone.
    uint32_t channelCount() const;

private:
    CaptureDevice(std::string busPath, std::string uniqueID, std::string name);
    std::string mBusPath;
    std::string mUniqueID;
    std::string mLocalizedName;
};

} // namespace orva
