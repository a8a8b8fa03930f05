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

#include "../ChildProcess.h"

#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

using orvatest::readFile;
using orvatest::UdevTestbed;

namespace {

std::map<std::string, std::string> scriptedCamera(const std::string& fault = "");

// The scripted camera goes into the child beside umockdev's preload (from
// umockdev-wrapper), which carries this test's testbed.
std::map<std::string, std::string> scriptedCamera(const std::string& fault)
{
    const char* preloaded = std::getenv("LD_PRELOAD");
    return {{"LD_PRELOAD", std::string(preloaded ? preloaded : "") + ":" + ORVA_SCRIPTED_CAMERA},
            {"ORVA_SCRIPTED_CAMERA_FAULT", fault}};
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
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
    EXPECT_NE(orva.output().find("2vuy   640x480     30 fps, 15 fps"), std::string::npos) << "YUYV, offered as 2vuy: " << orva.trace();
    EXPECT_NE(orva.output().find("2vuy   1280x720    29.97 fps, 15 fps"), std::string::npos)
        << "MJPEG, offered as 2vuy, its rates as the camera declares them: " << orva.trace();

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

TEST_F(OrvaOnASystemCamera, ChoosesTheCameraByEveryNameAPersonHasForIt)
{
    const std::string byId = testbed.addDevLink("v4l/by-id/usb-Orva_Webcam_SN0001-video-index0", "../../video0");
    for (const std::string choice : {"0", "Orva Webcam", "orva webcam", "/dev/video0", "/dev/video0;usb=1-4;serial=SN0001",
                                     "SN0001", byId.c_str()}) {
        EXPECT_EQ(orva.run({"formats", choice}), 0) << choice << ": " << orva.trace();
        EXPECT_TRUE(has(orva.output(), "Orva Webcam: 2 formats")) << choice << ": " << orva.trace();
    }
    // The same rule for --camera.
    EXPECT_EQ(orva.run({"controls", "--camera", "SN0001", "set", "brightness", "10"}), 0) << orva.trace();

    EXPECT_EQ(orva.run({"formats", "/dev/video7"}), 1);
    EXPECT_TRUE(has(orva.errors(), "no camera \"/dev/video7\"")) << orva.trace();
    EXPECT_TRUE(has(orva.errors(), "[0] Orva Webcam  /dev/video0;usb=1-4;serial=SN0001")) << "what there is: " << orva.trace();
}

TEST_F(OrvaOnASystemCamera, FrameRatesAreChosenAndPrintedAsTheCameraDeclaresThem)
{
    ASSERT_EQ(orva.run({"formats", "--json"}), 0) << orva.trace();
    EXPECT_TRUE(has(orva.output(), "\"frame_rates\": [\n        29.97,\n        15\n      ]")) << orva.trace();
    EXPECT_TRUE(has(orva.output(), "\"numerator\": 30000,\n          \"denominator\": 1001")) << "exact: " << orva.trace();

    ASSERT_EQ(orva.run({"capture", "--format", "2vuy:640x480@15", "--seconds", "1", "--json"}), 0) << orva.trace();
    EXPECT_TRUE(has(orva.output(), "\"fps\": 15")) << orva.trace();
    ASSERT_EQ(orva.run({"capture", "--format", "2vuy:1280x720", "--fps", "29.97", "--seconds", "1", "--json"}), 0)
        << orva.trace();
    EXPECT_TRUE(has(orva.output(), "\"fps\": 29.97")) << orva.trace();

    EXPECT_EQ(orva.run({"capture", "--format", "2vuy:640x480", "--fps", "24", "--seconds", "1"}), 1);
    EXPECT_TRUE(has(orva.errors(), "has no rate 24 fps for 2vuy:640x480; it has 30, 15")) << orva.trace();
    EXPECT_EQ(orva.run({"capture", "--format", "2vuy:640x480@fast"}), 2);
}

TEST_F(OrvaOnASystemCamera, MenuControlsTakeTheirLabelsAndOnlyTheValuesTheCameraHas)
{
    ASSERT_EQ(orva.run({"controls"}), 0) << orva.trace();
    EXPECT_TRUE(has(orva.output(), "anti-flicker        off     60hz     50hz     50hz  one of off, 50hz, 60hz"))
        << orva.trace();
    ASSERT_EQ(orva.run({"controls", "set", "anti-flicker", "60hz"}), 0) << orva.trace();
    EXPECT_TRUE(has(orva.output(), "anti-flicker is now 60hz")) << orva.trace();
    ASSERT_EQ(orva.run({"controls", "set", "anti-flicker", "0"}), 0) << "a menu's number: " << orva.trace();
    EXPECT_TRUE(has(orva.output(), "anti-flicker is now off")) << orva.trace();
    for (const char* wrong : {"-5", "auto", "3", "251"}) {
        EXPECT_EQ(orva.run({"controls", "set", "anti-flicker", wrong}), 2) << wrong << ": " << orva.trace();
        EXPECT_TRUE(has(orva.errors(), "anti-flicker is one of off (0), 50hz (1), 60hz (2)")) << orva.trace();
    }
    EXPECT_EQ(orva.run({"controls", "set", "contrast", "-1"}), 2) << "below the camera's range";
}

// Run beside a private PipeWire daemon (ctest starts it for this test alone): GStreamer's
// PipeWire source, as a desktop application takes a camera, watches the MJPEG camera
// Orva shares and receives its decoded picture.
TEST_F(OrvaOnASystemCamera, SharedOverPipeWireAViewerSeesItsPicture)
{
    if (!std::getenv("ORVA_TEST_PIPEWIRE_PID")) GTEST_SKIP() << "needs the PipeWire daemon ctest starts for it";
    auto sharing = orva.start({"share", "--format", "2vuy:1280x720"});
    std::smatch node;
    std::string said; // what node's matches point into
    ASSERT_TRUE(orvatest::waitUntil([&] {
        said = orva.errors();
        return std::regex_search(said, node, std::regex("PipeWire node [0-9]+ \"([a-z0-9-]+)\""));
    })) << orva.trace();

    const std::string frames = orva.path("viewed.uyvy");
    // Both ends are waited for at the usual patience: a viewer that never gets its
    // frames, or a share that does not end, fails the test with what they said.
    orvatest::ChildProcess viewer({"/usr/bin/gst-launch-1.0", "-q", "pipewiresrc", "target-object=" + node[1].str(),
                                   "num-buffers=5", "!", "video/x-raw,format=UYVY,width=1280,height=720", "!",
                                   "filesink", "location=" + frames},
                                  {}, orva.path("gst.out"), orva.path("gst.err"));
    ASSERT_TRUE(orvatest::waitUntil([&] { return viewer.ended(); }))
        << "the viewer got its frames: " << readFile(orva.path("gst.err")) << orva.trace();
    EXPECT_EQ(viewer.wait(), 0) << readFile(orva.path("gst.err")) << orva.trace();
    sharing->signal(SIGINT);
    ASSERT_TRUE(orvatest::waitUntil([&] { return sharing->ended(); })) << "Ctrl-C ends the share: " << orva.trace();
    EXPECT_EQ(sharing->wait(), 130) << orva.trace();

    // The camera's JPEGs, decoded: its loop of four pictures of moving bars, one of which
    // starts with the first bar's colour (a JPEG is near, not exact).
    const std::string pictures = readFile(frames);
    const size_t frameSize = 1280 * 720 * 2;
    ASSERT_EQ(pictures.size(), 5 * frameSize);
    bool firstBar = false;
    for (size_t at = 0; at < pictures.size(); at += frameSize)
        firstBar |= std::abs(static_cast<uint8_t>(pictures[at]) - 144) <= 4 && std::abs(static_cast<uint8_t>(pictures[at + 1]) - 16) <= 4;
    EXPECT_TRUE(firstBar);
}

TEST(OrvaOnAnUnusableCamera, SaysWhyAndNeverFallsBackToTheVirtualCamera)
{
    const struct {
        const char* fault;
        std::vector<std::string> command;
        const char* reason;
    } cases[] = {
        {"unreadable", {"devices"}, "/dev/video0: ZI Camera cannot be opened: Permission denied; join the group"},
        {"unreadable", {"capture", "--seconds", "1"}, "cannot be opened: Permission denied"},
        {"busy", {"capture", "--format", "2vuy:640x480", "--seconds", "1"},
         "Orva Webcam (/dev/video0) is in use by another program"},
        {"busy", {"record", "--video", "2vuy:640x480", "--audio", "none", "--seconds", "1", "busy.mov"},
         "is in use by another program"},
        {"unsupported", {"formats"}, "Orva Webcam (/dev/video0) offers no format Orva captures"},
        {"unsupported", {"capture", "--seconds", "1"}, "Orva Webcam has no format avc1:1280x720"},
    };
    for (const auto& c : cases) {
        UdevTestbed testbed;
        const std::string usb = testbed.addUsbCamera({});
        testbed.addNode("video0", usb);
        testbed.addNode("video1", usb);
        orvatest::OrvaCommand orva{scriptedCamera(c.fault)};
        EXPECT_EQ(orva.run(c.command), 1) << c.fault << ": " << orva.trace();
        EXPECT_TRUE(has(orva.errors(), c.reason)) << c.fault << ": " << orva.trace();
        EXPECT_FALSE(has(orva.errors() + orva.output(), "irtual")) << c.fault << ": never the virtual camera: " << orva.trace();
    }
}

} // namespace
