#include "platform/capture/CaptureDevice.h"

#include "platform/capture/AudioCaptureBackend.h"

namespace orva {

CaptureDevice::CaptureDevice(std::string busPath, std::string uniqueID, std::string name)
    : mBusPath(std::move(busPath)), mUniqueID(std::move(uniqueID)), mLocalizedName(std::move(name))
{
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devicesWithMediaType(MediaType type)
{
    std::vector<std::shared_ptr<CaptureDevice>> devices;
    if (type != MediaType::Audio) return devices;
    for (auto& d : AudioCaptureBackend::current().devices())
        devices.push_back(std::shared_ptr<CaptureDevice>(new CaptureDevice(d.key, d.uniqueID, d.name)));
    return devices;
}

uint32_t CaptureDevice::channelCount() const
{
    return AudioCaptureBackend::current().channelCount(mBusPath);
}

} // namespace orva
