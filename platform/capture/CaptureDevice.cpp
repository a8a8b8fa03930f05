#include "platform/capture/CaptureDevice.h"

#include <zedederadIvoSim.h>

namespace orva {

CaptureDevice::CaptureDevice(std::string busPath)
    : mBusPath(std::move(busPath)), mUniqueID("zi-audio-in:" + mBusPath + "#0"), mLocalizedName("Audio input " + mBusPath)
{
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devicesWithMediaType(MediaType type)
{
    std::vector<std::shared_ptr<CaptureDevice>> devices;
    if (type != MediaType::Audio) return devices;
    for (uint32_t index = 0;; ++index) {
        const int32_t length = ZISim_MicrophonePath(index, nullptr, 0);
        if (length < 0) break;
        std::string path(static_cast<size_t>(length) + 1, '\0');
        if (ZISim_MicrophonePath(index, path.data(), static_cast<uint32_t>(path.size())) < 0) break;
        path.resize(static_cast<size_t>(length));
        devices.push_back(std::shared_ptr<CaptureDevice>(new CaptureDevice(std::move(path))));
    }
    return devices;
}

uint32_t CaptureDevice::channelCount() const
{
    const int32_t channels = ZISim_MicrophoneChannels(mBusPath.c_str());
    return channels > 0 ? static_cast<uint32_t>(channels) : 0;
}

} // namespace orva
