// The system implementation's few log lines: always to the system log, and to
// standard error as well when ORVA_LOG is set (as the component's own lines).
#pragma once

#include <string>

namespace zi::sys {

void logLine(const std::string& line);

} // namespace zi::sys
