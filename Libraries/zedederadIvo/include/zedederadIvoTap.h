/*
 * zedederadIvoTap: the microphones' sound for a level meter, beside the device ABI.
 *
 * A meter listens to a microphone without opening it: it must not take the device
 * from a host that captures it, nor change its format. This capture library offers
 * taps over whichever implementation backs its audio half (the sound server's
 * sources on a real system, the simulated bus's microphones otherwise). It is an
 * extension: a library that implements only zedederadIvo.h lacks these functions,
 * and the component then reaches the sound server itself.
 *
 * A microphone's tap path is the path of its device record where it has one
 * ("pipewire:<node name>;usb=<bus path>;serial=<serial>" for the sound server's
 * sources), so a meter finds the tap of a record by its path.
 *
 * Threads: every function is thread-safe and may wait for the sound server (two
 * seconds at most). A tap's callback runs on a thread of the library's, with about
 * 10 ms of 48 kHz interleaved 16-bit frames; when the microphone goes it is called
 * once with no frames (samples null) and never after. ZITap_Close returns once no
 * callback of the tap runs (do not call it from inside the callback).
 */
#ifndef ZEDEDERADIVO_TAP_H
#define ZEDEDERADIVO_TAP_H

#include "zedederadIvo.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*ZITAP_CALLBACK)(void* context, const int16_t* samples, uint32_t frames, uint32_t channels);

/* Writes the tap path of the index-th microphone (UTF-8, 0-terminated, cut to size)
 * and answers its full length; -1 past the last. A null buffer asks the length. */
ZI_EXPORT int32_t ZITap_MicrophonePath(uint32_t index, char* buffer, uint32_t size);
/* Writes the microphone's name likewise; -1 for an unknown path. */
ZI_EXPORT int32_t ZITap_MicrophoneName(const char* path, char* buffer, uint32_t size);
/* The channel count the microphone's tap delivers; -1 for an unknown path. */
ZI_EXPORT int32_t ZITap_MicrophoneChannels(const char* path);
/* Null for an unknown path or without a sound server. */
ZI_EXPORT void* ZITap_Open(const char* path, ZITAP_CALLBACK callback, void* context);
ZI_EXPORT void ZITap_Close(void* tap);

#ifdef __cplusplus
}
#endif

#endif /* ZEDEDERADIVO_TAP_H */
