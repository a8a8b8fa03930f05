// Finishing a working movie in place, and repairing one a crash, a kill or a full disk
// left: through the real writer and read back with libavformat.
#include "MovieReader.h"
#include "Wait.h"

#include <orva/FormatDescription.h>
#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "platform/writer/FragmentedMovie.h"
#include "platform/writer/MovieFinisher.h"
#include "recording/OrvaMovieAssetCreator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace {

class MovieFinisherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        char pattern[] = "/tmp/orva-finish-XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override
    {
        AssetWriter::setWriteFunctionForTesting(nullptr);
        fs::remove_all(dir);
    }
    // Records `seconds` of 160x120 2vuy pictures at 30 fps and 16 kHz mono sound into
    // `path`; `during` runs after each second of media has been handed over.
    OrvaMovieStats record(const std::string& path, int seconds, const std::function<void(int)>& during = {})
    {
        testing::internal::CaptureStdout();
        auto creator = CreateMovieCreator(path.c_str());
        _OrvaVideoDescription video{160, 120, kCodec2VUY, 30, 333333};
        _OrvaAudioDescription audio{0x636D, 1, 16000, 16};
        EXPECT_EQ(creator->Open(&video, &audio), 0);
        std::vector<uint8_t> picture(160 * 120 * 2), sound(320);
        for (int ms = 0; ms < seconds * 1000; ms += 10) {
            for (size_t i = 0; i < sound.size(); i += 2) sound[i] = static_cast<uint8_t>((ms + i) * 7);
            (void)creator->AddSampleToMovie(sound.data(), 320, 1000000 + ms * 1000ull, OrvaMovieCreator::Audio);
            if (ms % 100 == 0 || ms % 100 == 30 || ms % 100 == 70) {
                std::fill(picture.begin(), picture.end(), static_cast<uint8_t>(ms / 10));
                (void)creator->AddSampleToMovie(picture.data(), static_cast<uint32_t>(picture.size()), 1000000 + ms * 1000ull,
                                                OrvaMovieCreator::Video);
            }
            if (ms % 1000 == 990 && during) {
                const auto* assets = dynamic_cast<const OrvaMovieAssetCreator*>(creator.get());
                EXPECT_TRUE(orvatest::waitUntil([&] { return assets->queuedSamples() == 0; }));
                during(ms / 1000);
            }
        }
        (void)creator->Close();
        testing::internal::GetCapturedStdout();
        return creator->movieStats();
    }
    // A copy of `from` cut to `size` bytes, finished in place.
    MovieFinisher::Result finishCopy(const std::string& from, const std::string& to, uint64_t size)
    {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::resize_file(to, size);
        const int fd = ::open(to.c_str(), O_RDWR | O_CLOEXEC);
        auto result = MovieFinisher::finishInPlace(fd);
        ::close(fd);
        return result;
    }
    fs::path dir;
};

void expectPlayable(const orvatest::ReadMovie& movie, double seconds, const std::string& what)
{
    ASSERT_TRUE(movie.opened) << what;
    ASSERT_TRUE(movie.video() && movie.audio()) << what;
    EXPECT_TRUE(movie.logged.empty()) << what << ": " << movie.logged.front();
    EXPECT_EQ(movie.video()->decodeErrors, 0) << what;
    EXPECT_NEAR(movie.video()->end, seconds, 0.05) << what;
    EXPECT_NEAR(movie.audio()->end, seconds, 0.05) << what;
}

TEST_F(MovieFinisherTest, FinishingWritesOnlyTheIndexAndEveryByteOnce)
{
    std::atomic<uint64_t> written{0};
    AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
        const long n = ::write(fd, data, size);
        if (n > 0) written += static_cast<uint64_t>(n);
        return n;
    });
    const std::string path = (dir / "movie.mov").string();
    const auto stats = record(path, 4);
    ASSERT_TRUE(stats.finished) << stats.problem;
    const auto size = fs::file_size(path);
    EXPECT_LE(static_cast<double>(written), 1.02 * static_cast<double>(size)) << "no media byte written twice";
    const auto movie = orvatest::readMovie(path);
    expectPlayable(movie, 4.0, "finished");
    EXPECT_EQ(movie.video()->pts.size(), 120u);
    EXPECT_NEAR(stats.seconds, movie.video()->end, 0.01) << "the length the recorder reports is what readers find";
    EXPECT_EQ(stats.videoDropped + stats.audioDropped, 0u);

    // Finishing a finished movie changes nothing.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    const auto again = MovieFinisher::finishInPlace(fd);
    ::close(fd);
    EXPECT_TRUE(again.ok && again.alreadyFinished);
    EXPECT_EQ(fs::file_size(path), size);
}

