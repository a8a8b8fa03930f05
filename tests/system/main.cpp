// The system tests need umockdev's preload (a mocked /sys and uevents for libudev):
// run outside it, the binary starts itself again under umockdev-wrapper. A test that
// shares a camera over PipeWire is run with ORVA_SYSTEM_TESTS_PIPEWIRE set: the binary
// then first starts itself beside a private PipeWire daemon (with-pipewire.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (std::getenv("ORVA_SYSTEM_TESTS_PIPEWIRE") && !std::getenv("ORVA_TEST_PIPEWIRE_PID")) {
        std::vector<char*> arguments{const_cast<char*>(ORVA_PIPEWIRE_FIXTURE)};
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        execv(ORVA_PIPEWIRE_FIXTURE, arguments.data());
        perror("orva_system_tests: " ORVA_PIPEWIRE_FIXTURE);
        return 1;
    }
    if (!std::getenv("ORVA_UMOCKDEV_STARTED")) {
        setenv("ORVA_UMOCKDEV_STARTED", "1", 1);
        // AddressSanitizer wants to be first among the preloaded libraries; here it cannot be.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        std::vector<char*> arguments{const_cast<char*>("umockdev-wrapper")};
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        execvp("umockdev-wrapper", arguments.data());
        perror("orva_system_tests: umockdev-wrapper");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
