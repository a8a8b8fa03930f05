/*
 * zedederadIvo: the capture library's C ABI.
 *
 * Every device access of the component goes through these functions. Statuses are
 * 32-bit, 0 for success; paths are zero-terminated UTF-16; handles are opaque
 * pointers, null for failure. Listing calls take a (buffer, byte size, entry count)
 * triple: called with a null buffer and zero counts they answer ZI_MORE_DATA (8) with
 * the count filled in; the second call with a buffer of that many entries answers 0.
 *
 * Threads: every function may be called from any thread. Event callbacks (frames,
 * audio buffers, plug-and-play) run on the library's own threads; a callback may call
 * back into the library. VCI_UnSubscribe_Event/ACI_UnSubscribe_Event wait until a
 * callback of that subscription running on another thread has returned.
 */
#ifndef ZEDEDERADIVO_H
#define ZEDEDERADIVO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define ZI_STATIC_ASSERT static_assert
#else
#define ZI_STATIC_ASSERT _Static_assert
#endif

#define ZI_EXPORT __attribute__((visibility("default")))

/* Status codes. */
enum {
    ZI_OK = 0,
    ZI_ERR_FAILED = 1,          /* generic failure */
    ZI_ERR_INVALID_HANDLE = 2,  /* unknown or closed handle */
    ZI_ERR_NOT_INITIALIZED = 3, /* VCI_Init / ACI_Init not called */
    ZI_ERR_INVALID_ARG = 4,     /* null pointer, absurd value */
    ZI_ERR_NO_DEVICE = 5,       /* the device was unplugged */
    ZI_MORE_DATA = 8,           /* listing: allocate count entries and call again */
    ZI_ERR_BUFFER_SIZE = 9,     /* listing: size/count do not match the list */
    ZI_ERR_NOT_SUPPORTED = 12,  /* the device has no such function */
    ZI_ERR_NO_PROPERTY = 14,    /* the device lacks the property */
    ZI_ERR_BUSY = 19            /* start refused: the device is in use */
};

/* Events. */
enum {
    VCI_EVENT_FRAME = 1,          /* per handle: a video frame is done */
    VCI_EVENT_DEVICE_ARRIVED = 7, /* library-wide: the camera list changed */
    VCI_EVENT_DEVICE_REMOVED = 8, /* library-wide: the camera list changed */
    ACI_EVENT_BUFFER = 71,        /* per handle: an audio buffer is done */
    ACI_EVENT_DEVICE_ARRIVED = 72,
    ACI_EVENT_DEVICE_REMOVED = 73
};

typedef void* VCI_HANDLE;
typedef void* ACI_HANDLE;

/* Event record handed to video callbacks (48 bytes). */
typedef struct _VCI_EVENT_INFO {
    uint32_t event;     /* 0: event number */
    uint32_t reserved0; /* 4 */
    void* context;      /* 8: the subscription's context */
    void* handle;       /* 16: the device handle, null for library-wide events */
    uint32_t length;    /* 24: frame length in bytes */
    uint32_t reserved1; /* 28 */
    const void* data;   /* 32: frame bytes, valid during the call only */
    int64_t timestamp;  /* 40: capture time, microseconds, monotonic */
} _VCI_EVENT_INFO;
ZI_STATIC_ASSERT(sizeof(_VCI_EVENT_INFO) == 48, "_VCI_EVENT_INFO size");
ZI_STATIC_ASSERT(offsetof(_VCI_EVENT_INFO, context) == 8, "_VCI_EVENT_INFO context");
ZI_STATIC_ASSERT(offsetof(_VCI_EVENT_INFO, length) == 24, "_VCI_EVENT_INFO length");
ZI_STATIC_ASSERT(offsetof(_VCI_EVENT_INFO, data) == 32, "_VCI_EVENT_INFO data");
ZI_STATIC_ASSERT(offsetof(_VCI_EVENT_INFO, timestamp) == 40, "_VCI_EVENT_INFO timestamp");

/* Event record handed to audio callbacks (40 bytes). */
typedef struct _ACI_EVENT_INFO {
    uint32_t event;     /* 0 */
    uint32_t reserved0; /* 4 */
    void* context;      /* 8 */
    uint32_t length;    /* 16 */
    uint32_t reserved1; /* 20 */
    const void* data;   /* 24 */
    int64_t timestamp;  /* 32 */
} _ACI_EVENT_INFO;
ZI_STATIC_ASSERT(sizeof(_ACI_EVENT_INFO) == 40, "_ACI_EVENT_INFO size");
ZI_STATIC_ASSERT(offsetof(_ACI_EVENT_INFO, context) == 8, "_ACI_EVENT_INFO context");
ZI_STATIC_ASSERT(offsetof(_ACI_EVENT_INFO, length) == 16, "_ACI_EVENT_INFO length");
ZI_STATIC_ASSERT(offsetof(_ACI_EVENT_INFO, data) == 24, "_ACI_EVENT_INFO data");
ZI_STATIC_ASSERT(offsetof(_ACI_EVENT_INFO, timestamp) == 32, "_ACI_EVENT_INFO timestamp");

