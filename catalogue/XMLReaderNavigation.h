// Walking a reader's tree along a dotted path ("Resolutions.Camera.last.PID").
// Pure function of the tree; any thread may call it on a tree nobody changes.
#pragma once

#include <orva/Value.h>

#include <string>

namespace orva {

// The first component selects the table's entry; each further one selects a table's
// entry, or a list's item: "last" for its last item, otherwise the component read as
// a 32-bit decimal integer (no digits reads 0). Out of range, a missing entry, or a
// step past a text or number value gives null.
Value retrieveForPath(const Value& table, const std::string& path);

} // namespace orva