TEST_F(MovieFinisherTest, AWorkingFileCutAnywhereOrDamagedBecomesAMovieOfItsCompleteFragments)
{
    // What a crash leaves: the working file as it stood after three seconds.
    const std::string path = (dir / "movie.mov").string(), crashed = (dir / "crashed.mov").string();
    record(path, 4, [&](int second) {
        if (second == 2) fs::copy_file(path, crashed);
    });
    const uint64_t size = fs::file_size(crashed);
    std::vector<uint64_t> fragments; // where each complete fragment begins, and the end
    {
        const int fd = ::open(crashed.c_str(), O_RDONLY | O_CLOEXEC);
        const auto parsed = FragmentedMovie::read(fd, nullptr);
        ::close(fd);
        ASSERT_TRUE(parsed);
        fragments = parsed->fragments;
        fragments.push_back(parsed->completeEnd);
    }
    ASSERT_GE(fragments.size(), 3u) << "two whole fragments, a second each";
    const auto whole = finishCopy(crashed, (dir / "whole.mov").string(), size);
    ASSERT_TRUE(whole.ok) << whole.error;
    expectPlayable(orvatest::readMovie((dir / "whole.mov").string()), whole.seconds, "as the crash left it");
    EXPECT_NEAR(whole.seconds, static_cast<double>(fragments.size() - 1), 0.05);

    // Cut anywhere: a movie of the fragments before the cut, or a refusal with a reason
    // when not one sample is whole; never a movie that does not play.
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    std::vector<uint64_t> cuts = {0, 20, fragments[0], fragments[1] - 1, fragments[1], fragments[1] + 9, size - 1};
    for (int i = 0; i < 8; ++i) cuts.push_back(random() % size);
    for (uint64_t cut : cuts) {
        const std::string out = (dir / ("cut-" + std::to_string(cut) + ".mov")).string();
        const auto result = finishCopy(crashed, out, cut);
        const auto whole = static_cast<double>(std::count_if(fragments.begin() + 1, fragments.end(),
                                                             [&](uint64_t end) { return end <= cut; }));
        if (whole == 0) {
            EXPECT_FALSE(result.ok) << "cut at " << cut;
            EXPECT_FALSE(result.error.empty());
            continue;
        }
        ASSERT_TRUE(result.ok) << "cut at " << cut << ": " << result.error;
        EXPECT_NEAR(result.seconds, whole, 0.05) << "cut at " << cut << ": every whole fragment is kept";
        const auto movie = orvatest::readMovie(out);
        ASSERT_TRUE(movie.opened && movie.video()) << "cut at " << cut;
        EXPECT_TRUE(movie.logged.empty()) << "cut at " << cut << ": " << movie.logged.front();
        EXPECT_EQ(movie.video()->decodeErrors, 0) << "cut at " << cut;
        EXPECT_NEAR(movie.video()->end, result.seconds, 0.05) << "cut at " << cut;
    }
    // Only the header, no fragment: refused, with the reason.
    const auto header = finishCopy(crashed, (dir / "header.mov").string(), fragments[0]);
    EXPECT_FALSE(header.ok);
    EXPECT_NE(header.error.find("no complete sample"), std::string::npos) << header.error;

    // Damaged bytes in the fragments' descriptions: what is whole before them is kept.
    for (int i = 0; i < 8; ++i) {
        const std::string out = (dir / ("damaged-" + std::to_string(i) + ".mov")).string();
        fs::copy_file(crashed, out, fs::copy_options::overwrite_existing);
        {
            std::fstream f(out, std::ios::in | std::ios::out | std::ios::binary);
            for (int k = 0; k < 4; ++k) {
                f.seekp(static_cast<std::streamoff>(1400 + random() % (size - 1400)));
                f.put(static_cast<char>(random()));
            }
        }
        const int fd = ::open(out.c_str(), O_RDWR | O_CLOEXEC);
        const auto result = MovieFinisher::finishInPlace(fd);
        ::close(fd);
        if (!result.ok) continue;
        const auto movie = orvatest::readMovie(out);
        ASSERT_TRUE(movie.opened && movie.video()) << "damage " << i;
        EXPECT_NEAR(movie.video()->end, result.seconds, 0.05) << "damage " << i;
    }
}

TEST_F(MovieFinisherTest, ADiskFullAtAnyMomentLeavesAMovieOrAWorkingFileRepairFinishes)
{
    // The disk fills after `room` bytes: while recording, or while the index is
    // written at the end.
    const std::string probe = (dir / "probe.mov").string();
    record(probe, 3);
    const uint64_t full = fs::file_size(probe);
    for (double share : {0.2, 0.5, 0.9, 0.995, 0.999}) {
        const auto room = static_cast<uint64_t>(share * static_cast<double>(full));
        const std::string path = (dir / ("full-" + std::to_string(room) + ".mov")).string();
        std::atomic<uint64_t> written{0};
        AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
            if (written + size > room) {
                errno = ENOSPC;
                return -1;
            }
            written += size;
            return ::write(fd, data, size);
        });
        const auto stats = record(path, 3);
        AssetWriter::setWriteFunctionForTesting(nullptr);
        if (stats.nothingRecorded) {
            EXPECT_LT(room, full / 2) << share << ": only when the first second did not fit";
            EXPECT_NE(stats.problem.find("no complete sample"), std::string::npos) << share << ": " << stats.problem;
        } else if (stats.finished) {
            // What a reader finds is what the recorder says was kept.
            const auto movie = orvatest::readMovie(path);
            ASSERT_TRUE(movie.video() && movie.audio()) << share;
            EXPECT_EQ(movie.video()->decodeErrors, 0) << share;
            EXPECT_TRUE(movie.logged.empty()) << share << ": " << movie.logged.front();
            EXPECT_NEAR(movie.video()->end, stats.seconds, 0.05) << share;
            EXPECT_NEAR(movie.audio()->end, movie.video()->end, 0.2) << share << ": the sound is kept with the picture";
            EXPECT_GE(stats.seconds, share * 3 - 1.2) << share;
        } else {
            // No room for the index: the working movie is kept, and repair finishes it
            // once there is room.
            EXPECT_NE(stats.problem.find("no room"), std::string::npos) << share << ": " << stats.problem;
            const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            const auto repaired = MovieFinisher::finishInPlace(fd);
            ::close(fd);
            ASSERT_TRUE(repaired.ok) << share << ": " << repaired.error;
            EXPECT_TRUE(orvatest::readMovie(path).video()) << share;
        }
    }
}

} // namespace
