// Feeds arbitrary bytes, as a file, to the movie probe (`orva probe`, and what
// recording reads back): libavformat opens it as a file and the probe summarises the
// tracks. Nothing may crash, read out of bounds or hang.
#include "platform/writer/MovieProbe.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace orva;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // One file in a folder of this process's own, rewritten for each input.
    static const std::string path = [] {
        static char folder[] = "/tmp/orva-fuzz-movie-XXXXXX";
        if (!::mkdtemp(folder)) std::abort();
        std::atexit([] { // the file and the folder this process made, nothing else
            (void)std::remove((std::string(folder) + "/input.mov").c_str());
            (void)::rmdir(folder);
        });
        return std::string(folder) + "/input.mov";
    }();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size) (void)std::fwrite(data, 1, size, file);
    std::fclose(file);
    std::string error;
    if (const auto summary = MovieProbe::probe(path, &error)) (void)MovieProbe::describe(*summary);
    return 0;
}
