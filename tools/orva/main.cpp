// orva: the command-line host of the Orva webcam component.
#include "Cli.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemLog.h"

#include <orva/OrvaVersion.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

struct Command {
    int (*run)(cli::Args&);
    const char* usage;
    unsigned halves = 3; // the devices it uses: 1 cameras, 2 microphones, 3 both, 0 none
};

const std::map<std::string, Command>& commands()
{
    static const std::map<std::string, Command> table = {
        {"devices", {cli::runDevices,
                     "devices [--watch [--seconds N] [--simulate-hotplug SECONDS]]\n"
                     "      list cameras and microphones; --watch prints arrivals and removals until\n"
                     "      interrupted (or for N seconds); --simulate-hotplug plugs and unplugs a\n"
                     "      second virtual camera and microphone every SECONDS"}},
        {"formats", {cli::runFormats, "formats [CAMERA]\n      the camera's formats: codec, size and frame rates", 1}},
        {"controls", {cli::runControls,
                      "controls [CAMERA] | controls set NAME VALUE [--camera C]\n"
                      "      the controls as a table (min, max, default, current, auto mode), or set one;\n"
                      "      switches: auto-exposure, auto-focus, auto-white-balance, auto-hue, sunwise on|off", 1}},
        {"ptz", {cli::runPtz, "ptz left|right|up|down|reset [COUNT] [--camera C]\n"
                              "      relative pan/tilt moves of 125 ms, or the head's reset", 1}},
        {"info", {cli::runInfo, "info [CAMERA]\n      firmware, CRC, EEPROM and sensor information", 1}},
        {"capture", {cli::runCapture,
                     "capture [--camera C] [--format avc1:1280x720] [--seconds N] [--out FILE]\n"
                     "      capture frames with a progress line; --out keeps the raw stream as captured", 1}},
        {"record", {cli::runRecord,
                    "record [--camera C] [--mic M] [--video avc1:1280x720|2vuy:640x480|...]\n"
                    "       [--audio lpcm:48000:2:16|aac:48000:2|none] [--seconds S] OUT.mov\n"
                    "      record the camera and microphone into a QuickTime movie with a progress line,\n"
                    "      then print the movie's summary; Ctrl-C stops early and still finishes the movie"}},
        {"repair", {cli::runRepair,
                    "repair WORKING.mov OUT.mov [-y]\n"
                    "      make a playable movie of a recording cut short by a crash, a kill or a power\n"
                    "      loss (orva record names such files); -y replaces OUT.mov",
                    0}},
        {"probe", {cli::runProbe, "probe FILE.mov\n      a movie's tracks, codecs, size, duration and frame count", 0}},
        {"doctor", {cli::runDoctor,
                    "doctor\n      every camera node and audio source the system has, and why each is listed or\n"
                    "      not (vendor, capture capability, permission and the group to join)",
                    0}},
        {"overlay", {cli::runOverlay,
                     "overlay [--status-image FILE] [--text \"...\"] [--size 640x480] --out frame.png\n"
                     "      draw the camera status image and a text label with OpenGL (no display\n"
                     "      needed) and write the picture as a PNG",
                     0}},
        {"catalogue", {cli::runCatalogue,
                       "catalogue [FILE] [--pid 0x08E4] [--codec H264] [--size 1280x720] [--interpolated]\n"
                       "      a resolution catalogue (default: the shipped sample) as a table per product,\n"
                       "      or a lookup: is the size there (for the codec), is the codec there",
                       0}},
        {"audio-formats", {cli::runAudioFormats, "audio-formats [MIC]\n      the microphone's wave formats", 2}},
        {"meter", {cli::runMeter, "meter [MIC] [--seconds N]\n      a live level bar in dB full scale; Ctrl-C ends", 2}},
        {"volume", {cli::runVolume, "volume [MIC] [N] [--mic M]\n"
                                    "      show the volume (0-255), or set it to N; a lone number is the volume", 2}},
        {"mute", {cli::runMute, "mute [MIC] [on|off]\n      show or set the microphone's mute", 2}},
        {"capture-audio", {cli::runCaptureAudio,
                           "capture-audio [--mic M] [--format lpcm:48000:2:16|aac:48000:2] [--seconds N] [--out FILE]\n"
                           "      capture audio with a progress line; --out writes raw PCM, or AAC with ADTS headers", 2}},
    };
    return table;
}

void usage(FILE* out)
{
    std::fprintf(out, "usage: orva [--simulate] [--all-vendors] COMMAND [OPTIONS] [--log]\n\n"
                      "The commands use the system's cameras (V4L2) and microphones (PipeWire), the\n"
                      "maker's only; where there is none, the built-in virtual ones, with a notice.\n"
                      "--simulate uses the simulated devices only (ORVA_SIMULATE=1 does the same).\n"
                      "--all-vendors lists every camera and audio source (ORVA_ALL_VENDORS=1).\n"
                      "--log shows the component's system-log lines on standard error as well\n"
                      "(they always go to the system log; ORVA_LOG=1 does the same).\n\ncommands:\n");
    for (auto& [name, command] : commands()) std::fprintf(out, "  %s\n\n", command.usage);
}

} // namespace

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

int main(int argc, char** argv)
{
    findResources();
    if (argc == 2 && (!std::strcmp(argv[1], "--version") || !std::strcmp(argv[1], "-V"))) {
        std::printf("orva %s\n", ORVA_VERSION_STRING);
        return 0;
    }
    // Options before the command choose the devices.
    bool simulate = false, allVendors = false;
    while (argc >= 2 && (!std::strcmp(argv[1], "--simulate") || !std::strcmp(argv[1], "--all-vendors"))) {
        (!std::strcmp(argv[1], "--simulate") ? simulate : allVendors) = true;
        ++argv;
        --argc;
    }
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    auto it = commands().find(argv[1]);
    if (it == commands().end()) {
        std::fprintf(stderr, "orva: unknown command \"%s\"\n\n", argv[1]);
        usage(stderr);
        return 2;
    }
    std::vector<std::string> rest(argv + 2, argv + argc);
    const auto log = std::find(rest.begin(), rest.end(), "--log");
    const char* env = std::getenv("ORVA_LOG");
    orva::SystemLog::setEchoToStandardError(log != rest.end() || (env && *env && std::strcmp(env, "0") != 0));
    if (log != rest.end()) rest.erase(log);
    for (const char* option : {"--simulate", "--all-vendors"}) {
        const auto at = std::find(rest.begin(), rest.end(), option);
        if (at == rest.end()) continue;
        (std::strcmp(option, "--simulate") == 0 ? simulate : allVendors) = true;
        rest.erase(at);
    }
    if (allVendors) setenv("ORVA_ALL_VENDORS", "1", 1);
    cli::chooseDevices(it->second.halves, simulate);
    cli::Args args(std::move(rest));
    return it->second.run(args);
}
