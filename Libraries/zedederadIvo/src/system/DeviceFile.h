// The seam between the camera code and the kernel: the six system calls that reach a
// camera node. By default they are the kernel's; tests install a scripted camera
// (ZISys_SetDeviceFileOps). xioctl retries a call interrupted by a signal.
#pragma once

#include <poll.h>
#include <sys/types.h>

struct ZISysDeviceFileOps;

namespace zi::sys::devicefile {

int open(const char* path, int flags);
int close(int fd);
int ioctl(int fd, unsigned long request, void* argument);
int xioctl(int fd, unsigned long request, void* argument);
void* mmap(size_t length, int protection, int fd, off_t offset);
int munmap(void* address, size_t length);
int poll(struct pollfd* fds, nfds_t count, int timeout);

// Replaces the table (null: the kernel again); see zedederadIvoSystem.h.
void install(const struct ZISysDeviceFileOps* table);

} // namespace zi::sys::devicefile
