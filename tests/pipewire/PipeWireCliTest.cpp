// The orva command-line host on a PipeWire microphone, run as a person runs it (a
// child process, the system devices, no --simulate): it lists the microphone, meters
// the tone it plays, sets its volume and mute, captures it to WAV and records it into
// a movie; with no microphone it says so and uses the built-in virtual one.
#include "VirtualMicrophone.h"

#include "../ChildProcess.h"
#include "../MovieReader.h"
#include "../Wait.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using orvatest::VirtualMicrophone;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class OrvaOnPipeWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orva-pipewire-cli-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
    }
    void TearDown() override
    {
        // Only what this test made, in the folder it made.
        for (const char* name : {"out", "err", "tone.wav", "tone.mov"}) std::remove((folder + "/" + name).c_str());
        rmdir(folder.c_str());
    }
    // `orva ARGS...` on the system devices: its exit status; output and errors are kept.
    int orva(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), ORVA_CLI_PATH);
        const int status = orvatest::run(arguments, {{"TMPDIR", folder}}, folder + "/out", folder + "/err");
        output = readFile(folder + "/out");
        errors = readFile(folder + "/err");
        return status;
    }
    std::string trace() const { return "output:\n" + output + "errors:\n" + errors; }

    std::string folder, output, errors;
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

    ASSERT_EQ(orva({"devices", "--json"}), 0) << trace();
    EXPECT_NE(output.find("pipewire:cli-mic"), std::string::npos) << trace();

    // The meter moves with the tone: each channel's last level within 0.5 dB of it.
    ASSERT_EQ(orva({"meter", "--json", "--seconds", "2"}), 0) << trace();
    const std::string last = output.substr(output.rfind("{\"time\""));
    const auto levels = numbersOf(last, "level_db");
    ASSERT_EQ(levels.size(), 2u) << trace();
    EXPECT_NEAR(levels[0], VirtualMicrophone::leftLevelDb(), 0.5) << last;
    EXPECT_NEAR(levels[1], VirtualMicrophone::rightLevelDb(), 0.5) << last;

    // Volume and mute, set and read back from the node by separate commands.
    ASSERT_EQ(orva({"volume", "128"}), 0) << trace();
    EXPECT_NE(output.find("volume 128"), std::string::npos) << trace();
    ASSERT_EQ(orva({"volume"}), 0) << trace();
    EXPECT_NE(output.find("volume 128"), std::string::npos) << "the node keeps it: " << trace();
    ASSERT_EQ(orva({"mute", "on"}), 0) << trace();
    EXPECT_NE(output.find("mute on"), std::string::npos) << trace();
    ASSERT_EQ(orva({"mute", "off"}), 0) << trace();
    ASSERT_EQ(orva({"volume", "255"}), 0) << trace();

    // Captured to WAV: the tone at its level.
    ASSERT_EQ(orva({"capture-audio", "--seconds", "2", "--out", folder + "/tone.wav"}), 0) << trace();
    const std::string wav = readFile(folder + "/tone.wav");
    EXPECT_NEAR(wavLevelDb(wav, 0), VirtualMicrophone::leftLevelDb(), 0.5);
    EXPECT_NEAR(wavLevelDb(wav, 1), VirtualMicrophone::rightLevelDb(), 0.5);

    // Recorded with the built-in virtual camera (there is no camera here): the movie's
    // sound is the tone, the camera's absence is said.
    ASSERT_EQ(orva({"record", "--seconds", "2", folder + "/tone.mov"}), 0) << trace();
    EXPECT_NE(errors.find("no camera found"), std::string::npos) << trace();
    EXPECT_EQ(errors.find("no microphone found"), std::string::npos) << trace();
    const auto movie = orvatest::readMovie(folder + "/tone.mov");
    ASSERT_TRUE(movie.opened && movie.audio() && movie.video());
    const auto& peaks = movie.audio()->framePeaks;
    ASSERT_GT(peaks.size(), 40u); // 2 s of 1024-frame AAC packets is about 94
    int tone = 0;
    for (size_t i = peaks.size() / 2; i < peaks.size(); ++i)
        tone += std::fabs(peaks[i] - VirtualMicrophone::kLeftPeak) < 0.05;
    EXPECT_GE(tone, static_cast<int>(peaks.size() / 2) - 2) << "the second half of the sound is the tone";
}

TEST_F(OrvaOnPipeWire, AMicrophoneThatLeavesEndsTheMeterAndTheCaptureAtOnce)
{
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"meter", "--seconds", "60"},
          std::vector<std::string>{"capture-audio", "--seconds", "60", "--out", folder + "/tone.wav"}}) {
        VirtualMicrophone source({.name = "leaving-mic"});
        ASSERT_TRUE(source.ready());
        std::vector<std::string> arguments{ORVA_CLI_PATH};
        arguments.insert(arguments.end(), command.begin(), command.end());
        orvatest::ChildProcess child(arguments, {{"TMPDIR", folder}}, folder + "/out", folder + "/err");
        ASSERT_TRUE(child.started());
        // Under way once it has said what it does.
        ASSERT_TRUE(orvatest::waitUntil([&] { return readFile(folder + "/err").find("Ctrl-C") != std::string::npos; }));
        source.remove();
        EXPECT_EQ(child.wait(), 1) << "ended by the removal, long before its 60 s: " << readFile(folder + "/err");
        const std::string said = readFile(folder + "/err");
        EXPECT_TRUE(said.find("Microphone is gone") != std::string::npos ||
                    said.find("Microphone was unplugged") != std::string::npos)
            << said;
    }
    EXPECT_EQ(readFile(folder + "/tone.wav").compare(0, 4, "RIFF"), 0) << "what came before is kept";
}

TEST_F(OrvaOnPipeWire, WithoutAMicrophoneItSaysSoAndUsesTheVirtualOne)
{
    ASSERT_EQ(orva({"audio-formats"}), 0) << trace();
    EXPECT_NE(errors.find("no microphone found (orva doctor says why); using the built-in virtual microphone"),
              std::string::npos)
        << trace();
    EXPECT_NE(output.find("wave formats"), std::string::npos) << trace();

    ASSERT_EQ(orva({"doctor"}), 0) << trace();
    EXPECT_NE(output.find("PipeWire"), std::string::npos) << trace();
}

} // namespace
