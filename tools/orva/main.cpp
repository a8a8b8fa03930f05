// orva: the command-line host of the Orva webcam component.
#include "Cli.h"

#include "platform/foundation/SystemLog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct Command {
    int (*run)(cli::Args&);
    const char* usage;
};

const std::map<std::string, Command>& commands()
{
    static const std::map<std::string, Command> table = {
        {"devices", {cli::runDevices,
                     "devices [--watch [--seconds N] [--simulate-hotplug SECONDS]]\n"
                     "      list cameras and microphones; --watch prints arrivals and removals until\n"
                     "      interrupted (or for N seconds); --simulate-hotplug plugs and unplugs a\n"
                     "      second virtual camera and microphone every SECONDS"}},
        {"formats", {cli::runFormats, "formats [CAMERA]\n      the camera's formats: codec, size and frame rates"}},
        {"controls", {cli::runControls,
                      "controls [CAMERA] | controls set NAME VALUE [--camera C]\n"
                      "      the controls as a table (min, max, default, current, auto mode), or set one;\n"
                      "      switches: auto-exposure, auto-focus, auto-white-balance, auto-hue, sunwise on|off"}},
        {"ptz", {cli::runPtz, "ptz left|right|up|down|reset [COUNT] [--camera C]\n"
                              "      relative pan/tilt moves of 125 ms, or the head's reset"}},
        {"info", {cli::runInfo, "info [CAMERA]\n      firmware, CRC, EEPROM and sensor information"}},
        {"capture", {cli::runCapture,
                     "capture [--camera C] [--format avc1:1280x720] [--seconds N] [--out FILE]\n"
                     "      capture frames with a progress line; --out keeps the raw stream as captured"}},
        {"record", {cli::runRecord,
                    "record [--camera C] [--mic M] [--video avc1:1280x720|2vuy:640x480|...]\n"
                    "       [--audio lpcm:48000:2:16|aac:48000:2|none] [--seconds S] OUT.mov\n"
                    "      record the camera and microphone into a QuickTime movie with a progress line,\n"
                    "      then print the movie's summary; Ctrl-C stops early and still finishes the movie"}},
        {"probe", {cli::runProbe, "probe FILE.mov\n      a movie's tracks, codecs, size, duration and frame count"}},
        {"overlay", {cli::runOverlay,
                     "overlay [--status-image FILE] [--text \"...\"] [--size 640x480] --out frame.png\n"
                     "      draw the camera status image and a text label with OpenGL (no display\n"
                     "      needed) and write the picture as a PNG"}},
        {"catalogue", {cli::runCatalogue,
                       "catalogue [FILE] [--pid 0x08E4] [--codec H264] [--size 1280x720] [--interpolated]\n"
                       "      a resolution catalogue (default: the shipped sample) as a table per product,\n"
                       "      or a lookup: is the size there (for the codec), is the codec there"}},
        {"audio-formats", {cli::runAudioFormats, "audio-formats [MIC]\n      the microphone's wave formats"}},
        {"meter", {cli::runMeter, "meter [MIC] [--seconds N]\n      a live level bar in dB full scale; Ctrl-C ends"}},
        {"volume", {cli::runVolume, "volume [MIC] [N] [--mic M]\n"
                                    "      show the volume (0-255), or set it to N; a lone number is the volume"}},
        {"mute", {cli::runMute, "mute [MIC] [on|off]\n      show or set the microphone's mute"}},
        {"capture-audio", {cli::runCaptureAudio,
                           "capture-audio [--mic M] [--format lpcm:48000:2:16|aac:48000:2] [--seconds N] [--out FILE]\n"
                           "      capture audio with a progress line; --out writes raw PCM, or AAC with ADTS headers"}},
    };
    return table;
}

void usage(FILE* out)
{
    std::fprintf(out, "usage: orva COMMAND [OPTIONS] [--log]\n\n"
                      "--log shows the component's system-log lines on standard error as well\n"
                      "(they always go to the system log; ORVA_LOG=1 does the same).\n\ncommands:\n");
    for (auto& [name, command] : commands()) std::fprintf(out, "  %s\n\n", command.usage);
}

} // namespace

int main(int argc, char** argv)
{
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
    cli::Args args(std::move(rest));
    return it->second.run(args);
}
