// A program the test starts (the orva command-line host, a recorder to kill): its
// output goes to files, and it is killed and reaped when the object goes, also when
// the test fails half-way.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvatest {

class ChildProcess {
public:
    // Starts `arguments` (the first is the program's path) with this process's
    // environment plus `environment`, standard output and error into the two files.
    ChildProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                 const std::string& outputFile, const std::string& errorFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return mPid; }
    bool started() const { return mPid > 0; }
    void signal(int number) const;
    // Waits for the end: the exit status, or 128 + the signal that ended it.
    int wait();
    // Whether it has ended, without waiting (wait() then answers at once).
    bool ended();

private:
    pid_t mPid = -1;
    int mStatus = -1;
};

// Runs a program to its end; answers its exit status as ChildProcess::wait does.
int run(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
        const std::string& outputFile, const std::string& errorFile);

} // namespace orvatest
