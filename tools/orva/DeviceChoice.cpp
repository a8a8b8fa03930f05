// Which devices the commands work on. The system's cameras (V4L2) and microphones
// (PipeWire) by default; the simulated bus with --simulate (or ORVA_SIMULATE=1). When
// the system has no camera at all, or no microphone, the command says so on standard
// error and uses the built-in virtual one instead, so that every command works on a
// machine without devices; a camera that is attached but cannot be used is an error.
#include "Cli.h"

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace cli {

namespace {

// How many devices the system implementation lists for one half (it starts and
// ends that half of the library to ask).
uint32_t systemDevices(bool video)
{
    if ((video ? VCI_Init() : ACI_Init()) != ZI_OK) return 0;
    uint32_t size = 0, count = 0;
    const int32_t status = video ? VCI_Enum_Devices(nullptr, &size, &count) : ACI_Enum_Devices(nullptr, &size, &count);
    (void)(video ? VCI_Cleanup() : ACI_Cleanup());
    return status == ZI_MORE_DATA ? count : 0;
}

} // namespace

bool chooseDevices(unsigned halves, bool simulate)
{
    if (simulate) {
        (void)ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR);
        return true;
    }
    if ((halves & ZI_HALF_VIDEO) && ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SYSTEM && systemDevices(true) == 0) {
        // A camera that is there but cannot be used is an error, not a reason to
        // record the test pattern.
        std::string unusable(static_cast<size_t>(ZISys_UnusableCameras(nullptr, 0)) + 1, '\0');
        unusable.resize(static_cast<size_t>(ZISys_UnusableCameras(unusable.data(), static_cast<uint32_t>(unusable.size()))));
        if (!unusable.empty()) {
            std::fprintf(err(), "orva: the camera is attached but cannot be used:\n");
            size_t start = 0;
            for (size_t end; (end = unusable.find('\n', start)) != std::string::npos; start = end + 1)
                std::fprintf(err(), "  %s\n", unusable.substr(start, end - start).c_str());
            return false;
        }
        std::fprintf(err(), "orva: no camera found (orva doctor says why); using the built-in virtual camera\n");
        (void)ZI_Select_Backend(ZI_HALF_VIDEO, ZI_BACKEND_SIMULATOR);
    }
    if ((halves & ZI_HALF_AUDIO) && ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SYSTEM && systemDevices(false) == 0) {
        std::fprintf(err(), "orva: no microphone found (orva doctor says why); using the built-in virtual microphone\n");
        (void)ZI_Select_Backend(ZI_HALF_AUDIO, ZI_BACKEND_SIMULATOR);
    }
    return true;
}

bool simulatedDevices()
{
    return ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SIMULATOR &&
           ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SIMULATOR;
}

} // namespace cli
