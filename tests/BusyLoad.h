// Busy processes beside a test, as a loaded desktop has them: each spins on a core
// until the object goes (they are killed by pid then, and die with the test process
// should it end first).
#pragma once

#include <sys/types.h>
#include <vector>

namespace orvatest {

class BusyLoad {
public:
    // `perCore` spinning processes for each of the machine's cores.
    explicit BusyLoad(unsigned perCore);
    ~BusyLoad();
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

    size_t processes() const { return mPids.size(); }

private:
    std::vector<pid_t> mPids;
};

} // namespace orvatest
