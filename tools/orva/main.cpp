// orva: the command-line host of the Orva webcam component.
#include "Cli.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "Commands.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemLog.h"

#include <orva/OrvaLog.h>
#include <orva/OrvaVersion.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace cli {

namespace {

const Option kCamera{"camera", 0, "CAMERA",
                     "the camera: its index, name, path, node (/dev/video0 or a link to it) or serial number as orva "
                     "devices lists it (default: the first)"};
const Option kMic{"mic", 0, "MIC",
                  "the microphone: its index, name, path, PipeWire node name or serial number as orva devices lists "
                  "it (default: the first)"};
const Option kFps{"fps", 0, "FPS",
                  "frames a second, one of the format's rates in orva formats (default: the camera's, 30)"};
const Option kOverwrite{"overwrite", 'y', nullptr, "replace an existing output file"};
const Option kSimulateUnplug{"simulate-unplug", 0, "SECONDS",
                             "with --simulate: the camera (or microphone) is unplugged this long in, to see how the "
                             "command ends"};

// Options every command takes, and those of commands with JSON output or progress.
const std::vector<Option> kCommonOptions = {
    {"help", 'h', nullptr, "this help"},
    {"simulate", 0, nullptr, "use the simulated devices only (ORVA_SIMULATE=1 does the same)"},
    {"all-vendors", 0, nullptr, "list every camera and audio source, not the maker's only (ORVA_ALL_VENDORS=1)"},
    {"log", 0, nullptr, "show the component's console and system-log lines on standard error (ORVA_LOG=1)"},
};
const Option kJson{"json", 0, nullptr, "print the result as one JSON document (docs/cli-json.md)"};
const std::vector<Option> kProgressOptions = {
    {"progress", 0, nullptr, "show the progress line even when standard error is no terminal"},
    {"quiet", 'q', nullptr, "show no progress line"},
};

} // namespace

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"devices", "", "List cameras and microphones; --watch prints arrivals and removals as they happen.",
         {{"watch", 0, nullptr, "keep watching until interrupted (or for --seconds)"},
          {"seconds", 0, "SECONDS", "with --watch: stop after this long"},
          {"simulate-hotplug", 0, "SECONDS", "with --watch --simulate: plug and unplug a second virtual camera "
                                             "and microphone every SECONDS"}},
         {"devices", "devices --json", "--simulate devices --watch --seconds 5 --simulate-hotplug 1"},
         0, 0, 3, true, false, runDevices},
        {"formats", "[CAMERA]", "The camera's formats: codec, frame size and frame rates.",
         {},
         {"formats", "formats 0 --json"},
         0, 1, 1, true, false, runFormats},
        {"controls", "[CAMERA] | set NAME VALUE",
         "The camera's controls as a table (min, max, default, current, auto), or set one. Names are "
         "case-insensitive; switches (auto-exposure, auto-focus, auto-white-balance, auto-hue, sunwise) take on or "
         "off; values are checked against the control's range.",
         {kCamera},
         {"controls", "controls set brightness 40", "controls set auto-focus off"},
         0, 3, 1, true, false, runControls},
        {"ptz", "left|right|up|down|reset [COUNT]", "Relative pan/tilt moves of 125 ms (COUNT 1 to 100), or the "
                                                   "head's reset. The head position counts steps from the centre: "
                                                   "pan + is left, tilt + is up.",
         {kCamera},
         {"ptz left", "ptz up 3", "ptz reset"},
         1, 2, 1, false, false, runPtz},
        {"info", "[CAMERA]", "Firmware, CRC, EEPROM and sensor information.",
         {},
         {"info", "info --json"},
         0, 1, 1, true, false, runInfo},
        {"capture", "", "Capture frames for a while. --out keeps them: a .mov file gets a QuickTime movie, any "
                        "other name the raw stream as the camera delivers it (H.264 Annex B, or 2vuy).",
         {kCamera,
          {"format", 0, "FORMAT", "CODEC:WIDTHxHEIGHT[@FPS] as orva formats lists it (default avc1:1280x720)"},
          kFps,
          {"seconds", 0, "SECONDS", "how long, to the frame (default 5)"},
          {"out", 'o', "FILE", "where the frames go"},
          kOverwrite, kSimulateUnplug},
         {"capture --format avc1:640x360 --seconds 2 --out clip-video.mov"},
         0, 0, 1, true, true, runCapture},
        {"record", "OUT.mov",
         "Record the camera and the microphone together into a QuickTime movie, then print the movie's summary as "
         "read back. The movie is written once, beside OUT.mov as .OUT.mov.recording, in one-second fragments, "
         "finished in place at the end and renamed; Ctrl-C stops early and still finishes it.",
         {kCamera, kMic,
          {"video", 0, "FORMAT", "avc1:WIDTHxHEIGHT[@FPS] or 2vuy:WIDTHxHEIGHT[@FPS] (default avc1:1280x720)"},
          kFps,
          {"audio", 0, "FORMAT", "lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none (default lpcm:48000:2:16)"},
          {"seconds", 0, "SECONDS", "how long (default 10)"},
          {"share", 0, nullptr, "also offer the camera to other applications over PipeWire while recording"},
          kOverwrite, kSimulateUnplug},
         {"record --seconds 5 clip.mov", "record --video 2vuy:640x480 --audio aac:48000:2 --seconds 3 raw.mov"},
         1, 1, 3, true, true, runRecord},
        {"share", "[CAMERA]",
         "Offer the camera to other applications as a PipeWire camera (browsers, OBS, GStreamer's pipewiresrc) "
         "until interrupted, saying as they connect and leave; the camera runs while one of them watches. 2vuy is "
         "handed on as it comes (UYVY), H.264 decoded (I420).",
         {{"format", 0, "FORMAT", "CODEC:WIDTHxHEIGHT[@FPS] as orva formats lists it (default 2vuy:1280x720)"},
          kFps,
          {"seconds", 0, "SECONDS", "how long (default: until interrupted)"}},
         {"share", "share --format avc1:1280x720 --seconds 60"},
         0, 1, 1, true, false, runShare},
        {"preview", "[CAMERA]",
         "Show the camera live in a window, with its name, size and measured frame rate, the microphone's level "
         "and REC while recording; keys move the head, zoom, stop the camera, record, save a snapshot and mute "
         "(press ? in the window). The camera status image and a label show when there is no picture. Needs a "
         "display (DISPLAY or WAYLAND_DISPLAY).",
         {{"format", 0, "FORMAT", "CODEC:WIDTHxHEIGHT[@FPS] as orva formats lists it (default 2vuy:1280x720)"},
          kFps, kMic,
          {"audio", 0, "FORMAT", "the recordings' sound: lpcm:RATE:CHANNELS:16, aac:RATE:CHANNELS or none (no "
                                 "microphone at all; default lpcm:48000:2:16)"},
          {"out", 'o', "FOLDER", "where recordings (orva-DATE-TIME.mov) and snapshots go (default: here)"},
          {"size", 0, "WIDTHxHEIGHT", "the window's size (default: the picture's, at most 1280 wide)"},
          {"seconds", 0, "SECONDS", "close the window after this long (default: when q is pressed)"},
          kSimulateUnplug},
         {"preview", "preview --format avc1:1920x1080 --out ~/Videos"},
         0, 1, 3, false, false, runPreview, &previewKeys()},
        {"repair", "WORKING [OUT.mov]",
         "Make a playable movie of a recording cut short by a crash, a kill, a full disk or a power loss (orva "
         "record names such files). Without OUT.mov a working file .NAME.recording is finished where it is and "
         "becomes NAME (or NAME-repaired.mov when NAME exists); with it, the movie is made there and the original "
         "is left as it was.",
         {kOverwrite},
         {"repair .clip.mov.recording", "repair .clip.mov.recording rescued.mov"},
         1, 2, 0, true, false, runRepair},
        {"probe", "FILE", "A movie's tracks, codecs, size, duration and frame count.",
         {},
         {"probe clip.mov", "probe clip.mov --json"},
         1, 1, 0, true, false, runProbe},
        {"doctor", "",
         "Every camera node and audio source the system has, and why each is listed or not (vendor, capture "
         "capability, permission and the group to join).",
         {},
         {"doctor"},
         0, 0, 0, true, false, runDoctor},
        {"overlay", "", "Draw the camera status image and a text label with OpenGL (no display needed) and write "
                        "the picture as a PNG.",
         {{"status-image", 0, "FILE", "the status image (default: the shipped CameraOff.png)"},
          {"text", 0, "TEXT", "the label (default \"Camera off\")"},
          {"size", 0, "WIDTHxHEIGHT", "the picture's size, up to 8192x8192 (default 640x480)"},
          {"out", 'o', "FILE", "where the PNG goes (required)"},
          kOverwrite},
         {"overlay --text \"Camera off\" --out frame.png"},
         0, 0, 0, false, false, runOverlay},
        {"catalogue", "[FILE]",
         "A resolution catalogue (default: the shipped sample) as a table per product, or a lookup: is the size "
         "there (for the codec), is the codec there. Codecs are avc1 and 2vuy. Exit 1 when an answer is no or the "
         "product is not in the catalogue.",
         {{"pid", 0, "PID", "the product id: decimal, or hexadecimal with 0x (0x7E01)"},
          {"codec", 0, "CODEC", "avc1 or 2vuy"},
          {"size", 0, "WIDTHxHEIGHT", "a frame size to look up"},
          {"interpolated", 0, nullptr, "look up the interpolated size"}},
         {"catalogue", "catalogue --pid 0x7E01 --codec avc1 --size 1280x720"},
         0, 1, 0, true, false, runCatalogue},
        {"audio-formats", "[MIC]", "The microphone's wave formats.",
         {},
         {"audio-formats"},
         0, 1, 2, true, false, runAudioFormats},
        {"meter", "[MIC]", "Live level bars, one per channel, in dB full scale with peak hold; with --json a JSON "
                           "line per tick.",
         {{"seconds", 0, "SECONDS", "how long (default: until interrupted)"}},
         {"meter --seconds 5", "meter --seconds 1 --json"},
         0, 1, 2, true, false, runMeter},
        {"volume", "[MIC] [N]", "Show the microphone's volume (0 to 255), or set it to N; a lone number is the "
                                "volume.",
         {kMic},
         {"volume", "volume 128"},
         0, 2, 2, true, false, runVolume},
        {"mute", "[MIC] [on|off]", "Show or set the microphone's mute.",
         {kMic},
         {"mute", "mute on"},
         0, 2, 2, true, false, runMute},
        {"capture-audio", "",
         "Capture audio for a while. --out keeps it: PCM as a WAV file, AAC with ADTS headers; both play in "
         "common players.",
         {kMic,
          {"format", 0, "FORMAT", "lpcm:RATE:CHANNELS:16 or aac:RATE:CHANNELS (default lpcm:48000:2:16)"},
          {"seconds", 0, "SECONDS", "how long, to the buffer (default 5)"},
          {"out", 'o', "FILE", "where the audio goes"},
          kOverwrite, kSimulateUnplug},
         {"capture-audio --seconds 3 --out voice.wav", "capture-audio --format aac:48000:2 --seconds 3 --out a.aac"},
         0, 0, 2, true, true, runCaptureAudio},
    };
    return table;
}

