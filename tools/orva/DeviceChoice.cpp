// Which devices the commands work on. The system's cameras (V4L2) and microphones
// (PipeWire) by default; the simulated bus with --simulate (or ORVA_SIMULATE=1). When
// the system has no camera, or no microphone, the command says so on standard error
// and uses the built-in virtual one instead, so that every command works on a
// machine without devices.
#include "Cli.h"

#include <zedederadIvoBackend.h>

#include <cstdio>
#include <cstdlib>

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

void chooseDevices(unsigned halves, bool simulate)
{
    if (simulate) {
        (void)ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR);
        return;
    }
    if ((halves & ZI_HALF_VIDEO) && ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SYSTEM && systemDevices(true) == 0) {
        std::fprintf(err(), "orva: no camera found (orva doctor says why); using the built-in virtual camera\n");
        (void)ZI_Select_Backend(ZI_HALF_VIDEO, ZI_BACKEND_SIMULATOR);
    }
    if ((halves & ZI_HALF_AUDIO) && ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SYSTEM && systemDevices(false) == 0) {
        std::fprintf(err(), "orva: no microphone found (orva doctor says why); using the built-in virtual microphone\n");
        (void)ZI_Select_Backend(ZI_HALF_AUDIO, ZI_BACKEND_SIMULATOR);
    }
}

bool simulatedDevices()
{
    return ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SIMULATOR &&
           ZI_Active_Backend(ZI_HALF_AUDIO) == ZI_BACKEND_SIMULATOR;
}

} // namespace cli
