// A seam for tests that start and stop many recordings: the recorder's closing turn
// of the run loop (half a second) made shorter. Not part of the public interface.
#pragma once

namespace orva {

void setRecorderClosingTurnForTesting(double seconds);

} // namespace orva
