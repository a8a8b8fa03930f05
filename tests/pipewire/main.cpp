// The PipeWire tests need a daemon of their own: run outside the fixture, the binary
// starts itself again under with-pipewire.sh, which starts one and stops it after.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (!std::getenv("ORVA_TEST_PIPEWIRE_PID")) {
        std::vector<char*> arguments{const_cast<char*>(ORVA_PIPEWIRE_FIXTURE)};
        arguments.insert(arguments.end(), argv, argv + argc);
        arguments.push_back(nullptr);
        execv(ORVA_PIPEWIRE_FIXTURE, arguments.data());
        perror("orva_pipewire_tests: " ORVA_PIPEWIRE_FIXTURE);
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
