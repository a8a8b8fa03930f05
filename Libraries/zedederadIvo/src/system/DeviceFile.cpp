#include "DeviceFile.h"

#include "zedederadIvoSystem.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace zi::sys::devicefile {

namespace {

int kernelOpen(void*, const char* path, int flags)
{
    return ::open(path, flags);
}
int kernelClose(void*, int fd)
{
    return ::close(fd);
}
int kernelIoctl(void*, int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument);
}
void* kernelMmap(void*, void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    return ::mmap(address, length, protection, flags, fd, offset);
}
int kernelMunmap(void*, void* address, size_t length)
{
    return ::munmap(address, length);
}
int kernelPoll(void*, struct pollfd* fds, nfds_t count, int timeout)
{
    return ::poll(fds, count, timeout);
}

const ZISysDeviceFileOps kKernel = {nullptr,     &kernelOpen,   &kernelClose, &kernelIoctl,
                                    &kernelMmap, &kernelMunmap, &kernelPoll};

// Installed tables are kept for the life of the process: a camera thread may still
// hold the previous one while a test installs the next.
std::atomic<const ZISysDeviceFileOps*> gOps{&kKernel};

const ZISysDeviceFileOps& ops()
{
    return *gOps.load(std::memory_order_acquire);
}

} // namespace

void install(const ZISysDeviceFileOps* table)
{
    if (table == nullptr) {
        gOps.store(&kKernel, std::memory_order_release);
        return;
    }
    static std::mutex mutex;
    static std::vector<std::unique_ptr<ZISysDeviceFileOps>> kept;
    std::lock_guard lock(mutex);
    kept.push_back(std::make_unique<ZISysDeviceFileOps>(*table));
    gOps.store(kept.back().get(), std::memory_order_release);
}

int open(const char* path, int flags)
{
    return ops().open(ops().context, path, flags);
}

int close(int fd)
{
    return ops().close(ops().context, fd);
}

int ioctl(int fd, unsigned long request, void* argument)
{
    return ops().ioctl(ops().context, fd, request, argument);
}

int xioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

void* mmap(size_t length, int protection, int fd, off_t offset)
{
    return ops().mmap(ops().context, nullptr, length, protection, MAP_SHARED, fd, offset);
}

int munmap(void* address, size_t length)
{
    return ops().munmap(ops().context, address, length);
}

int poll(struct pollfd* fds, nfds_t count, int timeout)
{
    return ops().poll(ops().context, fds, count, timeout);
}

} // namespace zi::sys::devicefile
