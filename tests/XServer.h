// A private X server for a test (Debian's Xvfb, Mesa's software OpenGL behind it),
// started on a free display and stopped by its pid when the object goes, also when
// the test fails half-way. Windows on it are found, sent keys (xdotool) and
// photographed (xwd, read here) as a person's desktop would be.
#pragma once

#include "ChildProcess.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvatest {

// A window's picture: 8-bit red, green, blue per pixel, rows from the top.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool empty() const { return rgb.empty(); }
    struct Colour {
        int r, g, b;
    };
    Colour at(int x, int y) const
    {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

class XServer {
public:
    // Starts Xvfb in `folder` (its output and the screenshots go there).
    explicit XServer(const std::string& folder);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return !mDisplay.empty(); }
    // ":N", for DISPLAY.
    const std::string& display() const { return mDisplay; }
    std::map<std::string, std::string> environment() const { return {{"DISPLAY", mDisplay}}; }
    // The id of the first window of process `pid` whose name contains `name`, once
    // there is one (a window of a process that has just ended may linger a moment).
    std::optional<std::string> waitForWindow(pid_t pid, const std::string& name);
    // Presses a key (an X key name: "r", "space", "Left", "question") in the window.
    bool key(const std::string& window, const std::string& keyName);
    // What the last tool run said on its standard error (why a key was not sent).
    std::string lastError() const;
    // The window's picture now (empty when it cannot be taken).
    Screenshot screenshot(const std::string& window);

private:
    int tool(const std::vector<std::string>& arguments, std::string* output = nullptr);

    std::string mFolder, mDisplay;
    std::unique_ptr<ChildProcess> mServer;
};

} // namespace orvatest
