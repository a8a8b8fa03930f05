// orva preview run as a person runs it, on a private X server: the window shows the
// virtual camera's picture, the microphone's level, REC while recording and the
// status image when there is no picture; keys sent to it record, save a snapshot,
// stop and start the camera and quit. What it shows is read back from the screen.
#include "MovieReader.h"
#include "OrvaCommand.h"
#include "Wait.h"
#include "XServer.h"

#include "platform/graphics/ImageReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

using orvatest::Screenshot;
namespace fs = std::filesystem;

namespace {

// The saturated colours of the test pattern's bars met along row `y`: each channel
// clearly on or off (black, white, red, green, blue, yellow, cyan, magenta).
std::set<int> barColours(const std::vector<uint8_t>& rgb, size_t stride, int width, int y)
{
    std::set<int> seen;
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = &rgb[static_cast<size_t>(y) * width * stride + x * stride];
        int code = 0;
        bool clear = true;
        for (int c = 0; c < 3; ++c) {
            if (p[c] > 200) code |= 1 << c;
            else if (p[c] > 50) clear = false;
        }
        if (clear) seen.insert(code);
    }
    return seen;
}

std::set<int> barColours(const Screenshot& shot)
{
    return barColours(shot.rgb, 3, shot.width, shot.height / 2);
}

// The level bars' lit length (green), summed over both channels.
int levelPixels(const Screenshot& shot)
{
    int lit = 0;
    for (int y = shot.height - 40; y < shot.height; ++y)
        for (int x = 0; x < 240; ++x) {
            const auto c = shot.at(x, y);
            if (c.g > 180 && c.r < 100 && c.b < 100) ++lit;
        }
    return lit;
}

std::string said(const orvatest::OrvaCommand& orva, const std::string& pattern)
{
    std::smatch match;
    const std::string errors = orva.errors();
    return std::regex_search(errors, match, std::regex(pattern)) ? match[1].str() : std::string();
}

class OrvaPreview : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(x.running()) << orvatest::readFile(orva.path("xvfb.err")); }
    void showsTheCameraLive(const char* format);
    // Presses a key that ends the preview and waits for its end (its exit status). The
    // window may be gone before the key's release is sent (xdotool then fails), so the
    // preview's own end says whether the key was taken; one never taken fails the
    // test at the usual patience instead of hanging it.
    int quitWith(const std::string& window, orvatest::ChildProcess& preview, const char* key)
    {
        (void)x.key(window, key);
        if (!orvatest::waitUntil([&] { return preview.ended(); })) return -1;
        return preview.wait();
    }

    orvatest::OrvaCommand orva{{}};
    orvatest::XServer x{orva.path("")};
};

// 2vuy drawn as it comes, H.264 decoded for the window.
TEST_F(OrvaPreview, ShowsTheCameraLiveAndItsKeysRecordSnapAndStopIt)
{
    for (const char* format : {"2vuy:640x480", "avc1:640x480"}) {
        SCOPED_TRACE(format);
        showsTheCameraLive(format);
    }
}

