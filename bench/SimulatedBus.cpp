#include "SimulatedBus.h"

#include "Libraries/zedederadIvo/include/zedederadIvoBackend.h"
#include "Libraries/zedederadIvo/include/zedederadIvoSim.h"

namespace orvabench {

void resetSimulatedBus()
{
    ZISim_Reset();
    (void)ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR);
}

} // namespace orvabench
