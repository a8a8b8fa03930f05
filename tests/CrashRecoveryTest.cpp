// The command-line host recording in a child process that is killed (while recording
// or while finishing), hung up on, or finds what an earlier run left: the working
// movie is recovered with orva repair.
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
    }
    void TearDown() override { fs::remove_all(base); }

    // `orva --simulate ARGS...`.
    std::vector<std::string> orva(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {ORVA_CLI_PATH, "--simulate"});
        return args;
    }
    // The working file of a recording into `name` in the test's folder.
    fs::path workingFile(const std::string& name) const { return base / ("." + name + ".recording"); }
    int orvaRun(const std::vector<std::string>& args, std::map<std::string, std::string> environment = {})
    {
        return orvatest::run(orva(args), environment, (base / "out.txt").string(), (base / "err.txt").string());
    }
    static bool stopped(pid_t pid)
    {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
    }
    static bool holdsMedia(const fs::path& file)
    {
        std::error_code ec;
        return fs::file_size(file, ec) > 16384 && !ec; // the header and a first fragment
    }
    // Both tracks there, decoding without an error, ending together.
    static void expectWhole(const orvatest::ReadMovie& movie, double atLeast, const std::string& what)
    {
        ASSERT_TRUE(movie.video() && movie.audio()) << what;
        EXPECT_EQ(movie.video()->decodeErrors, 0) << what;
        EXPECT_TRUE(movie.logged.empty()) << what << ": " << movie.logged.front();
        EXPECT_GE(movie.video()->end, atLeast) << what;
        EXPECT_NEAR(movie.video()->end, movie.audio()->end, 0.2) << what << ": the writer interleaves both tracks";
    }
    fs::path base;
};

TEST_F(CrashRecovery, AKilledRecordingIsRepairedWhereItIsToWithinASecondOfItsEnd)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(1.5, 4.5);
    std::vector<fs::path> leftovers;
    for (int run = 0; run < 3; ++run) {
        const std::string name = "clip" + std::to_string(run) + ".mov";
        ChildProcess recorder(orva({"record", "--seconds", "600", "--video", "avc1:640x360", (base / name).string()}),
                              {}, (base / "record-out.txt").string(), (base / "record-err.txt").string());
        ASSERT_TRUE(recorder.started());
        // Media reaches the working file with the first fragment, a second in.
        ASSERT_TRUE(orvatest::waitUntil([&] { return holdsMedia(workingFile(name)); })) << readFile(base / "record-err.txt");
        const auto start = std::chrono::steady_clock::now();
        const double killAt = moment(random);
        ASSERT_TRUE(orvatest::waitUntil([&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= killAt;
        }));
        recorder.signal(SIGKILL);
        EXPECT_EQ(recorder.wait(), 128 + SIGKILL);
        EXPECT_FALSE(fs::exists(base / name)) << "a killed recording never reaches its destination";
        leftovers.push_back(workingFile(name));
    }

    // The next recording into the folder names what the killed ones left; one of its
    // own, held while it runs, is not named.
    ASSERT_EQ(orvaRun({"record", "--seconds", "0.3", "--audio", "none", (base / "after.mov").string()}), 0)
        << readFile(base / "err.txt");
    const std::string told = readFile(base / "err.txt");
    for (const auto& path : leftovers) EXPECT_NE(told.find(path.string()), std::string::npos) << told;
    EXPECT_NE(told.find("orva repair"), std::string::npos) << told;
    EXPECT_EQ(told.find("after.mov.recording"), std::string::npos) << told;

    // Repaired where it is: the working file becomes the movie it was meant to be.
    ASSERT_EQ(orvaRun({"repair", leftovers[0].string()}), 0) << readFile(base / "err.txt");
    EXPECT_FALSE(fs::exists(leftovers[0]));
    expectWhole(orvatest::readMovie((base / "clip0.mov").string()), 0.5, "repaired in place");
    // Made elsewhere: the working file stays as it was; never over a file unless asked.
    const fs::path taken = base / "occupied.mov";
    std::ofstream(taken) << "old";
    EXPECT_EQ(orvaRun({"repair", leftovers[1].string(), taken.string()}), 1);
    EXPECT_NE(readFile(base / "err.txt").find("-y"), std::string::npos);
    EXPECT_EQ(readFile(taken), "old");
    const auto before = fs::file_size(leftovers[1]);
    EXPECT_EQ(orvaRun({"repair", leftovers[1].string(), taken.string(), "-y"}), 0) << readFile(base / "err.txt");
    EXPECT_EQ(fs::file_size(leftovers[1]), before);
    expectWhole(orvatest::readMovie(taken.string()), 0.5, "repaired elsewhere");
    // A name taken beside it: the repaired movie gets another.
    std::ofstream(base / "clip2.mov") << "old";
    ASSERT_EQ(orvaRun({"repair", leftovers[2].string()}), 0) << readFile(base / "err.txt");
    EXPECT_EQ(readFile(base / "clip2.mov"), "old");
    expectWhole(orvatest::readMovie((base / "clip2-repaired.mov").string()), 0.5, "repaired beside");
}

TEST_F(CrashRecovery, AKillWhileFinishingLeavesAMovieOrOneRepairFinishes)
{
    // The recorder stops itself at a step of finishing (as a power loss could stop it)
    // and is killed there.
    for (const char* step : {"1", "2"}) {
        const std::string name = std::string("step") + step + ".mov";
        ChildProcess recorder(orva({"record", "--seconds", "2.5", (base / name).string()}),
                              {{"ORVA_TEST_STOP_WHILE_FINISHING", step}}, (base / "record-out.txt").string(),
                              (base / "record-err.txt").string());
        ASSERT_TRUE(recorder.started());
        ASSERT_TRUE(orvatest::waitUntil([&] { return stopped(recorder.pid()); })) << readFile(base / "record-err.txt");
        recorder.signal(SIGKILL);
        recorder.wait();
        ASSERT_TRUE(fs::exists(workingFile(name)));
        if (std::string(step) == "1") {
            // The index is written, the fragments untouched: a reader takes it as it is.
            expectWhole(orvatest::readMovie(workingFile(name).string()), 2.0, "index written");
        }
        ASSERT_EQ(orvaRun({"repair", workingFile(name).string()}), 0) << readFile(base / "err.txt");
        const auto movie = orvatest::readMovie((base / name).string());
        expectWhole(movie, 2.0, std::string("stopped at step ") + step);
        EXPECT_NEAR(movie.video()->end, 2.5, 0.15) << "nothing lost to the kill";
    }
}

TEST_F(CrashRecovery, AHangUpFinishesTheMovie)
{
    ChildProcess recorder(orva({"record", "--seconds", "600", "--audio", "none", (base / "hup.mov").string()}), {},
                          (base / "record-out.txt").string(), (base / "record-err.txt").string());
    ASSERT_TRUE(recorder.started());
    ASSERT_TRUE(orvatest::waitUntil([&] { return holdsMedia(workingFile("hup.mov")); }));
    recorder.signal(SIGHUP);
    recorder.wait();
    const auto movie = orvatest::readMovie((base / "hup.mov").string());
    ASSERT_TRUE(movie.video()) << readFile(base / "record-err.txt");
    EXPECT_EQ(movie.video()->decodeErrors, 0);
    EXPECT_FALSE(fs::exists(workingFile("hup.mov")));
}

} // namespace