void OrvaPreview::showsTheCameraLive(const char* format)
{
    orvatest::OrvaCommand run(x.environment());
    auto preview = run.start({"--simulate", "preview", "--format", format, "--out", run.path("")});
    const auto window = x.waitForWindow(preview->pid(), "Orva preview");
    ASSERT_TRUE(window) << run.trace();

    // The camera's bars, and the microphone's level moving with its tone.
    Screenshot shot;
    ASSERT_TRUE(orvatest::waitUntil([&] { return barColours(shot = x.screenshot(*window)).size() >= 7; })) << run.trace();
    EXPECT_EQ(shot.width, 640);
    EXPECT_EQ(shot.height, 480);
    std::set<int> levels;
    EXPECT_TRUE(orvatest::waitUntil([&] {
        levels.insert(levelPixels(x.screenshot(*window)));
        return levels.size() >= 3;
    })) << "the bars move";

    // r records: REC in red at the top right.
    ASSERT_TRUE(x.key(*window, "r")) << x.lastError();
    ASSERT_TRUE(orvatest::waitUntil([&] { return !said(run, "Recording into (.*\\.mov)").empty(); })) << run.trace();
    EXPECT_TRUE(orvatest::waitUntil([&] {
        const auto rec = (shot = x.screenshot(*window)).empty() ? Screenshot::Colour{0, 0, 0} : shot.at(shot.width - 16, 24);
        return rec.r > 180 && rec.g < 80 && rec.b < 80;
    })) << "REC shows";

    // s saves the camera's picture itself, at its size.
    ASSERT_TRUE(x.key(*window, "s")) << x.lastError();
    ASSERT_TRUE(orvatest::waitUntil([&] { return !said(run, "Saved (.*\\.png)").empty(); })) << run.trace();
    const auto snapshot = orva::ImageReader::read(said(run, "Saved (.*\\.png)"));
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->width, 640);
    EXPECT_EQ(snapshot->height, 480);
    EXPECT_GE(barColours(snapshot->rgba, 4, snapshot->width, 240).size(), 7u);

    // r again once frames were written: the movie is finished, and plays.
    const auto working = fs::path(said(run, "Recording into (.*\\.mov)")).parent_path() /
                         ("." + fs::path(said(run, "Recording into (.*\\.mov)")).filename().string() + ".recording");
    ASSERT_TRUE(orvatest::waitUntil([&] {
        std::error_code ec;
        return fs::file_size(working, ec) > 200000 && !ec;
    })) << working;
    ASSERT_TRUE(x.key(*window, "r")) << x.lastError();
    ASSERT_TRUE(orvatest::waitUntil([&] { return !said(run, "Recorded (.*\\.mov)").empty(); })) << run.trace();
    const auto movie = orvatest::readMovie(said(run, "Recorded (.*\\.mov)"));
    ASSERT_TRUE(movie.opened && movie.video() && movie.audio()) << run.trace();
    EXPECT_GT(movie.video()->decoded, 0);
    EXPECT_EQ(movie.video()->decodeErrors, 0);

    // space stops the camera (the status image replaces the bars) and starts it again.
    ASSERT_TRUE(x.key(*window, "space")) << x.lastError();
    ASSERT_TRUE(orvatest::waitUntil([&] { return run.errors().find("Camera off") != std::string::npos; })) << run.trace();
    EXPECT_TRUE(orvatest::waitUntil([&] { return barColours(x.screenshot(*window)).size() <= 3; })) << "no bars";
    ASSERT_TRUE(x.key(*window, "space")) << x.lastError();
    EXPECT_TRUE(orvatest::waitUntil([&] { return barColours(x.screenshot(*window)).size() >= 7; })) << "the bars again";

    EXPECT_EQ(quitWith(*window, *preview, "q"), 0) << run.trace();
    EXPECT_NE(run.output().find("Showed "), std::string::npos) << run.trace();
}

TEST_F(OrvaPreview, AnUnpluggedCameraLeavesItsStatusImageAndNoDisplayIsAClearError)
{
    orvatest::OrvaCommand run(x.environment());
    auto preview = run.start({"--simulate", "preview", "--format", "avc1:640x480", "--out", run.path(""),
                              "--simulate-unplug", "1"});
    const auto window = x.waitForWindow(preview->pid(), "Orva preview");
    ASSERT_TRUE(window) << run.trace();
    ASSERT_TRUE(orvatest::waitUntil([&] { return run.errors().find("was unplugged") != std::string::npos; }))
        << run.trace();
    // The status image: the camera drawn white on dark, crossed out in cyan, none of
    // the bars' red, yellow or magenta.
    EXPECT_TRUE(orvatest::waitUntil([&] {
        const auto colours = barColours(x.screenshot(*window));
        return colours.count(7) && colours.count(6) && !colours.count(1) && !colours.count(3) && !colours.count(5);
    })) << run.trace();
    ASSERT_TRUE(x.key(*window, "r")) << x.lastError(); // nothing to record from
    EXPECT_EQ(quitWith(*window, *preview, "Escape"), 0) << run.trace();
    EXPECT_EQ(run.errors().find("Recording into"), std::string::npos) << run.trace();

    orvatest::OrvaCommand headless({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    EXPECT_EQ(headless.run({"--simulate", "preview"}), 1);
    EXPECT_NE(headless.errors().find("no display: set DISPLAY or WAYLAND_DISPLAY; `orva overlay` draws without one"),
              std::string::npos)
        << headless.trace();
}

} // namespace