typedef void (*VCI_EVENT_CALLBACK)(void* reserved, _VCI_EVENT_INFO* info);
typedef void (*ACI_EVENT_CALLBACK)(void* reserved, _ACI_EVENT_INFO* info);

/* Device listing entry (4108 bytes, entries packed back to back). */
#define ZI_DEVICE_TEXT_UNITS 1024
typedef struct _VCI_DEVICE_ENTRY {
    uint16_t path[ZI_DEVICE_TEXT_UNITS]; /* 0 */
    uint16_t name[ZI_DEVICE_TEXT_UNITS]; /* 2048 */
    uint32_t flags;                      /* 4096: bus flags */
    uint16_t vendorID;                   /* 4100 */
    uint16_t productID;                  /* 4102 */
    uint16_t revision;                   /* 4104 */
    uint16_t reserved;                   /* 4106 */
} _VCI_DEVICE_ENTRY;
ZI_STATIC_ASSERT(sizeof(_VCI_DEVICE_ENTRY) == 4108, "_VCI_DEVICE_ENTRY size");
ZI_STATIC_ASSERT(offsetof(_VCI_DEVICE_ENTRY, name) == 2048, "_VCI_DEVICE_ENTRY name");
ZI_STATIC_ASSERT(offsetof(_VCI_DEVICE_ENTRY, vendorID) == 4100, "_VCI_DEVICE_ENTRY vendorID");
ZI_STATIC_ASSERT(offsetof(_VCI_DEVICE_ENTRY, productID) == 4102, "_VCI_DEVICE_ENTRY productID");
ZI_STATIC_ASSERT(offsetof(_VCI_DEVICE_ENTRY, revision) == 4104, "_VCI_DEVICE_ENTRY revision");

/* Pixel format: four-character code, one character per unit, then 0 (26 bytes). */
typedef struct _VCI_PIXEL_FORMAT {
    uint16_t fourcc[13];
} _VCI_PIXEL_FORMAT;
ZI_STATIC_ASSERT(sizeof(_VCI_PIXEL_FORMAT) == 26, "_VCI_PIXEL_FORMAT size");

typedef struct _VCI_FRAME_SIZE {
    uint32_t width;  /* 0 */
    uint32_t height; /* 4 */
} _VCI_FRAME_SIZE;
ZI_STATIC_ASSERT(sizeof(_VCI_FRAME_SIZE) == 8, "_VCI_FRAME_SIZE size");
ZI_STATIC_ASSERT(offsetof(_VCI_FRAME_SIZE, height) == 4, "_VCI_FRAME_SIZE height");

typedef struct _VCI_FRAME_INTERVAL {
    uint32_t interval; /* 0: 100 ns units */
    uint32_t reserved; /* 4 */
} _VCI_FRAME_INTERVAL;
ZI_STATIC_ASSERT(sizeof(_VCI_FRAME_INTERVAL) == 8, "_VCI_FRAME_INTERVAL size");

typedef struct _VCI_CAPTURE_PARAMETERS {
    uint32_t isH264;                /* 0 */
    _VCI_PIXEL_FORMAT pixelFormat;  /* 4 */
    uint16_t reserved0;             /* 30 */
    uint32_t width;                 /* 32 */
    uint32_t height;                /* 36 */
    uint32_t frameInterval;         /* 40 */
    uint32_t intervalUnitsPerSecond;/* 44 */
    uint32_t reserved1;             /* 48 */
    uint32_t bitRate;               /* 52 */
    uint32_t h264Setting;           /* 56 */
} _VCI_CAPTURE_PARAMETERS;
ZI_STATIC_ASSERT(sizeof(_VCI_CAPTURE_PARAMETERS) == 60, "_VCI_CAPTURE_PARAMETERS size");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, pixelFormat) == 4, "pixelFormat");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, width) == 32, "width");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, height) == 36, "height");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, frameInterval) == 40, "frameInterval");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, intervalUnitsPerSecond) == 44, "units");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, bitRate) == 52, "bitRate");
ZI_STATIC_ASSERT(offsetof(_VCI_CAPTURE_PARAMETERS, h264Setting) == 56, "h264Setting");

/* Property set: UUID bytes in canonical text order, then kind (always 2). */
typedef struct PropertySet {
    uint8_t uuid[16]; /* 0 */
    uint32_t kind;    /* 16 */
} PropertySet;
ZI_STATIC_ASSERT(sizeof(PropertySet) == 20, "PropertySet size");
ZI_STATIC_ASSERT(offsetof(PropertySet, kind) == 16, "PropertySet kind");

/* Property query: which value of a property to read. */
typedef uint32_t PropertyQuery;
enum { PropertyQueryCurrent = 0, PropertyQueryDefault = 1, PropertyQueryMinimum = 2, PropertyQueryMaximum = 3 };

