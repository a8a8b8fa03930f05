#include "BusyLoad.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvatest {

BusyLoad::BusyLoad(unsigned perCore)
{
    const unsigned count = perCore * std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The child only spins: it touches no lock the parent's threads may hold.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;) asm volatile("");
        }
        if (pid > 0) mPids.push_back(pid);
    }
}

BusyLoad::~BusyLoad()
{
    for (pid_t pid : mPids) ::kill(pid, SIGKILL);
    for (pid_t pid : mPids) ::waitpid(pid, nullptr, 0);
}

} // namespace orvatest
