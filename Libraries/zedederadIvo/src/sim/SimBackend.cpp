// The simulated device bus as one implementation of the ABI.
#include "../Backend.h"
#include "Bus.h"

namespace zi::sim {
ZI_ABI_LIFECYCLE(ZI_BACKEND_DECLARE)
ZI_ABI_FUNCTIONS(ZI_BACKEND_DECLARE)
int32_t VCI_Close_Device(void* handle);

namespace {
bool ownsHandle(void* handle)
{
    auto& bus = Bus::instance();
    std::lock_guard lock(bus.mutex);
    return bus.handle(handle) != nullptr;
}

bool initialised(bool video)
{
    return Bus::instance().initialised(video);
}
} // namespace
} // namespace zi::sim

namespace zi {
#define ZI_SIM_ENTRY(result, name, parameters, arguments, half) &sim::name,
const Backend kSimulatorBackend = {ZI_ABI_LIFECYCLE(ZI_SIM_ENTRY) ZI_ABI_FUNCTIONS(ZI_SIM_ENTRY) & sim::VCI_Close_Device, &sim::ownsHandle,
                                   &sim::initialised};
#undef ZI_SIM_ENTRY
} // namespace zi
