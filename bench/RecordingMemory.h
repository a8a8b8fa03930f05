// The memory benchmark measures each side in a fresh run of the benchmark program:
// main() hands over to this when ORVA_BENCH_MEMORY_CHILD names the side ("component"
// or "libavformat"); it writes its two figures (growth and peak, MB) to descriptor 3.
#pragma once

namespace orvabench {

int runRecordingMemoryChild(const char* side);

} // namespace orvabench
