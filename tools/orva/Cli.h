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
    // Removes and answers a flag: "--name", or "-x" when a short name is given.
    bool flag(const std::string& name, const char* shortName = nullptr);
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
// Reads an optional seconds value into `seconds` (left alone when absent); false,
// after saying why, when the text is not a positive number.
bool readSeconds(const std::string& command, const std::string& option, const std::optional<std::string>& text,
                 double& seconds);

// Ctrl-C, SIGTERM and SIGHUP set a flag that interrupted() reads; the run loop polls it.
void installInterruptHandler();
bool interrupted();
// Turns this thread's run loop for `seconds` of wall-clock time or until Ctrl-C,
// calling `tick` with the seconds elapsed every `interval` (and once at the end);
// `stop`, when given, ends it early when it answers true.
void runFor(double seconds, double interval, const std::function<void(double elapsed)>& tick,
            const std::function<bool()>& stop = {});

int runDevices(Args& args);

// Chooses the devices of the halves a command uses (1 cameras, 2 microphones): the
// simulated bus when asked, else the system's, falling back (with a notice on
// standard error) to the built-in virtual camera or microphone where there is none.
void chooseDevices(unsigned halves, bool simulate);
// Whether both halves are the simulated bus.
bool simulatedDevices();

} // namespace cli

#include <memory>

#include <cstdint>

namespace orva {
class FormatDescription;
class OrvaAudioDevice;
class OrvaDeviceInfo;
class OrvaVideoDevice;
struct AudioStreamBasicDescription;
}

namespace cli {

// Picks a camera (or microphone) record by index or name from the manager's list;
// on a bad choice prints an error listing what there is and answers null.
std::shared_ptr<orva::OrvaDeviceInfo> chooseDevice(const std::string& command, bool camera,
                                                   const std::optional<std::string>& choice);
// Opens the chosen camera; null (after printing why) when it cannot be opened.
std::shared_ptr<orva::OrvaVideoDevice> openCamera(const std::string& command, const std::optional<std::string>& choice);
// Opens the chosen microphone; null (after printing why) when it cannot be opened.
std::shared_ptr<orva::OrvaAudioDevice> openMicrophone(const std::string& command,
                                                      const std::optional<std::string>& choice);
// A video format as the commands spell it: CODEC:WIDTHxHEIGHT (avc1:1280x720).
bool parseVideoFormat(const std::string& text, uint32_t& codec, int32_t& width, int32_t& height);
// An audio format as the commands spell it: lpcm:RATE:CHANNELS:16 or aac:RATE:CHANNELS.
struct AudioChoice {
    uint32_t tag = 0, rate = 0, channels = 0, bits = 0;
};
std::optional<AudioChoice> parseAudioFormat(const std::string& text);
// The microphone's listed format matching the choice; null when it has none.
std::shared_ptr<const orva::FormatDescription> findAudioFormat(orva::OrvaAudioDevice& mic, const AudioChoice& choice);
// "lpcm:48000:2:16", "aac:48000:2".
std::string audioFormatText(const orva::AudioStreamBasicDescription& description);
// Rejects options left unread and more positional arguments than `maxPositional`.
bool checkArgs(const std::string& command, const Args& args, size_t maxPositional);
// A four-character code as text.
std::string fourccText(uint32_t code);

int runFormats(Args& args);
int runControls(Args& args);
int runPtz(Args& args);
int runInfo(Args& args);
int runCapture(Args& args);
int runAudioFormats(Args& args);
int runMeter(Args& args);
int runVolume(Args& args);
int runMute(Args& args);
int runCaptureAudio(Args& args);
int runCatalogue(Args& args);
int runRecord(Args& args);
int runProbe(Args& args);
int runRepair(Args& args);
int runOverlay(Args& args);
int runDoctor(Args& args);

} // namespace cli
