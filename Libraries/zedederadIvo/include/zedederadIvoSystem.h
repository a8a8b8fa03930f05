/*
 * zedederadIvoSystem: extras of the system implementation of zedederadIvo.h.
 *
 * - A report, for people, of what the system implementation finds: every camera node
 *   and every PipeWire audio source, and why each is listed or not (the `orva doctor`
 *   command prints it).
 * - The device-file seam: the system calls that reach a camera node (open, close,
 *   ioctl, mmap, munmap, poll). By default they go to the kernel; tests install a
 *   scripted camera in their place. Functions follow the system calls' conventions:
 *   -1 (MAP_FAILED for mmap) with errno set on failure.
 *
 * Threads: ZISys_Describe may be called from any thread and blocks while it opens
 * nodes and asks PipeWire (a second at most). ZISys_SetDeviceFileOps must be called
 * while no camera is open; the table and its context must outlive every camera opened
 * through it.
 */
#ifndef ZEDEDERADIVO_SYSTEM_H
#define ZEDEDERADIVO_SYSTEM_H

#include "zedederadIvo.h"

#include <poll.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The USB vendor ID of the maker's devices: the only ones listed unless the
 * environment variable ORVA_ALL_VENDORS is set to anything but "" or "0". */
#define ZI_MAKER_VENDOR_ID 0x2E7A

/* Writes the report (UTF-8, lines ended by '\n', 0-terminated, cut to size) and
 * answers its full length in bytes. */
ZI_EXPORT int32_t ZISys_Describe(char* buffer, uint32_t size);

/* The cameras of the maker (of any vendor with ORVA_ALL_VENDORS) that are attached
 * but cannot be used: a line each, "NODE: reason" (with what to do, such as the group
 * to join), written and answered as ZISys_Describe does; 0 when there is none. A host
 * tells "no camera" from "a camera it may not use" by it. */
ZI_EXPORT int32_t ZISys_UnusableCameras(char* buffer, uint32_t size);

/* The report's facts for programs: a line per camera node and audio source, fields
 * separated by tabs (none holds a tab or line end):
 *   camera NODE NAME BUS VENDOR PRODUCT SERIAL LISTED PATH-OR-REASON
 *   microphone NODE-NAME NAME BUS VENDOR PRODUCT SERIAL LISTED PATH-OR-REASON
 * VENDOR and PRODUCT in four hexadecimal digits, LISTED "1" or "0", empty fields for
 * what a device does not have. Written and answered as ZISys_Describe does. */
ZI_EXPORT int32_t ZISys_DescribeRecords(char* buffer, uint32_t size);

typedef struct ZISysDeviceFileOps {
    void* context;
    int (*open)(void* context, const char* path, int flags);
    int (*close)(void* context, int fd);
    int (*ioctl)(void* context, int fd, unsigned long request, void* argument);
    void* (*mmap)(void* context, void* address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*munmap)(void* context, void* address, size_t length);
    int (*poll)(void* context, struct pollfd* fds, nfds_t count, int timeout);
} ZISysDeviceFileOps;

/* Installs a table (copied) in place of the kernel's calls; null goes back to the
 * kernel. */
ZI_EXPORT void ZISys_SetDeviceFileOps(const ZISysDeviceFileOps* ops);

#ifdef __cplusplus
}
#endif

#endif /* ZEDEDERADIVO_SYSTEM_H */
