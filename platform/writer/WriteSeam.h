// Every write of a movie file (the asset writer's fragments, the finisher's index)
// goes through here: write(2), or a function tests put in its place to make a disk
// fill up or count what is written. Thread-safe.
#pragma once

#include <cstddef>
#include <functional>

namespace orva {

class WriteSeam {
public:
    // Answers bytes written or -1 with errno set, as write(2).
    using Function = std::function<long(int fd, const void* data, size_t size)>;
    static long write(int fd, const void* data, size_t size);
    // Null restores write(2).
    static void setForTesting(Function function);
};

} // namespace orva
