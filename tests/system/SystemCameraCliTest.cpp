// The orva command-line host on a system camera, run as a person runs it: a child
// process on the system devices (no --simulate) that sees this test's umockdev
// testbed (a USB camera of the maker) and, preloaded, the scripted UVC camera behind
// its device-file seam. What it prints and writes is checked: the listing, formats,
// a control, raw 2vuy frames from a YUYV node and from an MJPEG node, a movie, and
// what orva doctor says of each node.
#include "UdevTestbed.h"

#include "../MovieReader.h"
#include "../OrvaCommand.h"
#include "../Wait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using orvatest::readFile;
using orvatest::UdevTestbed;

namespace {

// The scripted camera goes into the child beside umockdev's preload (from
// umockdev-wrapper), which carries this test's testbed.
std::map<std::string, std::string> scriptedCamera()
{
    const char* preloaded = std::getenv("LD_PRELOAD");
    return {{"LD_PRELOAD", std::string(preloaded ? preloaded : "") + ":" + ORVA_SCRIPTED_CAMERA}};
}

class OrvaOnASystemCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The maker's camera on USB 1-4: its capture node and its metadata node.
        const std::string usb = testbed.addUsbCamera({});
        node = testbed.addNode("video0", usb);
        testbed.addNode("video1", usb);
    }

    UdevTestbed testbed;
    std::string node; // the capture node's syspath
    orvatest::OrvaCommand orva{scriptedCamera()};
};

TEST_F(OrvaOnASystemCamera, ListsFormatsControlsCapturesAndRecordsIt)
{
    ASSERT_EQ(orva.run({"devices", "--json"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("/dev/video0;usb=1-4;serial=SN0001"), std::string::npos) << orva.trace();
    EXPECT_EQ(orva.errors().find("no camera found"), std::string::npos) << orva.trace();

    ASSERT_EQ(orva.run({"formats"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("2vuy   640x480     30 fps"), std::string::npos) << "YUYV, offered as 2vuy: " << orva.trace();
    EXPECT_NE(orva.output().find("2vuy   1280x720    30 fps"), std::string::npos) << "MJPEG, offered as 2vuy: " << orva.trace();

    ASSERT_EQ(orva.run({"controls", "set", "brightness", "40"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("brightness is now 40"), std::string::npos) << orva.trace();
    EXPECT_EQ(orva.run({"controls", "set", "brightness", "90"}), 2) << "out of the camera's range -64 to 64";

    // YUYV frames reach the file as 2vuy: U Y0 V Y1, the first bar's luma.
    ASSERT_EQ(orva.run({"capture", "--format", "2vuy:640x480", "--seconds", "1", "--out", orva.path("yuyv.2vuy")}), 0)
        << orva.trace();
    const std::string yuyv = readFile(orva.path("yuyv.2vuy"));
    ASSERT_FALSE(yuyv.empty());
    EXPECT_EQ(yuyv.size() % (640 * 480 * 2), 0u);
    EXPECT_EQ(static_cast<uint8_t>(yuyv[0]), 144);
    EXPECT_EQ(static_cast<uint8_t>(yuyv[1]), 16);
    EXPECT_EQ(static_cast<uint8_t>(yuyv[2]), 112);

    // MJPEG frames are decoded to 2vuy (a JPEG is near, not exact).
    ASSERT_EQ(orva.run({"capture", "--format", "2vuy:1280x720", "--seconds", "1", "--out", orva.path("mjpeg.2vuy")}), 0)
        << orva.trace();
    const std::string mjpeg = readFile(orva.path("mjpeg.2vuy"));
    ASSERT_FALSE(mjpeg.empty());
    EXPECT_EQ(mjpeg.size() % (1280 * 720 * 2), 0u);
    EXPECT_NEAR(static_cast<uint8_t>(mjpeg[0]), 144, 4);
    EXPECT_NEAR(static_cast<uint8_t>(mjpeg[1]), 16, 4);

    // A movie of the camera that any player reads.
    ASSERT_EQ(orva.run({"record", "--video", "2vuy:640x480", "--audio", "none", "--seconds", "1", orva.path("clip.mov")}), 0)
        << orva.trace();
    const auto movie = orvatest::readMovie(orva.path("clip.mov"));
    ASSERT_TRUE(movie.opened && movie.video()) << orva.trace();
    EXPECT_EQ(movie.video()->tag, "2vuy");
    EXPECT_EQ(movie.video()->width, 640);
    EXPECT_GE(movie.video()->decoded, 10);
    EXPECT_EQ(movie.video()->decodeErrors, 0);

    ASSERT_EQ(orva.run({"doctor"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("listed as /dev/video0;usb=1-4;serial=SN0001"), std::string::npos) << orva.trace();
    EXPECT_NE(orva.output().find("/dev/video1"), std::string::npos) << orva.trace();
    EXPECT_NE(orva.output().find("does not capture video"), std::string::npos) << orva.trace();
}

TEST_F(OrvaOnASystemCamera, ACameraUnpluggedMidCaptureEndsItAtOnce)
{
    const auto child = orva.start({"capture", "--format", "2vuy:640x480", "--seconds", "60", "--out", orva.path("yuyv.2vuy")});
    ASSERT_TRUE(child->started());
    ASSERT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("Ctrl-C") != std::string::npos; }));
    testbed.uevent(node, "remove"); // reaches the child through the testbed it shares
    EXPECT_EQ(child->wait(), 1) << "ended by the removal, long before its 60 s";
    const std::string said = orva.errors();
    EXPECT_NE(said.find("Webcam was unplugged; what it sent before is kept"), std::string::npos) << said;
    EXPECT_EQ(said.find("no camera found"), std::string::npos) << "the system's camera, not the virtual one: " << said;
    EXPECT_EQ(readFile(orva.path("yuyv.2vuy")).size() % (640 * 480 * 2), 0u) << "whole frames only";
}

} // namespace
