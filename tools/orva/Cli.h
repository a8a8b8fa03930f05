// The orva command-line host's frame: the command table, option parsing and the exit
// statuses (Terminal.h has where output goes, progress and interrupts; DeviceChoice.h
// the devices; FormatChoice.h the formats; Commands.h the commands). Every command
// runs on the main thread, which turns its run loop while devices deliver.
//
// Conventions (README.md lists them for users): results on standard output, and
// with --json as one JSON document; messages and progress on standard error,
// progress only on a terminal (--progress forces it, --quiet silences it); the
// component's own console lines only with --log. Exit statuses: 0 done, 1 failed, 2
// the command line was wrong, 130 interrupted by the user (a movie is still finished).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

class Invocation;

// An option of a command: "--name" (or "-s"), with a value when `value` names it.
struct Option {
    const char* name;
    char shortName;    // 0 when none
    const char* value; // the value's placeholder ("SECONDS"); null for a flag
    const char* help;
};

struct Command {
    const char* name;
    const char* operands; // what follows the options in the synopsis
    const char* summary;  // what the command does
    std::vector<Option> options;
    std::vector<const char*> examples; // command lines after "orva "
    size_t minOperands = 0, maxOperands = 0;
    unsigned halves = 0;   // the devices it uses: 1 cameras, 2 microphones, 3 both
    bool json = false;     // takes --json
    bool progress = false; // shows progress (--progress, --quiet)
    int (*run)(Invocation&) = nullptr;
    const std::vector<std::string>* keys = nullptr; // a window's keys, one line each
};

// The command table, in the order `orva --help` lists it.
const std::vector<Command>& commands();
// Every option a command takes, its own first, as its --help lists them.
std::vector<Option> optionsOf(const Command& command);
// The manual page orva(1) and the bash completion, written from the table (the
// build makes both with --print-man-page and --print-bash-completion).
void printManPage(FILE* to);
void printBashCompletion(FILE* to);

// One parsed command line.
class Invocation {
public:
    Invocation(const Command& command, std::map<std::string, std::string> values, std::vector<std::string> operands)
        : mCommand(command), mValues(std::move(values)), mOperands(std::move(operands))
    {
    }
    const Command& command() const { return mCommand; }
    const char* name() const { return mCommand.name; }
    bool flag(const std::string& name) const { return mValues.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    const std::vector<std::string>& operands() const { return mOperands; }
    std::optional<std::string> operand(size_t index) const;
    bool json() const { return flag("json"); }
    bool overwrite() const { return flag("overwrite"); }

    // "orva NAME: message" on standard error; answers `status`.
    int fail(int status, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Strict readers of option values and operands: null after saying what is wanted.
    // Seconds: a positive decimal number; absent gives `fallback`.
    std::optional<double> seconds(const std::string& option, double fallback) const;
    // A whole number from `min` to `max`: decimal, or hexadecimal with 0x.
    std::optional<int64_t> integer(const std::string& text, const std::string& what, int64_t min, int64_t max) const;
    // WIDTHxHEIGHT, each 1 to `limit`.
    std::optional<std::pair<uint32_t, uint32_t>> size(const std::string& text, const std::string& what,
                                                      uint32_t limit) const;

private:
    const Command& mCommand;
    std::map<std::string, std::string> mValues; // option name → value ("" for a flag)
    std::vector<std::string> mOperands;
};

} // namespace cli
