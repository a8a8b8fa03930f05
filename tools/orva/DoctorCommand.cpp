// orva doctor: what the system offers and why each camera node and audio source is
// listed or not (the maker's vendor only, no capture capability, a node that cannot
// be opened and the group to join), then what the other commands will use.
#include "Cli.h"

#include <zedederadIvoBackend.h>
#include <zedederadIvoSystem.h>

#include <cstdio>
#include <string>

namespace cli {

int runDoctor(Invocation&)
{
    std::string report(static_cast<size_t>(ZISys_Describe(nullptr, 0)) + 1, '\0');
    ZISys_Describe(report.data(), static_cast<uint32_t>(report.size()));
    report.resize(report.size() - 1);
    std::fputs(report.c_str(), out());
    const bool simulated = ZI_Active_Backend(ZI_HALF_VIDEO) == ZI_BACKEND_SIMULATOR;
    std::fprintf(out(), "\nThe other commands use %s.\n", simulated ? "the simulated devices (--simulate or ORVA_SIMULATE)"
                                                           : "these devices, or the built-in virtual ones where there is none");
    return kExitOk;
}

} // namespace cli
