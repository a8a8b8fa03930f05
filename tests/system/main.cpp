// The system tests need umockdev's preload (a mocked /sys and uevents for libudev):
// run outside it, the binary starts itself again under umockdev-wrapper.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
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
