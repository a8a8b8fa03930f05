// Counts heap allocations made by the calling thread. The benchmark executable
// replaces the global operator new; capture threads other than the measuring one are
// not counted, so a running simulated stream does not disturb the figures.
#pragma once

#include <cstdint>

namespace orvabench {

// Allocations made so far on this thread.
uint64_t threadAllocations();

} // namespace orvabench
