// The command-line host recording in a child process that is killed, hung up on, or
// finds what an earlier run left: the working movie is recovered with orva repair.
#include "ChildProcess.h"
#include "MovieReader.h"
#include "OrvaCommand.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;
using orvatest::ChildProcess;
using orvatest::readFile;

namespace {

class CrashRecovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orva-crash-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        base = pattern;
        fs::create_directories(base / "tmp");
    }
    void TearDown() override { fs::remove_all(base); }

    // `orva --simulate ARGS...`, its temporary folder under this test's.
    std::vector<std::string> orva(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {ORVA_CLI_PATH, "--simulate"});
        return args;
    }
    std::map<std::string, std::string> environment() const { return {{"TMPDIR", (base / "tmp").string()}}; }
    fs::path workingFile(pid_t pid, const std::string& name) const
    {
        return base / "tmp" / ("orva-" + std::to_string(::geteuid())) / std::to_string(pid) / name;
    }
    int orvaRun(const std::vector<std::string>& args)
    {
        return orvatest::run(orva(args), environment(), (base / "out.txt").string(), (base / "err.txt").string());
    }
    fs::path base;
};

TEST_F(CrashRecovery, AKilledRecordingIsRepairedToWithinASecondOfItsEnd)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(1.5, 4.5);
    std::vector<fs::path> leftovers;
    for (int run = 0; run < 3; ++run) {
        const std::string name = "clip" + std::to_string(run) + ".mov";
        ChildProcess recorder(orva({"record", "--seconds", "600", "--video", "avc1:640x360", (base / name).string()}),
                              environment(), (base / "record-out.txt").string(), (base / "record-err.txt").string());
        ASSERT_TRUE(recorder.started());
        const fs::path working = workingFile(recorder.pid(), name);
        // The working file appears with the first sample: the recording's start.
        ASSERT_TRUE(orvatest::waitUntil([&] { return fs::exists(working); })) << readFile(base / "record-err.txt");
        const auto start = std::chrono::steady_clock::now();
        const double killAt = moment(random);
        ASSERT_TRUE(orvatest::waitUntil([&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= killAt;
        }));
        recorder.signal(SIGKILL);
        EXPECT_EQ(recorder.wait(), 128 + SIGKILL);
        EXPECT_FALSE(fs::exists(base / name)) << "a killed recording never reaches its destination";

        const fs::path repaired = base / ("repaired" + std::to_string(run) + ".mov");
        ASSERT_EQ(orvaRun({"repair", working.string(), repaired.string()}), 0) << readFile(base / "err.txt");
        const auto movie = orvatest::readMovie(repaired.string());
        ASSERT_TRUE(movie.video() && movie.audio()) << "killed after " << killAt << " s";
        EXPECT_EQ(movie.video()->decodeErrors, 0);
        EXPECT_TRUE(movie.logged.empty()) << movie.logged.front();
        // The last second may be lost, and a loaded machine may lag a little more.
        EXPECT_GE(movie.video()->end, killAt - 2.0) << "killed after " << killAt << " s";
        EXPECT_NEAR(movie.video()->end, movie.audio()->end, 0.2);
        leftovers.push_back(working);
    }

    // The next recording names what the killed ones left.
    ASSERT_EQ(orvaRun({"record", "--seconds", "0.3", "--audio", "none", (base / "after.mov").string()}), 0)
        << readFile(base / "err.txt");
    const std::string told = readFile(base / "err.txt");
    for (const auto& path : leftovers) EXPECT_NE(told.find(path.string()), std::string::npos) << told;
    EXPECT_NE(told.find("orva repair"), std::string::npos) << told;

    // repair never replaces a file unless asked to.
    const fs::path taken = base / "occupied.mov";
    std::ofstream(taken) << "old";
    EXPECT_EQ(orvaRun({"repair", leftovers[1].string(), taken.string()}), 1);
    EXPECT_NE(readFile(base / "err.txt").find("-y"), std::string::npos);
    EXPECT_EQ(readFile(taken), "old");
    EXPECT_EQ(orvaRun({"repair", leftovers[1].string(), taken.string(), "-y"}), 0) << readFile(base / "err.txt");
    EXPECT_TRUE(orvatest::readMovie(taken.string()).video());
}

TEST_F(CrashRecovery, AHangUpFinishesTheMovie)
{
    ChildProcess recorder(orva({"record", "--seconds", "600", "--audio", "none", (base / "hup.mov").string()}),
                          environment(), (base / "record-out.txt").string(), (base / "record-err.txt").string());
    ASSERT_TRUE(recorder.started());
    ASSERT_TRUE(orvatest::waitUntil([&] { return fs::exists(workingFile(recorder.pid(), "hup.mov")); }));
    recorder.signal(SIGHUP);
    recorder.wait();
    const auto movie = orvatest::readMovie((base / "hup.mov").string());
    ASSERT_TRUE(movie.video()) << readFile(base / "record-err.txt");
    EXPECT_EQ(movie.video()->decodeErrors, 0);
    EXPECT_FALSE(fs::exists(workingFile(recorder.pid(), "hup.mov")));
}

} // namespace
