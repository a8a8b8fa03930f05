// A microphone other programs can record, made in the test's private PipeWire: a
// pw-loopback whose playback side is an Audio/Source node with the properties a USB
// microphone's node has, fed by pw-play with a known stereo tone. Its processes are
// stopped by pid when it goes (and listed for the fixture script, which stops them if
// the test dies first).
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace orvatest {

class VirtualMicrophone {
public:
    struct Options {
        std::string name = "test-mic"; // node.name
        std::string description = "Test Mic";
        bool usb = true;
        uint16_t vendorID = 0x2E7A, productID = 0x08E5;
        std::string bus = "1-4";
        std::string serial = "SN0001";
    };
    // The tone every virtual microphone plays: 997 Hz, peak 0.25 on the left channel
    // and 0.125 on the right.
    static constexpr double kLeftPeak = 0.25, kRightPeak = 0.125;
    static double leftLevelDb();  // RMS in dB full scale
    static double rightLevelDb();

    explicit VirtualMicrophone(Options options);
    ~VirtualMicrophone();
    VirtualMicrophone(const VirtualMicrophone&) = delete;
    VirtualMicrophone& operator=(const VirtualMicrophone&) = delete;

    // Whether both processes are up and the source exists.
    bool ready() const { return mReady; }
    // Stops its processes now (the source leaves the graph).
    void remove();
    const std::string& name() const { return mOptions.name; }

private:
    Options mOptions;
    pid_t mLoopback = -1, mPlayer = -1;
    bool mReady = false;
};

// Whether PipeWire's graph has a node of this name now.
bool pipeWireHasNode(const std::string& name);

} // namespace orvatest
