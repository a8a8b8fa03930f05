// The simulated microphone's running captures: 16-bit PCM in 10 ms buffers, or raw
// AAC packets of 1024 frames (one packet per buffer), made from the device's tone with
// its current mute and volume; and the platform tap, which hands 10 ms of 48 kHz PCM
// in the device's native channel count to a sink instead of the library's subscribers.
#pragma once

#include "Stream.h"
#include "zedederadIvo.h"

#include <memory>

namespace zi {

struct Device;

// Null for a format the simulated microphone cannot produce.
std::shared_ptr<Stream> makeAudioStream(void* handle, const std::shared_ptr<Device>& device,
                                        const _ACI_WAVE_FORMAT& format);

std::shared_ptr<Stream> makeTapStream(const std::shared_ptr<Device>& device, uint32_t channels, Stream::Sink sink);

// The channel count the platform sees for a microphone: its widest wave format (2 when
// it lists none).
uint32_t nativeChannels(const Device& device);

} // namespace zi
