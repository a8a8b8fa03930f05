#include "platform/capture/CaptureDeviceInput.h"

#include <cstdio>

namespace orva {

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::deviceInputWithDevice(const std::shared_ptr<CaptureDevice>& device,
                                                                              std::string* error)
{
    if (!device || device->channelCount() == 0) {
        if (error) *error = device ? "the device " + device->uniqueID() + " is not connected" : "no device";
        return nullptr;
    }
    return std::shared_ptr<CaptureDeviceInput>(new CaptureDeviceInput(device));
}

std::string CaptureDeviceInput::description() const
{
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<CaptureDeviceInput: ") + address + "> [" + mDevice->localizedName() + "]";
}

} // namespace orva
