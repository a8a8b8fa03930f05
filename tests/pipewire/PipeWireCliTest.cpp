// The orva command-line host on a PipeWire microphone, run as a person runs it (a
// child process, the system devices, no --simulate): it lists the microphone, meters
// the tone it plays, sets its volume and mute, captures it to WAV and records it into
// a movie; with no microphone it says so and uses the built-in virtual one.
#include "VideoConsumer.h"
#include "VirtualMicrophone.h"

#include "../ChildProcess.h"
#include "../MovieReader.h"
#include "../OrvaCommand.h"
#include "../Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

using orvatest::readFile;
using orvatest::VirtualMicrophone;

namespace {

class OrvaOnPipeWire : public ::testing::Test {
protected:
    orvatest::OrvaCommand orva;
};

// The numbers after `"key":` in a JSON text, in order.
std::vector<double> numbersOf(const std::string& json, const std::string& key)
{
    std::vector<double> numbers;
    const std::regex pattern("\"" + key + "\":\\s*(-?[0-9.eE+-]+)");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), pattern); it != std::sregex_iterator(); ++it)
        numbers.push_back(std::strtod((*it)[1].str().c_str(), nullptr));
    return numbers;
}

// RMS in dB full scale of one channel of a 16-bit stereo WAV file, over its second half.
double wavLevelDb(const std::string& wav, int channel)
{
    const size_t data = wav.find("data");
    if (wav.compare(0, 4, "RIFF") != 0 || data == std::string::npos || data + 8 > wav.size()) return -300;
    const size_t frames = (wav.size() - data - 8) / 4;
    double sum = 0;
    size_t n = 0;
    for (size_t i = frames / 2; i < frames; ++i, ++n) {
        int16_t sample;
        std::memcpy(&sample, wav.data() + data + 8 + i * 4 + channel * 2, 2);
        sum += (sample / 32768.0) * (sample / 32768.0);
    }
    return n ? 10 * std::log10(sum / n + 1e-30) : -300;
}

