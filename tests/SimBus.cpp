#include "SimBus.h"

#include <zedederadIvoBackend.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orvatest {

void SimBusTest::SetUp()
{
    resetBus();
    char pattern[] = "/tmp/orva-test-XXXXXX";
    mBundleDir = mkdtemp(pattern);
    orva::Bundle::setMainBundleResourcePath(mBundleDir);
    orva::SystemLog::setEchoToStandardError(false);
    mLogHook = orva::SystemLog::addHook([this](const std::string& line) {
        std::lock_guard lock(mLogMutex);
        mLog.push_back(line);
    });
}

void SimBusTest::resetBus()
{
    ZISim_Reset();
    ASSERT_EQ(ZI_Select_Backend(ZI_HALF_BOTH, ZI_BACKEND_SIMULATOR), ZI_OK);
    ZISim_SetBuiltInDevices(0);
}

void SimBusTest::TearDown()
{
    orva::SystemLog::removeHook(mLogHook);
    orva::Bundle::setMainBundleResourcePath(std::nullopt);
    std::filesystem::remove_all(mBundleDir);
    ZISim_Reset();
}

void SimBusTest::plug(uint32_t type, const std::string& path, const std::string& name, uint16_t productID,
                      uint16_t revision, uint16_t vendorID)
{
    ZISimDeviceDesc d{};
    d.type = type;
    d.path = path.c_str();
    d.name = name.c_str();
    d.productID = productID;
    d.vendorID = vendorID;
    d.revision = revision;
    d.withDefaultDescription = 1;
    ASSERT_EQ(ZISim_Plug(&d), 0) << path;
}

std::vector<std::string> SimBusTest::journal()
{
    std::vector<std::string> lines;
    const uint32_t n = ZISim_JournalCount();
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t len = ZISim_JournalLine(i, nullptr, 0);
        if (len < 0) break;
        std::string line(static_cast<size_t>(len) + 1, '\0');
        ZISim_JournalLine(i, line.data(), static_cast<uint32_t>(line.size()));
        line.resize(static_cast<size_t>(len));
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SimBusTest::calls(const std::string& function)
{
    std::vector<std::string> out;
    for (auto& line : journal())
        if (line.rfind(function + "(", 0) == 0) out.push_back(line);
    return out;
}

void SimBusTest::writeDeviceNames(const std::string& contents)
{
    std::ofstream(mBundleDir + "/DeviceNames.plist", std::ios::binary) << contents;
}

std::vector<std::string> SimBusTest::logLines()
{
    std::lock_guard lock(mLogMutex);
    return mLog;
}

} // namespace orvatest
