#include "XServer.h"

#include "OrvaCommand.h"
#include "Wait.h"

#include <csignal>
#include <cstring>

namespace orvatest {

namespace {

uint32_t bigEndian(const std::string& bytes, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

} // namespace

XServer::XServer(const std::string& folder) : mFolder(folder)
{
    // Xvfb picks a free display and writes its number on the descriptor given; it does
    // not reset when its last client leaves (a new one connecting then would fail).
    mServer = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset"},
        std::map<std::string, std::string>{}, folder + "/xvfb.out", folder + "/xvfb.err");
    if (!mServer->started()) return;
    std::string number;
    (void)waitUntil([&] {
        number = readFile(folder + "/xvfb.out");
        return !number.empty() && number.back() == '\n';
    });
    if (!number.empty() && number.back() == '\n') mDisplay = ":" + number.substr(0, number.size() - 1);
}

XServer::~XServer()
{
    if (mServer && mServer->started()) {
        mServer->signal(SIGTERM);
        (void)mServer->wait();
    }
}

int XServer::tool(const std::vector<std::string>& arguments, std::string* output)
{
    const std::string out = mFolder + "/tool.out";
    const int status = run(arguments, environment(), out, mFolder + "/tool.err");
    if (output) *output = readFile(out);
    return status;
}

std::string XServer::lastError() const
{
    return readFile(mFolder + "/tool.err");
}

std::optional<std::string> XServer::waitForWindow(pid_t pid, const std::string& name)
{
    std::string found;
    const bool seen = waitUntil([&] {
        if (tool({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid), "--name", name}, &found) != 0)
            return false;
        return found.find('\n') != std::string::npos;
    });
    if (!seen) return std::nullopt;
    return found.substr(0, found.find('\n'));
}

bool XServer::key(const std::string& window, const std::string& keyName)
{
    // Typed into the focused window (through the X server's test extension, as a
    // keyboard types), not sent to it: SDL let about one in ten keys sent with
    // XSendEvent go unseen.
    return tool({"/usr/bin/xdotool", "windowfocus", "--sync", window, "key", keyName}) == 0;
}

Screenshot XServer::screenshot(const std::string& window)
{
    const std::string path = mFolder + "/window.xwd";
    if (tool({"/usr/bin/xwd", "-silent", "-id", window, "-out", path}) != 0) return {};
    // An X window dump: a header of big-endian 32-bit fields, the window's name,
    // the colour map, then the pixels (32 bits each on a 24-bit screen, BGRX).
    const std::string dump = readFile(path);
    if (dump.size() < 100) return {};
    const uint32_t headerSize = bigEndian(dump, 0), width = bigEndian(dump, 16), height = bigEndian(dump, 20);
    const uint32_t byteOrder = bigEndian(dump, 28), bitsPerPixel = bigEndian(dump, 44), bytesPerLine = bigEndian(dump, 48);
    const uint32_t colours = bigEndian(dump, 76);
    const size_t pixels = headerSize + size_t{colours} * 12;
    if (bitsPerPixel != 32 || byteOrder != 0 || pixels + size_t{bytesPerLine} * height > dump.size()) return {};
    Screenshot shot;
    shot.width = static_cast<int>(width);
    shot.height = static_cast<int>(height);
    shot.rgb.resize(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(dump.data()) + pixels + size_t{y} * bytesPerLine + x * 4;
            uint8_t* to = &shot.rgb[(size_t{y} * width + x) * 3];
            to[0] = p[2];
            to[1] = p[1];
            to[2] = p[0];
        }
    return shot;
}

} // namespace orvatest
