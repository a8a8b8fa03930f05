// Test helpers over the simulated capture library's control API: a clean bus for
// each test, devices to plug, the call journal as lines, captured system-log lines.
#pragma once

#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemLog.h"

#include <zedederadIvoSim.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvatest {

// A bus with no built-in devices, an empty journal and the host bundle pointed at a
// fresh temporary folder (so no DeviceNames table unless a test writes one).
class SimBusTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static void plug(uint32_t type, const std::string& path, const std::string& name, uint16_t productID,
                     uint16_t revision = 0x0101, uint16_t vendorID = 0x2E7A);
    static void plugCamera(const std::string& path, const std::string& name = "Camera", uint16_t productID = 0x0100)
    {
        plug(ZISIM_CAMERA, path, name, productID);
    }
    static void plugMicrophone(const std::string& path, const std::string& name = "Mic", uint16_t productID = 0x0200)
    {
        plug(ZISIM_MICROPHONE, path, name, productID);
    }
    // An empty simulated bus on the simulator backend, no built-in devices.
    static void resetBus();
    static std::vector<std::string> journal();
    // Journal lines that start with a function name.
    static std::vector<std::string> calls(const std::string& function);
    void writeDeviceNames(const std::string& contents);
    std::vector<std::string> logLines();

    std::string mBundleDir;

private:
    uint64_t mLogHook = 0;
    std::mutex mLogMutex;
    std::vector<std::string> mLog;
};

} // namespace orvatest
