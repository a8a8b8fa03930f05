// The benchmarks that drive devices use the simulated bus behind both halves of the
// capture library, reset to no devices and no faults.
#pragma once

namespace orvabench {

void resetSimulatedBus();

} // namespace orvabench
