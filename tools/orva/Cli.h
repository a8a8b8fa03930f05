// The orva command-line host's frame: the command table, option parsing, where
// output goes, progress, interrupts and the exit statuses. Every command runs on the
// main thread, which turns its run loop while devices deliver.
//
// Conventions (README.md lists them for users): results on standard output, and
// with --json as one JSON document; messages and progress on standard error,
// progress only on a terminal (--progress forces it, --quiet silences it); the
// component's own console lines only with --log. Exit statuses: 0 done, 1 failed, 2
// the command line was wrong, 130 interrupted by the user (a movie is still finished).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orva {
class FormatDescription;
class OrvaAVDevice;
class OrvaAudioDevice;
class OrvaDeviceInfo;
class OrvaVideoDevice;
struct AudioStreamBasicDescription;
} // namespace orva

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

// Where the CLI's own output goes: results, and messages with progress.
FILE* out();
FILE* err();
// Sets both up: results on standard output, messages unbuffered on standard error.
void setUpOutput();

// A progress line on standard error, rewritten in place; shown on a terminal, or
// always with --progress, never with --quiet.
class Progress {
public:
    explicit Progress(const Invocation& invocation);
    ~Progress() { finish(); }
    void show(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends the line (when one was shown).
    void finish();

private:
    bool mEnabled = false;
    bool mShown = false;
};

// Ctrl-C, SIGTERM and SIGHUP set a flag that interrupted() reads.
void installInterruptHandler();
bool interrupted();
// Turns this thread's run loop for `seconds` of wall-clock time (ending at that
// moment, not at a tick), or until interrupted or `stop` answers true; calls `tick`
// with the seconds elapsed every `interval`. Answers whether it was interrupted.
bool runFor(double seconds, double interval, const std::function<void(double elapsed)>& tick,
            const std::function<bool()>& stop = {});

// Chooses the devices of the halves a command uses: the simulated bus when asked,
// else the system's, falling back (with a notice) to the built-in virtual camera or
// microphone only where the system has none at all. False after saying why when the
// maker's camera is attached but cannot be used (permission, ...).
bool chooseDevices(unsigned halves, bool simulate);
bool simulatedDevices();

// Picks a camera (or microphone) record, one rule for every command: its index in
// orva devices, its name, its path as orva prints it, its node (/dev/video0, or a
// link to it such as /dev/v4l/by-id/...; a PipeWire node name), or its serial number.
// On a bad choice says what there is and answers null.
std::shared_ptr<orva::OrvaDeviceInfo> chooseDevice(const Invocation& invocation, bool camera,
                                                   const std::optional<std::string>& choice);
std::shared_ptr<orva::OrvaVideoDevice> openCamera(const Invocation& invocation, const std::optional<std::string>& choice);
std::shared_ptr<orva::OrvaAudioDevice> openMicrophone(const Invocation& invocation,
                                                      const std::optional<std::string>& choice);
// Why a device did not start, as a person can act on it (for a camera in use, the
// programs that hold its node where /proc tells).
std::string startFailure(const orva::OrvaAVDevice& device, int32_t status);

// Formats as the commands spell them: avc1:1280x720, lpcm:48000:2:16, aac:48000:2.
// A video format may name its frame rate: avc1:1280x720@15 (0: the camera's default).
struct VideoChoice {
    uint32_t codec = 0;
    int32_t width = 0, height = 0;
    double fps = 0;
};
std::optional<VideoChoice> parseVideoFormat(const std::string& text);
// The format of `option` (CODEC:WIDTHxHEIGHT[@FPS], else `fallback`) with --fps;
// null after saying what is wrong.
std::optional<VideoChoice> videoChoice(const Invocation& invocation, const char* option, const char* fallback);
// Chooses the format and frame rate on the open camera; null after saying what it
// offers instead.
std::shared_ptr<const orva::FormatDescription> chooseVideoFormat(const Invocation& invocation,
                                                                 orva::OrvaVideoDevice& camera,
                                                                 const VideoChoice& choice);
// A frame interval (100 ns units) as the camera declares its rate: 30, 15, 29.97;
// and exactly, as frames per second numerator/denominator (30000/1001).
std::string rateText(uint32_t interval);
std::pair<int64_t, int64_t> rateFraction(uint32_t interval);
double rateRounded(uint32_t interval);
struct AudioChoice {
    uint32_t tag = 0, rate = 0, channels = 0, bits = 0;
};
std::optional<AudioChoice> parseAudioFormat(const std::string& text);
std::shared_ptr<const orva::FormatDescription> findVideoFormat(orva::OrvaVideoDevice& camera, const VideoChoice& choice);
std::shared_ptr<const orva::FormatDescription> findAudioFormat(orva::OrvaAudioDevice& mic, const AudioChoice& choice);
std::string audioFormatText(const orva::AudioStreamBasicDescription& description);
std::string fourccText(uint32_t code);

int runDevices(Invocation&);
int runFormats(Invocation&);
int runControls(Invocation&);
int runPtz(Invocation&);
int runInfo(Invocation&);
int runCapture(Invocation&);
int runAudioFormats(Invocation&);
int runMeter(Invocation&);
int runVolume(Invocation&);
int runMute(Invocation&);
int runCaptureAudio(Invocation&);
int runCatalogue(Invocation&);
int runRecord(Invocation&);
int runRepair(Invocation&);
int runProbe(Invocation&);
int runOverlay(Invocation&);
int runDoctor(Invocation&);

} // namespace cli
