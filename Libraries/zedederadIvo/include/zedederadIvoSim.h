/*
 * zedederadIvoSim: control API of the simulated device bus behind zedederadIvo.h.
 *
 * Tests, the orva CLI and demos use it to plug and unplug virtual devices, describe
 * them, make any library function answer a chosen result, read the journal of every
 * library call, and choose the clock. Every function is thread-safe and may be called
 * whether or not VCI_Init/ACI_Init ran. Plug-and-play events caused by ZISim_Plug and
 * ZISim_Unplug are delivered asynchronously on the library's event thread;
 * ZISim_WaitIdle blocks until all events queued so far have been delivered.
 */
#ifndef ZEDEDERADIVO_SIM_H
#define ZEDEDERADIVO_SIM_H

#include "zedederadIvo.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ZISIM_CAMERA = 0, ZISIM_MICROPHONE = 1 };

/* A device to plug. Strings are UTF-8. rawPath/rawName, when not null, are copied
 * verbatim as the listing entry's 1024-unit fields (for entries that break the
 * library's own contract, such as a field with no 0 unit). */
typedef struct ZISimDeviceDesc {
    uint32_t type; /* ZISIM_CAMERA or ZISIM_MICROPHONE */
    const char* path;
    const char* name;
    uint16_t vendorID;
    uint16_t productID;
    uint16_t revision;
    const uint16_t* rawPath;
    const uint16_t* rawName;
    /* When non-zero the device comes with the standard formats and properties of the
     * built-in virtual devices; otherwise it has none until ZISim_Add* describes them. */
    int32_t withDefaultDescription;
} ZISimDeviceDesc;

/* Back to a bus with no devices, no subscriptions, no faults, an empty journal, the
 * real clock and built-in devices enabled. Open handles become invalid. */
ZI_EXPORT void ZISim_Reset(void);

/* Whether the first VCI_Init/ACI_Init plugs the built-in virtual camera and
 * microphone (default: yes). Applies while the bus has never held a device. */
ZI_EXPORT void ZISim_SetBuiltInDevices(int32_t enabled);
/* Plugs the built-in virtual camera and microphone now (no-op for those present). */
ZI_EXPORT void ZISim_PlugBuiltInDevices(void);
ZI_EXPORT extern const char* const ZISIM_BUILTIN_CAMERA_PATH;
ZI_EXPORT extern const char* const ZISIM_BUILTIN_MICROPHONE_PATH;

/* Plug a device: 0, or ZI_ERR_INVALID_ARG (bad description, path already present). */
ZI_EXPORT int32_t ZISim_Plug(const ZISimDeviceDesc* desc);
/* Unplug by path: 0, or ZI_ERR_NO_DEVICE. Open handles stay valid but fail with
 * ZI_ERR_NO_DEVICE; a running capture stops delivering. */
ZI_EXPORT int32_t ZISim_Unplug(const char* path);
/* Number of plugged devices of a type. */
ZI_EXPORT uint32_t ZISim_DeviceCount(uint32_t type);
/* Wait until every event queued so far has been delivered. */
ZI_EXPORT void ZISim_WaitIdle(void);
/* While held, plug-and-play events queue up undelivered; releasing delivers them.
 * Lets a test change several devices between two events. */
ZI_EXPORT void ZISim_HoldEvents(int32_t hold);

/* Describing a plugged camera. */
ZI_EXPORT int32_t ZISim_AddVideoFormat(const char* path, uint32_t fourcc, uint32_t width, uint32_t height,
                                       const uint32_t* intervals, uint32_t intervalCount);
ZI_EXPORT int32_t ZISim_AddPropertySet(const char* path, const uint8_t uuid[16]);
/* Adds (or replaces) a property of a set, adding the set when missing. Each value
 * block is `width` bytes; null blocks are zeros. */
ZI_EXPORT int32_t ZISim_SetProperty(const char* path, const uint8_t uuid[16], uint32_t propertyID, uint32_t width,
                                    const void* cur, const void* def, const void* min, const void* max);
/* Reads back a property's current value block (what the last VCI_Set_Property wrote). */
ZI_EXPORT int32_t ZISim_GetPropertyCurrent(const char* path, const uint8_t uuid[16], uint32_t propertyID, void* value,
                                           uint32_t width);