/* Wave format (12 bytes). */
typedef struct _ACI_WAVE_FORMAT {
    uint16_t formatTag;      /* 0 */
    uint16_t channels;       /* 2 */
    uint32_t samplesPerSec;  /* 4 */
    uint16_t bitsPerSample;  /* 8 */
    uint16_t reserved;       /* 10 */
} _ACI_WAVE_FORMAT;
ZI_STATIC_ASSERT(sizeof(_ACI_WAVE_FORMAT) == 12, "_ACI_WAVE_FORMAT size");
ZI_STATIC_ASSERT(offsetof(_ACI_WAVE_FORMAT, channels) == 2, "channels");
ZI_STATIC_ASSERT(offsetof(_ACI_WAVE_FORMAT, samplesPerSec) == 4, "samplesPerSec");
ZI_STATIC_ASSERT(offsetof(_ACI_WAVE_FORMAT, bitsPerSample) == 8, "bitsPerSample");

#define ZI_WAVE_FORMAT_LPCM 0x636D
#define ZI_WAVE_FORMAT_AAC 0x6320

/* Library start and end. */
ZI_EXPORT int32_t VCI_Init(void);
ZI_EXPORT int32_t VCI_Cleanup(void);
ZI_EXPORT int32_t ACI_Init(void);
ZI_EXPORT int32_t ACI_Cleanup(void);

/* Devices. */
ZI_EXPORT int32_t VCI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t ACI_Enum_Devices(_VCI_DEVICE_ENTRY* entries, uint32_t* size, uint32_t* count);
ZI_EXPORT VCI_HANDLE VCI_Open_Device(const uint16_t* path);
ZI_EXPORT ACI_HANDLE ACI_Open_Device(const uint16_t* path);
/* Closes camera and microphone handles alike. */
ZI_EXPORT int32_t VCI_Close_Device(void* handle);

/* Events: a null handle subscribes library-wide (device list events). */
ZI_EXPORT int32_t VCI_Subscribe_Event(VCI_HANDLE handle, uint32_t event, VCI_EVENT_CALLBACK callback, void* context);
ZI_EXPORT int32_t VCI_UnSubscribe_Event(VCI_HANDLE handle, uint32_t event);
ZI_EXPORT int32_t ACI_Subscribe_Event(ACI_HANDLE handle, uint32_t event, ACI_EVENT_CALLBACK callback, void* context);
ZI_EXPORT int32_t ACI_UnSubscribe_Event(ACI_HANDLE handle, uint32_t event);

/* Video formats and capture. */
ZI_EXPORT int32_t VCI_Enum_Pixel_Formats(VCI_HANDLE handle, _VCI_PIXEL_FORMAT* formats, uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t VCI_Enum_Frame_Sizes(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format, _VCI_FRAME_SIZE* sizes,
                                       uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t VCI_Enum_Frame_Intervals(VCI_HANDLE handle, const _VCI_PIXEL_FORMAT* format,
                                           const _VCI_FRAME_SIZE* frameSize, _VCI_FRAME_INTERVAL* intervals,
                                           uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t VCI_Set_Capture_Parameters(VCI_HANDLE handle, const _VCI_CAPTURE_PARAMETERS* parameters);
ZI_EXPORT int32_t VCI_Start_Capture(VCI_HANDLE handle, uint32_t substream);
ZI_EXPORT int32_t VCI_Stop_Capture(VCI_HANDLE handle, uint32_t substream);

/* Properties. The two trailing arguments are reserved and always 0. */
ZI_EXPORT int32_t VCI_Get_Property(VCI_HANDLE handle, PropertyQuery query, const PropertySet* set,
                                   const uint32_t* propertyID, void* value, uint32_t* size, uint32_t reserved1,
                                   uint32_t reserved2);
ZI_EXPORT int32_t VCI_Set_Property(VCI_HANDLE handle, const PropertySet* set, const uint32_t* propertyID,
                                   const void* value, uint32_t* size, uint32_t reserved1, uint32_t reserved2);
ZI_EXPORT int32_t VCI_Enum_Property_Sets(VCI_HANDLE handle, PropertySet* sets, uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t VCI_Enum_Property_Items(VCI_HANDLE handle, const PropertySet* set, uint32_t* ids, uint32_t* size,
                                          uint32_t* count);

/* Audio formats, capture, volume and mute. */
ZI_EXPORT int32_t ACI_Enum_Wave_Formats(ACI_HANDLE handle, _ACI_WAVE_FORMAT* formats, uint32_t* size, uint32_t* count);
ZI_EXPORT int32_t ACI_Set_Capture_Parameters(ACI_HANDLE handle, const _ACI_WAVE_FORMAT* format);
ZI_EXPORT int32_t ACI_Start_Capture(ACI_HANDLE handle);
ZI_EXPORT int32_t ACI_Stop_Capture(ACI_HANDLE handle);
ZI_EXPORT int32_t ACI_Get_Mic_Mute(ACI_HANDLE handle, uint8_t* mute);
ZI_EXPORT int32_t ACI_Set_Mic_Mute(ACI_HANDLE handle, uint8_t mute);
ZI_EXPORT int32_t ACI_Get_Mic_Volume(ACI_HANDLE handle, uint32_t* volume);
ZI_EXPORT int32_t ACI_Set_Mic_Volume(ACI_HANDLE handle, uint8_t volume);

#ifdef __cplusplus
}
#endif

#endif /* ZEDEDERADIVO_H */
