// A capture device as the input of a capture session. Made on any thread.
#pragma once

#include "platform/capture/CaptureDevice.h"

#include <memory>
#include <string>

namespace orva {

class CaptureDeviceInput {
public:
    // Null, with a reason in `error` when given, for a null device or one that is gone.
    static std::shared_ptr<CaptureDeviceInput> deviceInputWithDevice(const std::shared_ptr<CaptureDevice>& device,
                                                                     std::string* error);
    const std::shared_ptr<CaptureDevice>& device() const { return mDevice; }
    // "<CaptureDeviceInput: 0x…> [name]", as the platform describes an input.
    std::string description() const;

private:
    explicit CaptureDeviceInput(std::shared_ptr<CaptureDevice> device) : mDevice(std::move(device)) {}
    std::shared_ptr<CaptureDevice> mDevice;
};

} // namespace orva
