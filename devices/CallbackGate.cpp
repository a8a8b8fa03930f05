#include "devices/CallbackGate.h"

#include <chrono>
#include <thread>

namespace orva {

namespace {
thread_local const CallbackGate* tCurrentGate = nullptr;
}

CallbackGate::Passage::Passage(CallbackGate* gate) : mGate(gate), mOuter(tCurrentGate)
{
    mGate->mInside.fetch_add(1);
    tCurrentGate = mGate;
    mDevice = mGate->mDevice.load();
}

CallbackGate::Passage::~Passage()
{
    tCurrentGate = mOuter;
    // The last touch of the gate: once the count falls, close() may free it.
    mGate->mInside.fetch_sub(1);
}

bool CallbackGate::close()
{
    mDevice.store(nullptr);
    const int own = tCurrentGate == this ? 1 : 0;
    // Callbacks are short and closing is rare, so the closer polls rather than have
    // every callback signal it: a callback must not touch the gate once it has left.
    for (int spins = 0; mInside.load() > own; ++spins) {
        if (spins < 100)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return own == 0;
}

} // namespace orva
