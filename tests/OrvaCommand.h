// The orva command-line host run as a person runs it: a child process working in a
// temporary folder of its own (its TMPDIR too), removed with all it holds when the
// object goes. What the last run printed and said stays in the folder for the test.
#pragma once

#include "ChildProcess.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orvatest {

// A file's bytes ("" when it cannot be read).
std::string readFile(const std::string& path);

class OrvaCommand {
public:
    // `environment` is added to every run's, beside TMPDIR.
    explicit OrvaCommand(std::map<std::string, std::string> environment = {});
    ~OrvaCommand();
    OrvaCommand(const OrvaCommand&) = delete;
    OrvaCommand& operator=(const OrvaCommand&) = delete;

    // A path in the folder.
    std::string path(const std::string& name) const { return mFolder + "/" + name; }
    // `orva ARGUMENTS...` to its end: the exit status, as ChildProcess::wait answers it.
    int run(const std::vector<std::string>& arguments);
    // `orva ARGUMENTS...` started; the test waits for it or the object kills it.
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments);
    // Standard output and error of the last run (of a started one: so far).
    std::string output() const { return readFile(path("out")); }
    std::string errors() const { return readFile(path("err")); }
    // Both, for a failure's message.
    std::string trace() const { return "output:\n" + output() + "errors:\n" + errors(); }

private:
    std::vector<std::string> commandLine(const std::vector<std::string>& arguments) const;

    std::string mFolder;
    std::map<std::string, std::string> mEnvironment;
};

} // namespace orvatest
