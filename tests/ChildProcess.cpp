#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace orvatest {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, const std::string& outputFile,
                           const std::string& errorFile)
{
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!environment.count(entry.substr(0, entry.find('=')))) variables.push_back(entry);
    }
    for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& v : variables) envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&mPid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0) mPid = -1;
    posix_spawn_file_actions_destroy(&files);
}

ChildProcess::~ChildProcess()
{
    if (mPid <= 0) return;
    ::kill(mPid, SIGKILL);
    (void)wait();
}

void ChildProcess::signal(int number) const
{
    if (mPid > 0) ::kill(mPid, number);
}

int ChildProcess::wait()
{
    if (mPid <= 0) return mStatus;
    int status = 0;
    while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
    }
    mPid = -1;
    mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return mStatus;
}

bool ChildProcess::ended()
{
    if (mPid <= 0) return true;
    int status = 0;
    if (::waitpid(mPid, &status, WNOHANG) != mPid) return false;
    mPid = -1;
    mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

int run(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
        const std::string& outputFile, const std::string& errorFile)
{
    ChildProcess child(arguments, environment, outputFile, errorFile);
    return child.wait();
}

} // namespace orvatest
