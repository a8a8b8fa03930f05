// One implementation of the capture library's ABI as a table of its functions. The
// exported VCI_* and ACI_* functions (Dispatch.cpp) forward each call to the table
// chosen for their half; the simulator (sim/) and the system (system/) each fill one.
#pragma once

#include "zedederadIvo.h"

namespace zi {

// X(result, name, parameters, arguments, half) for the functions that start and end
// a half of the library.
#define ZI_ABI_LIFECYCLE(X)                                                                                        \
    X(int32_t, VCI_Init, (void), (), Video)                                                                        \
    X(int32_t, VCI_Cleanup, (void), (), Video)                                                                     \
    X(int32_t, ACI_Init, (void), (), Audio)                                                                        \
    X(int32_t, ACI_Cleanup, (void), (), Audio)

// The same for every other function of zedederadIvo.h but VCI_Close_Device, which
// closes handles of both halves and is routed to the implementation that owns it.
#define ZI_ABI_FUNCTIONS(X)                                                                                        \
    X(int32_t, VCI_Enum_Devices, (_VCI_DEVICE_ENTRY * e, uint32_t * s, uint32_t * c), (e, s, c), Video)            \
    X(int32_t, ACI_Enum_Devices, (_VCI_DEVICE_ENTRY * e, uint32_t * s, uint32_t * c), (e, s, c), Audio)            \
    X(VCI_HANDLE, VCI_Open_Device, (const uint16_t* p), (p), Video)                                                \
    X(ACI_HANDLE, ACI_Open_Device, (const uint16_t* p), (p), Audio)                                                \
    X(int32_t, VCI_Subscribe_Event, (VCI_HANDLE h, uint32_t e, VCI_EVENT_CALLBACK cb, void* c), (h, e, cb, c),     \
      Video)                                                                                                       \
    X(int32_t, VCI_UnSubscribe_Event, (VCI_HANDLE h, uint32_t e), (h, e), Video)                                   \
    X(int32_t, ACI_Subscribe_Event, (ACI_HANDLE h, uint32_t e, ACI_EVENT_CALLBACK cb, void* c), (h, e, cb, c),     \
      Audio)                                                                                                       \
    X(int32_t, ACI_UnSubscribe_Event, (ACI_HANDLE h, uint32_t e), (h, e), Audio)                                   \
    X(int32_t, VCI_Enum_Pixel_Formats, (VCI_HANDLE h, _VCI_PIXEL_FORMAT * f, uint32_t * s, uint32_t * c),          \
      (h, f, s, c), Video)                                                                                         \
    X(int32_t, VCI_Enum_Frame_Sizes,                                                                               \
      (VCI_HANDLE h, const _VCI_PIXEL_FORMAT* f, _VCI_FRAME_SIZE* z, uint32_t* s, uint32_t* c), (h, f, z, s, c),   \
      Video)                                                                                                       \
    X(int32_t, VCI_Enum_Frame_Intervals,                                                                           \
      (VCI_HANDLE h, const _VCI_PIXEL_FORMAT* f, const _VCI_FRAME_SIZE* z, _VCI_FRAME_INTERVAL* i, uint32_t* s,    \
       uint32_t* c),                                                                                               \
      (h, f, z, i, s, c), Video)                                                                                   \
    X(int32_t, VCI_Set_Capture_Parameters, (VCI_HANDLE h, const _VCI_CAPTURE_PARAMETERS* p), (h, p), Video)        \
    X(int32_t, VCI_Start_Capture, (VCI_HANDLE h, uint32_t s), (h, s), Video)                                       \
    X(int32_t, VCI_Stop_Capture, (VCI_HANDLE h, uint32_t s), (h, s), Video)                                        \
    X(int32_t, VCI_Get_Property,                                                                                   \
      (VCI_HANDLE h, PropertyQuery q, const PropertySet* set, const uint32_t* id, void* v, uint32_t* s,            \
       uint32_t r1, uint32_t r2),                                                                                  \
      (h, q, set, id, v, s, r1, r2), Video)                                                                        \
    X(int32_t, VCI_Set_Property,                                                                                   \
      (VCI_HANDLE h, const PropertySet* set, const uint32_t* id, const void* v, uint32_t* s, uint32_t r1,          \
       uint32_t r2),                                                                                               \
      (h, set, id, v, s, r1, r2), Video)                                                                           \
    X(int32_t, VCI_Enum_Property_Sets, (VCI_HANDLE h, PropertySet * p, uint32_t * s, uint32_t * c), (h, p, s, c),  \
      Video)                                                                                                       \
    X(int32_t, VCI_Enum_Property_Items,                                                                            \
      (VCI_HANDLE h, const PropertySet* set, uint32_t* i, uint32_t* s, uint32_t* c), (h, set, i, s, c), Video)     \
    X(int32_t, ACI_Enum_Wave_Formats, (ACI_HANDLE h, _ACI_WAVE_FORMAT * f, uint32_t * s, uint32_t * c),            \
      (h, f, s, c), Audio)                                                                                         \
    X(int32_t, ACI_Set_Capture_Parameters, (ACI_HANDLE h, const _ACI_WAVE_FORMAT* f), (h, f), Audio)               \
    X(int32_t, ACI_Start_Capture, (ACI_HANDLE h), (h), Audio)                                                      \
    X(int32_t, ACI_Stop_Capture, (ACI_HANDLE h), (h), Audio)                                                       \
    X(int32_t, ACI_Get_Mic_Mute, (ACI_HANDLE h, uint8_t * m), (h, m), Audio)                                       \
    X(int32_t, ACI_Set_Mic_Mute, (ACI_HANDLE h, uint8_t m), (h, m), Audio)                                         \
    X(int32_t, ACI_Get_Mic_Volume, (ACI_HANDLE h, uint32_t * v), (h, v), Audio)                                    \
    X(int32_t, ACI_Set_Mic_Volume, (ACI_HANDLE h, uint8_t v), (h, v), Audio)

struct Backend {
#define ZI_BACKEND_MEMBER(result, name, parameters, arguments, half) result(*name) parameters;
    ZI_ABI_LIFECYCLE(ZI_BACKEND_MEMBER)
    ZI_ABI_FUNCTIONS(ZI_BACKEND_MEMBER)
#undef ZI_BACKEND_MEMBER
    int32_t (*VCI_Close_Device)(void* handle);
    // Whether the handle is one this implementation gave out and has not closed.
    bool (*ownsHandle)(void* handle);
    // Whether a half (video or audio) of this implementation is initialised.
    bool (*initialised)(bool video);
};

// Declares, in an implementation's namespace, the functions it defines: one per ABI
// function, with the ABI's names.
#define ZI_BACKEND_DECLARE(result, name, parameters, arguments, half) result name parameters;

extern const Backend kSimulatorBackend;
extern const Backend kSystemBackend;

} // namespace zi