/* Describing a plugged microphone. */
ZI_EXPORT int32_t ZISim_AddWaveFormat(const char* path, uint16_t tag, uint16_t channels, uint32_t rate,
                                      uint16_t bits);

/* Hands a frame (camera) or buffer (microphone) to the subscribers of every open
 * handle of the device, on the calling thread, as if the device had captured it.
 * Answers how many subscribers were called (0 for an unknown path). */
ZI_EXPORT int32_t ZISim_PushFrame(const char* path, const void* data, uint32_t length, int64_t timestamp);

/* The microphone's signal: one tone per channel (500 Hz x (channel + 1)) at an RMS
 * level in dB full scale, at full volume; the device's volume (0-255) scales its
 * amplitude and mute silences it. With sweep non-zero every level also falls and
 * rises by up to 24 dB over four seconds (the default, so a meter moves); tests set
 * 0. channel 0-7; 0, or ZI_ERR_NO_DEVICE / ZI_ERR_INVALID_ARG. */
ZI_EXPORT int32_t ZISim_SetMicrophoneSignal(const char* path, uint32_t channel, float levelDb, int32_t sweep);

/* The platform's own view of the microphones, as the desktop's sound server offers
 * them (used by the component's platform audio capture, not part of the device ABI
 * and not journaled). ZISim_MicrophonePath writes the path of the index-th plugged
 * microphone (UTF-8, 0-terminated, cut to size) and answers its full length, or -1
 * past the last. A tap hands the microphone's signal, as 10 ms of 48 kHz interleaved
 * 16-bit frames in the device's widest channel count, to the callback on a thread of
 * its own until closed; when the device is unplugged it is called once with no samples
 * (null, 0 frames) and then no more.
 * ZISim_CloseTap returns once no callback runs (not from inside the callback). */
typedef void (*ZISIM_TAP_CALLBACK)(void* context, const int16_t* samples, uint32_t frames, uint32_t channels,
                                   uint32_t sampleRate, int64_t timestamp);
ZI_EXPORT int32_t ZISim_MicrophonePath(uint32_t index, char* buffer, uint32_t size);
/* The channel count a tap of the microphone delivers; -1 for an unknown path. */
ZI_EXPORT int32_t ZISim_MicrophoneChannels(const char* path);
ZI_EXPORT void* ZISim_OpenTap(const char* path, ZISIM_TAP_CALLBACK callback, void* context);
ZI_EXPORT void ZISim_CloseTap(void* tap);

/* Frames (or buffers) delivered so far by the device's running capture; -1 when it
 * is not capturing. */
ZI_EXPORT int64_t ZISim_FramesDelivered(const char* path);

/* Fault injection: the next `times` calls of `function` (its exported name, e.g.
 * "VCI_Start_Capture") answer `result` without doing anything. For functions that
 * answer a handle, any non-zero result makes them answer null. times 0 clears. */
ZI_EXPORT void ZISim_InjectResult(const char* function, int32_t result, uint32_t times);
/* The same, after letting the next `skip` calls run normally (e.g. skip 1 to fail the
 * second call of a listing). */
ZI_EXPORT void ZISim_InjectResultAfter(const char* function, uint32_t skip, int32_t result, uint32_t times);
ZI_EXPORT void ZISim_ClearInjections(void);

/* Journal of every library call, one line each: name(arguments) -> result.
 * Handles appear as h1, h2, ... in the order they were given out. */
ZI_EXPORT uint32_t ZISim_JournalCount(void);
/* Copies line `index` (0-based) with a terminating 0; answers the line's full length,
 * or -1 for an index out of range. */
ZI_EXPORT int32_t ZISim_JournalLine(uint32_t index, char* buffer, uint32_t capacity);
ZI_EXPORT void ZISim_JournalClear(void);

/* Clock: microseconds on the monotonic clock shared by every device, or a manual one.
 * Under the manual clock a running capture makes its frames (buffers) only as the
 * clock is set forward: one at the time the capture starts, then one each time the
 * clock passes a further period, timestamped with exactly that time. */
ZI_EXPORT void ZISim_UseManualClock(int32_t manual);
ZI_EXPORT void ZISim_SetClock(int64_t microseconds);
ZI_EXPORT int64_t ZISim_Now(void);

#ifdef __cplusplus
}
#endif

#endif /* ZEDEDERADIVO_SIM_H */
