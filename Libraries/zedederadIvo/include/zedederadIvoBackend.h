/*
 * zedederadIvoBackend: which implementation stands behind the capture library's ABI.
 *
 * libzedederadIvo.so carries two implementations of zedederadIvo.h: the system one
 * (cameras from udev video4linux nodes through V4L2/UVC, microphones from PipeWire)
 * and the simulated device bus (zedederadIvoSim.h). The VCI_* (video) and ACI_*
 * (audio) halves are chosen separately. Without a choice, the first call of a half
 * picks the simulator when the environment variable ORVA_SIMULATE is set to anything
 * but "" or "0", the system otherwise.
 *
 * Threads: both functions are thread-safe. A half can be switched only while it is
 * not initialised (before its first *_Init or after its last *_Cleanup).
 *
 * A host needs none of this: it is for tools and tests that want to choose. A
 * library that implements only zedederadIvo.h is a complete replacement.
 */
#ifndef ZEDEDERADIVO_BACKEND_H
#define ZEDEDERADIVO_BACKEND_H

#include "zedederadIvo.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ZI_BACKEND_SYSTEM = 0, ZI_BACKEND_SIMULATOR = 1 };
enum { ZI_HALF_VIDEO = 1, ZI_HALF_AUDIO = 2, ZI_HALF_BOTH = 3 };

/* Chooses the implementation of the halves given (ZI_HALF_* bits): 0; ZI_ERR_INVALID_ARG
 * for an unknown backend or no half; ZI_ERR_BUSY when a half is initialised (nothing
 * changes then). */
ZI_EXPORT int32_t ZI_Select_Backend(uint32_t halves, uint32_t backend);
/* The implementation of one half (ZI_HALF_VIDEO or ZI_HALF_AUDIO), choosing it now
 * from the environment when nothing chose it yet. */
ZI_EXPORT uint32_t ZI_Active_Backend(uint32_t half);

#ifdef __cplusplus
}
#endif

#endif /* ZEDEDERADIVO_BACKEND_H */
