#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>

namespace zi::sys {

void logLine(const std::string& line)
{
    syslog(LOG_USER | LOG_WARNING, "zedederadIvo: %s", line.c_str());
    const char* echo = std::getenv("ORVA_LOG");
    if (echo && *echo && std::strcmp(echo, "0") != 0) std::fprintf(stderr, "zedederadIvo: %s\n", line.c_str());
}

} // namespace zi::sys
