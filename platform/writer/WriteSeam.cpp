#include "platform/writer/WriteSeam.h"

#include <mutex>
#include <unistd.h>

namespace orva {

namespace {
std::mutex& seamMutex()
{
    static std::mutex m;
    return m;
}
WriteSeam::Function& seamFunction()
{
    static WriteSeam::Function f;
    return f;
}
} // namespace

long WriteSeam::write(int fd, const void* data, size_t size)
{
    Function function;
    {
        std::lock_guard lock(seamMutex());
        function = seamFunction();
    }
    return function ? function(fd, data, size) : ::write(fd, data, size);
}

void WriteSeam::setForTesting(Function function)
{
    std::lock_guard lock(seamMutex());
    seamFunction() = std::move(function);
}

} // namespace orva
