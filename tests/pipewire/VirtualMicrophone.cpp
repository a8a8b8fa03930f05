#include "VirtualMicrophone.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace orvatest {

namespace {

std::string runtimeDir()
{
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    return dir ? dir : "/tmp";
}

// The tone as a 16-bit stereo WAV of 60 s, written once per process.
std::string toneFile()
{
    static const std::string path = [] {
        const std::string file = runtimeDir() + "/orva-tone.wav";
        const uint32_t rate = 48000, frames = rate * 60, bytes = frames * 4;
        std::ofstream out(file, std::ios::binary);
        auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + bytes);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(2);
        u32(rate);
        u32(rate * 4);
        u16(4);
        u16(16);
        out.write("data", 4);
        u32(bytes);
        std::vector<int16_t> samples(size_t{frames} * 2);
        for (uint32_t i = 0; i < frames; ++i) {
            const double s = std::sin(2 * M_PI * 997.0 * i / rate);
            samples[2 * i] = static_cast<int16_t>(std::lround(s * VirtualMicrophone::kLeftPeak * 32767));
            samples[2 * i + 1] = static_cast<int16_t>(std::lround(s * VirtualMicrophone::kRightPeak * 32767));
        }
        out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(bytes));
        return file;
    }();
    return path;
}

pid_t spawn(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    std::ofstream(runtimeDir() + "/orva-test-pids", std::ios::app) << pid << "\n"; // for the fixture, should we die
    return pid;
}

void stop(pid_t& pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
}

template <typename Condition>
bool within(std::chrono::seconds limit, Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

double VirtualMicrophone::leftLevelDb()
{
    return 20 * std::log10(kLeftPeak / std::sqrt(2.0));
}

double VirtualMicrophone::rightLevelDb()
{
    return 20 * std::log10(kRightPeak / std::sqrt(2.0));
}

bool pipeWireHasNode(const std::string& name)
{
    FILE* listing = popen("pw-cli ls Node 2>/dev/null", "r");
    if (!listing) return false;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, listing)) > 0) text.append(chunk, n);
    pclose(listing);
    return text.find("node.name = \"" + name + "\"") != std::string::npos;
}

VirtualMicrophone::VirtualMicrophone(Options options) : mOptions(std::move(options))
{
    const std::string feed = mOptions.name + "-feed";
    std::string playback = "media.class=Audio/Source node.name=" + mOptions.name + " node.description=\"" +
                           mOptions.description + "\"";
    if (mOptions.usb) {
        char ids[96];
        std::snprintf(ids, sizeof ids, " device.vendor.id=0x%04x device.product.id=0x%04x", mOptions.vendorID,
                      mOptions.productID);
        playback += std::string(ids) + " device.bus=usb device.serial=" + mOptions.serial +
                    " device.sysfs.path=\"/devices/pci0000:00/0000:00:14.0/usb1/" + mOptions.bus + "/" + mOptions.bus +
                    ":1.2/sound/card2\"";
    }
    mLoopback = spawn({"pw-loopback", "-m", "[FL FR]", "--capture-props=media.class=Audio/Sink node.name=" + feed,
                       "--playback-props=" + playback});
    if (mLoopback <= 0 || !within(std::chrono::seconds(15), [&] { return pipeWireHasNode(feed); })) return;
    mPlayer = spawn({"pw-play", "--target", feed, toneFile()});
    mReady = mPlayer > 0 && within(std::chrono::seconds(15), [&] { return pipeWireHasNode(mOptions.name); });
}

VirtualMicrophone::~VirtualMicrophone()
{
    remove();
}

void VirtualMicrophone::remove()
{
    stop(mPlayer);
    stop(mLoopback);
}

} // namespace orvatest
