// What the capture library's frame callbacks carry as their context instead of the
// device itself. A device can be destroyed while the library's state is unknown (a
// stop, unsubscribe or close that failed), so a callback may still arrive afterwards:
// it passes through the gate, which leads to the device's private part only while
// the device lives.
//
// A Passage is made on the library's capture thread for every frame: three atomic
// operations, no lock, no allocation, no system call. close() runs on the thread
// destroying the device and waits for callbacks already inside to come out (not for
// one on its own thread: a delegate may drop the last reference to the device inside
// a callback).
#pragma once

#include <orva/OrvaAVDevice.h>

#include <atomic>

namespace orva {

class CallbackGate {
public:
    explicit CallbackGate(OrvaAVDevice::Private* device) : mDevice(device) {}
    CallbackGate(const CallbackGate&) = delete;
    CallbackGate& operator=(const CallbackGate&) = delete;

    // One callback's way through: device() is the device, or null once the gate closed.
    class Passage {
    public:
        explicit Passage(CallbackGate* gate);
        ~Passage();
        Passage(const Passage&) = delete;
        Passage& operator=(const Passage&) = delete;
        OrvaAVDevice::Private* device() const { return mDevice; }

    private:
        CallbackGate* mGate;
        OrvaAVDevice::Private* mDevice = nullptr;
        const CallbackGate* mOuter = nullptr; // the passage this thread was in before
    };

    // No callback reaches the device after this returns. False when the calling thread
    // is itself inside a callback through this gate: the gate must then outlive it.
    bool close();

private:
    std::atomic<OrvaAVDevice::Private*> mDevice;
    std::atomic<int> mInside{0};
};

} // namespace orva
