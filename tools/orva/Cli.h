// Shared helpers of the orva command-line host: argument reading, interrupt
// handling and the command table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Arguments after the command name. Options are "--name value" or "--flag".
class Args {
public:
    explicit Args(std::vector<std::string> args) : mArgs(std::move(args)) {}
    // Removes and answers an option's value; error set when the value is missing.
    std::optional<std::string> option(const std::string& name);
    bool flag(const std::string& name);
    // What is left that does not start with "--".
    std::vector<std::string> positional() const;
    // An option left unread, for the "unknown option" error.
    std::optional<std::string> leftoverOption() const;
    std::string error;

private:
    std::vector<std::string> mArgs;
};

// Parses a number of seconds (> 0); null on bad text.
std::optional<double> parseSeconds(const std::string& text);

// Ctrl-C and SIGTERM set a flag that interrupted() reads; the run loop polls it.
void installInterruptHandler();
bool interrupted();

int runDevices(Args& args);

} // namespace cli