TEST_F(OrvaOnPipeWire, ListsMetersSetsCapturesAndRecordsTheMicrophone)
{
    // A node name of its own: WirePlumber remembers volumes per node name for the
    // daemon's life, and this test changes the volume.
    VirtualMicrophone source({.name = "cli-mic", .description = "Cli Mic"});
    ASSERT_TRUE(source.ready());

    ASSERT_EQ(orva.run({"devices", "--json"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("pipewire:cli-mic"), std::string::npos) << orva.trace();
    EXPECT_NE(orva.output().find("\"name\": \"Orva Webcam Microphone\""), std::string::npos)
        << "orva's table names the maker's product 0x08E5 (the library alone says \"Cli Mic\"): " << orva.trace();
    // Chosen by its PipeWire node name, its path's node and its serial number.
    for (const char* choice : {"cli-mic", "pipewire:cli-mic", "SN0001"}) {
        EXPECT_EQ(orva.run({"audio-formats", choice}), 0) << choice << ": " << orva.trace();
        EXPECT_NE(orva.output().find("lpcm:48000:2:16"), std::string::npos) << choice << ": " << orva.trace();
    }

    // The meter moves with the tone: each channel's last level within 0.5 dB of it.
    ASSERT_EQ(orva.run({"meter", "--json", "--seconds", "2"}), 0) << orva.trace();
    const std::string meter = orva.output();
    const std::string last = meter.substr(meter.rfind("{\"time\""));
    const auto levels = numbersOf(last, "level_db");
    ASSERT_EQ(levels.size(), 2u) << orva.trace();
    EXPECT_NEAR(levels[0], VirtualMicrophone::leftLevelDb(), 0.5) << last;
    EXPECT_NEAR(levels[1], VirtualMicrophone::rightLevelDb(), 0.5) << last;

    // Volume and mute, set and read back from the node by separate commands.
    ASSERT_EQ(orva.run({"volume", "128"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("volume 128"), std::string::npos) << orva.trace();
    ASSERT_EQ(orva.run({"volume"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("volume 128"), std::string::npos) << "the node keeps it: " << orva.trace();
    ASSERT_EQ(orva.run({"mute", "on"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("mute on"), std::string::npos) << orva.trace();
    ASSERT_EQ(orva.run({"mute", "off"}), 0) << orva.trace();
    ASSERT_EQ(orva.run({"volume", "255"}), 0) << orva.trace();

    // Captured to WAV: the tone at its level.
    ASSERT_EQ(orva.run({"capture-audio", "--seconds", "2", "--out", orva.path("tone.wav")}), 0) << orva.trace();
    const std::string wav = readFile(orva.path("tone.wav"));
    EXPECT_NEAR(wavLevelDb(wav, 0), VirtualMicrophone::leftLevelDb(), 0.5);
    EXPECT_NEAR(wavLevelDb(wav, 1), VirtualMicrophone::rightLevelDb(), 0.5);

    // Recorded with the built-in virtual camera (there is no camera here): the movie's
    // sound is the tone the source played, whole from its first loud sample to the
    // end, at its level; the camera's absence is said.
    ASSERT_EQ(orva.run({"record", "--seconds", "2", orva.path("tone.mov")}), 0) << orva.trace();
    EXPECT_NE(orva.errors().find("no camera found"), std::string::npos) << orva.trace();
    EXPECT_EQ(orva.errors().find("no microphone found"), std::string::npos) << orva.trace();
    const auto movie = orvatest::readMovie(orva.path("tone.mov"));
    ASSERT_TRUE(movie.opened && movie.audio() && movie.video());
    const auto& samples = movie.audio()->samples;
    size_t first = 0;
    while (first < samples.size() && std::fabs(samples[first]) < 0.05) ++first;
    ASSERT_LT(first, samples.size() / 2) << "the tone is there";
    // A 997 Hz sine obeys s[n] = 2 cos(w) s[n-1] - s[n-2]: a sample lost, repeated or
    // silenced on the way breaks it.
    const double k = 2 * std::cos(2 * M_PI * 997.0 / 48000);
    int breaks = 0;
    double peak = 0;
    for (size_t n = first + 2; n < samples.size(); ++n) {
        breaks += std::fabs(samples[n] - (k * samples[n - 1] - samples[n - 2])) > 0.01;
        peak = std::max(peak, static_cast<double>(std::fabs(samples[n])));
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (Timing is judged in the unsanitized build: a sanitized orva beside other tests
    // can fall behind the sound server.)
    EXPECT_LE(breaks, 4) << "the sound is the tone as it was played, without a gap";
#else
    (void)breaks;
#endif
    EXPECT_NEAR(peak, VirtualMicrophone::kLeftPeak, 0.01);
}

TEST_F(OrvaOnPipeWire, ARecordingSaysWhenTheMicrophoneFallsSilentAndCountsIt)
{
    VirtualMicrophone source({.name = "silent-mic", .description = "Silent Mic"});
    ASSERT_TRUE(source.ready());
    const pid_t daemon = static_cast<pid_t>(std::atoi(std::getenv("ORVA_TEST_PIPEWIRE_PID")));
    const auto child = orva.start({"record", "--seconds", "5", "--json", orva.path("silent.mov")});
    ASSERT_TRUE(child->started());
    ASSERT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("Ctrl-C") != std::string::npos; }));
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    const bool warned =
        orvatest::waitUntil([&] { return orva.errors().find("warning: no sound from") != std::string::npos; });
    ::kill(daemon, SIGCONT);
    EXPECT_TRUE(warned) << orva.errors();
    EXPECT_EQ(child->wait(), 0) << orva.trace();
    EXPECT_NE(orva.errors().find("is back"), std::string::npos) << orva.errors();
    // The JSON summary has the audio track's silence (here little or none: the daemon
    // catches up with what it owed once it runs again, and that sound is kept).
    const auto silence = numbersOf(orva.output(), "silence_seconds");
    ASSERT_EQ(silence.size(), 1u) << orva.output();
    EXPECT_GE(silence[0], 0.0);
}

TEST_F(OrvaOnPipeWire, AMicrophoneThatLeavesEndsTheMeterAndTheCaptureAtOnce)
{
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"meter", "--seconds", "60"},
          std::vector<std::string>{"capture-audio", "--seconds", "60", "--out", orva.path("tone.wav")}}) {
        VirtualMicrophone source({.name = "leaving-mic"});
        ASSERT_TRUE(source.ready());
        const auto child = orva.start(command);
        ASSERT_TRUE(child->started());
        // Under way once it has said what it does.
        ASSERT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("Ctrl-C") != std::string::npos; }));
        source.remove();
        EXPECT_EQ(child->wait(), 1) << "ended by the removal, long before its 60 s: " << orva.errors();
        const std::string said = orva.errors();
        EXPECT_TRUE(said.find("Microphone is gone") != std::string::npos ||
                    said.find("Microphone was unplugged") != std::string::npos)
            << said;
    }
    EXPECT_EQ(readFile(orva.path("tone.wav")).compare(0, 4, "RIFF"), 0) << "what came before is kept";
}

TEST_F(OrvaOnPipeWire, WithoutAMicrophoneItSaysSoAndUsesTheVirtualOne)
{
    ASSERT_EQ(orva.run({"audio-formats"}), 0) << orva.trace();
    EXPECT_NE(orva.errors().find("no microphone found (orva doctor says why); using the built-in virtual microphone"),
              std::string::npos)
        << orva.trace();
    EXPECT_NE(orva.output().find("wave formats"), std::string::npos) << orva.trace();

    ASSERT_EQ(orva.run({"doctor"}), 0) << orva.trace();
    EXPECT_NE(orva.output().find("PipeWire"), std::string::npos) << orva.trace();
}

TEST_F(OrvaOnPipeWire, SharesTheCameraAloneAndWhileRecording)
{
    // orva share: a viewer gets frames, its coming and going is said, Ctrl-C ends it.
    auto sharing = orva.start({"--simulate", "share", "--format", "2vuy:640x480", "--json"});
    std::smatch node;
    std::string said; // what node's matches point into
    ASSERT_TRUE(orvatest::waitUntil([&] {
        said = orva.errors();
        return std::regex_search(said, node, std::regex("PipeWire node ([0-9]+) \"([a-z0-9-]+)\""));
    })) << orva.trace();
    const double nodeID = std::stod(node[1].str());
    const std::string nodeName = node[2].str();
    // Another orva sees the camera shared, under that node.
    orvatest::OrvaCommand other;
    ASSERT_EQ(other.run({"--simulate", "devices", "--json"}), 0) << other.trace();
    EXPECT_EQ(numbersOf(other.output(), "shared_node"), std::vector<double>{nodeID}) << other.trace();
    {
        orvatest::VideoConsumer viewer(nodeName);
        ASSERT_TRUE(orvatest::waitUntil([&] { return viewer.frames() >= 15; })) << orva.trace();
        EXPECT_EQ(viewer.frame(5).size(), 640u * 480 * 2);
        EXPECT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("a consumer connected (1 watching)") != std::string::npos; }))
            << orva.trace();
    }
    EXPECT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("a consumer left (0 watching)") != std::string::npos; }))
        << orva.trace();
    sharing->signal(SIGINT);
    EXPECT_EQ(sharing->wait(), 130) << orva.trace();
    EXPECT_GT(numbersOf(orva.output(), "frames_shared").at(0), 10) << orva.trace();

    // orva record --share: the movie is whole, and a viewer watched it being made.
    auto recording = orva.start({"--simulate", "record", "--share", "--seconds", "6", "--video", "2vuy:640x480",
                                 "--audio", "none", "--json", orva.path("shared.mov")});
    ASSERT_TRUE(orvatest::waitUntil([&] { return orva.errors().find("while recording") != std::string::npos; }))
        << orva.trace();
    // The viewer is GStreamer's PipeWire source, as a desktop application takes a camera.
    const std::string frames = orva.path("viewed.uyvy");
    const int viewed = orvatest::run({"/usr/bin/gst-launch-1.0", "-q", "pipewiresrc", "target-object=" + nodeName,
                                      "num-buffers=10", "!", "video/x-raw,format=UYVY,width=640,height=480", "!",
                                      "filesink", "location=" + frames},
                                     {}, orva.path("gst.out"), orva.path("gst.err"));
    EXPECT_EQ(viewed, 0) << orvatest::readFile(orva.path("gst.err")) << orva.trace();
    const std::string picture = orvatest::readFile(frames);
    ASSERT_EQ(picture.size(), 10u * 640 * 480 * 2);
    // The test pattern's bars: the luma (every second byte of UYVY) varies across the first row.
    unsigned char darkest = 255, brightest = 0;
    for (size_t x = 1; x < 640 * 2; x += 2) {
        darkest = std::min(darkest, static_cast<unsigned char>(picture[x]));
        brightest = std::max(brightest, static_cast<unsigned char>(picture[x]));
    }
    EXPECT_GT(brightest - darkest, 100);
    EXPECT_EQ(recording->wait(), 0) << orva.trace();
    EXPECT_GE(numbersOf(orva.output(), "frames_shared").at(0), 10) << orva.trace();
    const auto movie = orvatest::readMovie(orva.path("shared.mov"));
    ASSERT_TRUE(movie.video()) << orva.trace();
    EXPECT_GE(movie.video()->pts.size() + 2, numbersOf(orva.output(), "video_frames_captured").at(0))
        << "every frame the recording was given is in the movie";
}

} // namespace
