#include "OrvaCommand.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace orvatest {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

OrvaCommand::OrvaCommand(std::map<std::string, std::string> environment) : mEnvironment(std::move(environment))
{
    char pattern[] = "/tmp/orva-command-XXXXXX";
    if (::mkdtemp(pattern)) mFolder = pattern;
    mEnvironment["TMPDIR"] = mFolder;
}

OrvaCommand::~OrvaCommand()
{
    std::error_code ignored;
    if (!mFolder.empty()) std::filesystem::remove_all(mFolder, ignored); // the folder it made, nothing else
}

std::vector<std::string> OrvaCommand::commandLine(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> line{ORVA_CLI_PATH};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

int OrvaCommand::run(const std::vector<std::string>& arguments)
{
    return orvatest::run(commandLine(arguments), mEnvironment, path("out"), path("err"));
}

std::unique_ptr<ChildProcess> OrvaCommand::start(const std::vector<std::string>& arguments)
{
    return std::make_unique<ChildProcess>(commandLine(arguments), mEnvironment, path("out"), path("err"));
}

} // namespace orvatest