std::vector<Option> optionsOf(const Command& c)
{
    std::vector<Option> all = c.options;
    if (c.json) all.push_back(kJson);
    if (c.progress) all.insert(all.end(), kProgressOptions.begin(), kProgressOptions.end());
    all.insert(all.end(), kCommonOptions.begin(), kCommonOptions.end());
    return all;
}

namespace {

void printOption(FILE* to, const Option& o)
{
    std::string left = "  ";
    if (o.shortName) left += std::string("-") + o.shortName + ", ";
    left += std::string("--") + o.name;
    if (o.value) left += std::string(" ") + o.value;
    std::fprintf(to, "%-28s %s\n", left.c_str(), o.help);
}

void commandHelp(FILE* to, const Command& c)
{
    std::fprintf(to, "usage: orva %s%s%s%s\n\n%s\n\noptions:\n", c.name, c.options.empty() && !c.json ? "" : " [OPTIONS]",
                 *c.operands ? " " : "", c.operands, c.summary);
    for (const auto& o : optionsOf(c)) printOption(to, o);
    if (c.keys) {
        std::fprintf(to, "\nkeys in the window:\n");
        for (const auto& line : *c.keys) std::fprintf(to, "  %s\n", line.c_str());
    }
    std::fprintf(to, "\nexample%s:\n", c.examples.size() == 1 ? "" : "s");
    for (const char* e : c.examples) std::fprintf(to, "  orva %s\n", e);
}

void usage(FILE* to)
{
    std::fprintf(to, "usage: orva [--simulate] [--all-vendors] [--log] COMMAND [OPTIONS] [OPERANDS]\n"
                     "       orva COMMAND --help    the command's options and an example\n"
                     "       orva --version\n\n"
                     "The commands use the system's cameras (V4L2) and microphones (PipeWire), the maker's only;\n"
                     "where there is none, the built-in virtual ones, with a notice.\n\ncommands:\n");
    for (const auto& c : commands()) {
        std::string summary = c.summary;
        const size_t stop = summary.find(". ");
        if (stop != std::string::npos) summary = summary.substr(0, stop + 1);
        std::fprintf(to, "  %-14s %s\n", c.name, summary.c_str());
    }
    std::fprintf(to, "\nResults go to standard output (--json: one JSON document), messages and progress to\n"
                     "standard error. Exit status: 0 done, 1 failed, 2 wrong command line, 130 interrupted.\n");
}

std::optional<Option> findOption(const Command& c, const std::string& name, char shortName)
{
    auto matches = [&](const Option& o) { return shortName ? o.shortName == shortName : name == o.name; };
    for (const auto& o : optionsOf(c))
        if (matches(o)) return o;
    return std::nullopt;
}

bool looksLikeNumber(const std::string& token)
{
    return token.size() > 1 && token[0] == '-' && (std::isdigit(static_cast<unsigned char>(token[1])) || token[1] == '.');
}

// Parses the words after the command name; null after saying what is wrong.
std::unique_ptr<Invocation> parse(const Command& c, const std::vector<std::string>& words)
{
    std::map<std::string, std::string> values;
    std::vector<std::string> operands;
    auto wrong = [&](const std::string& message) {
        std::fprintf(err(), "orva %s: %s (orva %s --help shows the options)\n", c.name, message.c_str(), c.name);
        return nullptr;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (optionsEnded || w.size() < 2 || w[0] != '-' || looksLikeNumber(w)) {
            operands.push_back(w);
            continue;
        }
        if (w == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, inlineValue;
        bool hasInline = false;
        std::optional<Option> o;
        if (w[1] == '-') {
            name = w.substr(2);
            if (const size_t eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name = name.substr(0, eq);
                hasInline = true;
            }
            o = findOption(c, name, 0);
        } else if (w.size() == 2) {
            o = findOption(c, "", w[1]);
        }
        if (!o) return wrong("unknown option " + w);
        if (o->value) {
            if (!hasInline) {
                if (i + 1 >= words.size()) return wrong(std::string("--") + o->name + " needs a value (" + o->value + ")");
                inlineValue = words[++i];
            }
            if (values.count(o->name)) return wrong(std::string("--") + o->name + " is given twice");
            values[o->name] = inlineValue;
        } else {
            if (hasInline) return wrong(std::string("--") + o->name + " takes no value");
            values[o->name] = "";
        }
    }
    if (values.count("help")) return std::make_unique<Invocation>(c, std::move(values), std::move(operands));
    if (operands.size() > c.maxOperands)
        return wrong("unexpected \"" + operands[c.maxOperands] + "\"");
    if (operands.size() < c.minOperands) return wrong(std::string("give ") + c.operands);
    return std::make_unique<Invocation>(c, std::move(values), std::move(operands));
}

// The CLI's resources: Resources/ beside the executable in the build tree, share/orva
// under the prefix of an installed one.
void findResources()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || std::filesystem::is_directory(exe.parent_path() / "Resources", error)) return;
    const auto installed = exe.parent_path().parent_path() / "share" / "orva";
    if (std::filesystem::is_directory(installed, error)) orva::Bundle::setMainBundleResourcePath(installed.string());
}

