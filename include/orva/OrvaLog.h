/// @file
/// Where Orva's console lines go. The component prints a few documented lines (the
/// writer's "Starting writing [...]", the sample generators' warnings, the system-log
/// lines such as "Dealloc AVDevice ..."). By default each goes where it always went:
/// standard output, standard error, or the system log (syslog, echoed on standard
/// error). A host that sets a sink gets every one of them there instead, and nothing
/// is written to its standard output or standard error; system-log lines still reach
/// syslog. The sink is called on the thread that made the line (a capture thread, the
/// writer's queue, the host's thread), so it must be thread-safe and quick.
#pragma once

#include <orva/OrvaExport.h>

#include <functional>
#include <string>

namespace orva {

/// How much a line matters.
enum class OrvaLogLevel : int {
    Info = 0,    ///< what the component does ("Starting writing [...]")
    Warning = 1, ///< something was worked around ("[WARNING]: Inserting 2 silence packets")
    Error = 2,   ///< something was lost or failed ("[FATAL] dropping packet!")
};

/// Receives one line, without its line end.
using OrvaLogSink = std::function<void(OrvaLogLevel level, const std::string& line)>;

/// Sends every console line to `sink` from now on (any thread); null goes back to
/// the default streams. A sink that does nothing silences the component.
ORVA_EXPORT void OrvaSetLogSink(OrvaLogSink sink);

} // namespace orva
