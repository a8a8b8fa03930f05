// Which devices a command works on, and the one rule by which a person names a camera
// or microphone; opening it for the command's length (DeviceUse closes it however
// the command ends). Main thread.
#pragma once

#include "Cli.h"

#include <orva/OrvaAVDevice.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orva {
class OrvaAudioDevice;
class OrvaDeviceInfo;
class OrvaVideoDevice;
} // namespace orva

namespace cli {

// Chooses the devices of the halves a command uses: the simulated bus when asked,
// else the system's, falling back (with a notice) to the built-in virtual camera or
// microphone only where the system has none at all. False after saying why when the
// maker's camera is attached but cannot be used (permission, ...).
bool chooseDevices(unsigned halves, bool simulate);
bool simulatedDevices();

// Picks a camera (or microphone) record, one rule for every command: its index in
// orva devices, its name, its path as orva prints it, its node (/dev/video0, or a
// link to it such as /dev/v4l/by-id/...; a PipeWire node name), or its serial number.
// On a bad choice says what there is and answers null.
std::shared_ptr<orva::OrvaDeviceInfo> chooseDevice(const Invocation& invocation, bool camera,
                                                   const std::optional<std::string>& choice);
std::shared_ptr<orva::OrvaVideoDevice> openCamera(const Invocation& invocation, const std::optional<std::string>& choice);
std::shared_ptr<orva::OrvaAudioDevice> openMicrophone(const Invocation& invocation,
                                                      const std::optional<std::string>& choice);
// Why a device did not start, as a person can act on it (for a camera in use, the
// programs that hold its node where /proc tells).
std::string startFailure(const orva::OrvaAVDevice& device, int32_t status);


// An open device held for one command: closed when the command's scope ends, however
// it ends; delegates added through it are removed first. Stop a capture yourself
// where its status matters.
template <typename Device>
class DeviceUse {
public:
    explicit DeviceUse(std::shared_ptr<Device> device) : mDevice(std::move(device)) {}
    ~DeviceUse()
    {
        if (!mDevice) return;
        removeDelegates();
        mDevice->closeDevice();
    }
    DeviceUse(const DeviceUse&) = delete;
    DeviceUse& operator=(const DeviceUse&) = delete;

    explicit operator bool() const { return mDevice != nullptr; }
    Device* operator->() const { return mDevice.get(); }
    Device& operator*() const { return *mDevice; }
    const std::shared_ptr<Device>& get() const { return mDevice; }
    void addDelegate(std::shared_ptr<orva::OrvaAVDeviceDelegate> delegate)
    {
        mDevice->addDelegate(delegate);
        mDelegates.push_back(std::move(delegate));
    }
    // Now: the delegates added through it hear no more.
    void removeDelegates()
    {
        for (const auto& delegate : mDelegates) mDevice->removeDelegate(delegate);
        mDelegates.clear();
    }

private:
    std::shared_ptr<Device> mDevice;
    std::vector<std::shared_ptr<orva::OrvaAVDeviceDelegate>> mDelegates;
};

} // namespace cli