bool envSet(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v && std::strcmp(v, "0") != 0;
}

} // namespace

} // namespace cli

int main(int argc, char** argv)
{
    using namespace cli;
    findResources();
    std::vector<std::string> words(argv + 1, argv + argc);
    // Options before the command.
    bool simulate = false, allVendors = false, log = false;
    size_t at = 0;
    for (; at < words.size() && words[at].size() > 1 && words[at][0] == '-'; ++at) {
        const std::string& w = words[at];
        if (w == "--version" || w == "-V") {
            std::printf("orva %s\n", ORVA_VERSION_STRING);
            return kExitOk;
        }
        if (w == "--help" || w == "-h") {
            usage(stdout);
            return kExitOk;
        }
        // What the build installs beside the program, made from the command table.
        if (w == "--print-man-page") return printManPage(stdout), kExitOk;
        if (w == "--print-bash-completion") return printBashCompletion(stdout), kExitOk;
        if (w == "--simulate") simulate = true;
        else if (w == "--all-vendors") allVendors = true;
        else if (w == "--log") log = true;
        else {
            std::fprintf(stderr, "orva: unknown option %s\n\n", w.c_str());
            usage(stderr);
            return kExitUsage;
        }
    }
    if (at >= words.size()) {
        usage(stderr);
        return kExitUsage;
    }
    const std::string name = words[at];
    if (name == "help") {
        const Command* asked = nullptr;
        for (const auto& c : commands())
            if (at + 1 < words.size() && words[at + 1] == c.name) asked = &c;
        if (asked)
            commandHelp(stdout, *asked);
        else
            usage(stdout);
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const auto& c : commands())
        if (name == c.name) command = &c;
    if (!command) {
        std::fprintf(stderr, "orva: unknown command \"%s\"\n\n", name.c_str());
        usage(stderr);
        return kExitUsage;
    }
    auto invocation = parse(*command, std::vector<std::string>(words.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                                               words.end()));
    if (!invocation) return kExitUsage;
    if (invocation->flag("help")) {
        commandHelp(stdout, *command);
        return kExitOk;
    }
    simulate = simulate || invocation->flag("simulate") || envSet("ORVA_SIMULATE");
    allVendors = allVendors || invocation->flag("all-vendors");
    log = log || invocation->flag("log") || envSet("ORVA_LOG");
    setUpOutput();
    // The component's console lines: on standard error with --log, else nowhere.
    orva::OrvaSetLogSink([log](orva::OrvaLogLevel, const std::string& line) {
        if (log) std::fprintf(err(), "%s\n", line.c_str());
    });
    orva::SystemLog::setEchoToStandardError(log);
    if (allVendors) setenv("ORVA_ALL_VENDORS", "1", 1);
    // Watching follows the system's own devices (a camera plugged in later is what a
    // watcher waits for), even when it has none yet.
    unsigned halves = invocation->flag("watch") ? 0 : command->halves;
    if (invocation->value("audio") == std::optional<std::string>("none")) halves &= ~2u; // record without sound
    if (!chooseDevices(halves, simulate)) return kExitFailure;
    const int status = command->run(*invocation);
    std::fflush(out());
    return status;
}
