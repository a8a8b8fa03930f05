#include "MovieReader.h"

#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "recording/AVAssetWriterAdapter.h"
#include "recording/H264SampleGenerator.h"
#include <orva/OrvaMovieCreator.h>
#include "recording/PCMAudioSampleGenerator.h"
#include "recording/UncompressedSampleGenerator.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace orva;
namespace fs = std::filesystem;

namespace {

class WriterAdapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemLog::setEchoToStandardError(false);
        dir = fs::temp_directory_path() / ("orva-adapter-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        path = (dir / "movie.mov").string();
    }
    void TearDown() override
    {
        AssetWriter::setWriteFunctionForTesting(nullptr);
        fs::remove_all(dir);
    }
    // Tiny 2vuy pictures, 33 ms apart.
    std::shared_ptr<SampleBuffer> picture(int i)
    {
        static const std::vector<uint8_t> bytes(16 * 16 * 2, 0x80);
        return pictures.CreateSample(bytes.data(), static_cast<uint32_t>(bytes.size()), static_cast<uint64_t>(i) * 33333);
    }
    fs::path dir;
    std::string path;
    UncompressedSampleGenerator pictures{16, 16, 30};
};

// The pull task moves queued samples into the file every few milliseconds; a recorder
// turns the run loop for half a second before closing for the same reason.
void letTheWriterDrain()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

std::vector<uint8_t> unit(std::vector<uint8_t> body)
{
    const auto n = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> out = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST_F(WriterAdapter, NeverTouchesWhatIsAtItsPathAndCompletesNothingWithoutSamples)
{
    // A file, and a link to a file elsewhere, where the movie would go: neither is
    // replaced, followed or removed; the writer fails to create its file instead.
    std::ofstream(path) << "old";
    const std::string victim = (dir / "victim").string(), link = (dir / "link.mov").string();
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, link);
    testing::internal::CaptureStdout();
    for (const std::string& taken : {path, link}) {
        UncompressedSampleGenerator frames(16, 16, 30);
        const std::vector<uint8_t> bytes(16 * 16 * 2, 0x80);
        AVAssetWriterAdapter adapter(taken, true, true);
        EXPECT_EQ(adapter.addVideoSample(frames.CreateSample(bytes.data(), 512, 0)), 0) << "the first starts the writer";
        EXPECT_EQ(adapter.addVideoSample(frames.CreateSample(bytes.data(), 512, 33333)),
                  OrvaMovieCreator::kErrorCannotCreateFile);
    }
    {
        AVAssetWriterAdapter adapter((dir / "fresh.mov").string(), true, true);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Starting writing [" + path + "] with audio = 0x", 0), 0u) << out;
    EXPECT_NE(out.find("Finished writing [" + path + "]\n"), std::string::npos);
    std::string text;
    std::ifstream(path) >> text;
    EXPECT_EQ(text, "old");
    std::ifstream(victim) >> text;
    EXPECT_EQ(text, "keep");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(dir / "fresh.mov")) << "no movie without a sample";
}

TEST_F(WriterAdapter, H264WaitsForAKeyFrameAndOtherVideoDoesNot)
{
    H264SampleGenerator h264(64, 64, 30);
    auto frame = [](std::vector<std::vector<uint8_t>> units) {
        std::vector<uint8_t> out;
        for (auto& u : units) out.insert(out.end(), u.begin(), u.end());
        return out;
    };
    const auto sps = unit({0x67, 0x42, 0xC0, 0x0A, 0xDA}), pps = unit({0x68, 0xCE, 0x3C, 0x80});
    auto withSets = frame({sps, pps, unit({0x41, 0x9A, 0x01})});
    auto slice = h264.CreateSample(withSets.data(), static_cast<uint32_t>(withSets.size()), 0);
    auto keyBytes = frame({unit({0x65, 0x88, 0x80})});
    auto key = h264.CreateSample(keyBytes.data(), static_cast<uint32_t>(keyBytes.size()), 33333);
    ASSERT_TRUE(slice && key);

    testing::internal::CaptureStdout();
    {
        AVAssetWriterAdapter adapter(path, true, false);
        EXPECT_EQ(adapter.addVideoSample(slice), 0);
        EXPECT_EQ(adapter.addVideoSample(key), 0);
        EXPECT_EQ(adapter.addVideoSample(slice), 0) << "taken once the key frame came";
        EXPECT_EQ(adapter.addAudioSample(key), 0) << "no audio track: ignored";
        letTheWriterDrain(); // finishing drops what is still queued, by design
    }
    const std::string out = testing::internal::GetCapturedStdout();
    size_t discarded = 0;
    for (size_t at = out.find("Samples are being discarded!!!\n"); at != std::string::npos;
         at = out.find("Samples are being discarded!!!\n", at + 1))
        ++discarded;
    EXPECT_EQ(discarded, 1u);
    const auto movie = orvatest::readFinishedMovie(path);
    ASSERT_TRUE(movie.opened);
    ASSERT_TRUE(movie.video());
    EXPECT_EQ(movie.video()->pts.size(), 2u);
    EXPECT_TRUE(movie.video()->keys[0]);
    EXPECT_FALSE(movie.video()->keys[1]);
    EXPECT_EQ(movie.video()->tag, "avc1");
    EXPECT_EQ(movie.video()->extradata.size(), 11u + 5 + 4) << "the avcC record";

    testing::internal::CaptureStdout();
    const std::string second = (dir / "second.mov").string();
    {
        AVAssetWriterAdapter adapter(second, true, false);
        EXPECT_EQ(adapter.addVideoSample(picture(0)), 0);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("discarded"), std::string::npos) << "2vuy is never held back";
    EXPECT_EQ(orvatest::readFinishedMovie(second).video()->tag, "2vuy");
}

TEST_F(WriterAdapter, AStalledWriterDropsTheSampleBeyondTheQueue)
{
    // The writer queue blocks in its first write until released.
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, released = false;
    AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
        std::unique_lock lock(m);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return released; });
        return ::write(fd, data, size);
    });
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        AVAssetWriterAdapter adapter(path, true, false);
        EXPECT_EQ(adapter.addVideoSample(picture(0)), 0);
        {
            std::unique_lock lock(m);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
        }
        for (int i = 1; i <= 301; ++i) EXPECT_EQ(adapter.addVideoSample(picture(i)), 0);
        EXPECT_EQ(adapter.droppedSamples(), 1u);
        {
            std::lock_guard lock(m);
            released = true;
        }
        cv.notify_all();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[FATAL] dropping packet!\n");
    testing::internal::GetCapturedStdout();
}

TEST_F(WriterAdapter, WriterFailuresBecomeMovieCreatorCodes)
{
    {
        std::vector<std::string> lines;
        const auto hook = SystemLog::addHook([&](const std::string& line) { lines.push_back(line); });
        AVAssetWriterAdapter adapter((dir / "missing-folder" / "x.mov").string(), true, false);
        EXPECT_EQ(adapter.addVideoSample(picture(0)), 0) << "the first sample starts the writer";
        EXPECT_EQ(adapter.addVideoSample(picture(1)), OrvaMovieCreator::kErrorCannotCreateFile);
        SystemLog::removeHook(hook);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("Asset writer failed [Error Code=-3000 ", 0), 0u) << lines.back();
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorDiskFull), -199);
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorCannotCreateFile), -198);
    }
    {
        AVAssetWriterAdapter adapter(path, true, false);
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorUnknown), -200)
            << "another failure with space left on the disk";
    }

    // A disk that fills after the header.
    std::atomic<size_t> written{0};
    AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
        if (written + size > 20000) {
            errno = ENOSPC;
            return -1;
        }
        written += size;
        return ::write(fd, data, size);
    });
    testing::internal::CaptureStdout();
    int32_t last = 0;
    {
        AVAssetWriterAdapter adapter(path, true, false);
        std::vector<uint8_t> big(320 * 240 * 2, 0x55);
        UncompressedSampleGenerator large(320, 240, 30);
        for (int i = 0; i < 200 && last == 0; ++i) {
            last = adapter.addVideoSample(large.CreateSample(big.data(), static_cast<uint32_t>(big.size()),
                                                              static_cast<uint64_t>(i) * 33333));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(last, OrvaMovieCreator::kErrorDiskFull);
}

TEST_F(WriterAdapter, MovieCreatorSharesOneBaseAndConvertsInPlace)
{
    auto creator = CreateMovieCreator(path.c_str());
    _OrvaVideoDescription video{16, 16, 0x32767579, 30};
    _OrvaAudioDescription audio{0x636D, 1, 16000, 16};
    testing::internal::CaptureStdout();
    ASSERT_EQ(creator->Open(&video, &audio), 0);
    std::vector<uint8_t> pcm(640, 0x01), picture(16 * 16 * 2, 0x80);
    EXPECT_EQ(creator->AddSampleToMovie(pcm.data(), 640, 5000000, OrvaMovieCreator::Audio), 0);
    // The camera's first frame, captured just before the microphone's first buffer,
    // starts the video track; a later frame from before the base is ignored.
    EXPECT_EQ(creator->AddSampleToMovie(picture.data(), 512, 4999999, OrvaMovieCreator::Video), 0);
    EXPECT_EQ(creator->AddSampleToMovie(picture.data(), 512, 4999998, OrvaMovieCreator::Video), 0);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(creator->AddSampleToMovie(picture.data(), 512, 5020000 + i * 33333, OrvaMovieCreator::Video), 0);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(creator->AddSampleToMovie(pcm.data(), 640, 5000000 + i * 20000, OrvaMovieCreator::Audio), 0);
    EXPECT_EQ(creator->AddSampleToMovie(pcm.data(), 640, 5300000, static_cast<OrvaMovieCreator::OrvaMediaType>(2)),
              OrvaMovieCreator::kErrorUnsupportedMediaType);
    letTheWriterDrain();
    EXPECT_EQ(creator->Close(), 0);
    std::vector<uint8_t> annexB = {0, 0, 0, 1, 0x65, 0x88};
    EXPECT_EQ(creator->AddSampleToMovie(annexB.data(), 6, 6000000, OrvaMovieCreator::Video), 0);
    EXPECT_EQ(annexB, (std::vector<uint8_t>{0, 0, 0, 1, 0x65, 0x88})) << "closed: the buffer is left alone";
    EXPECT_NE(testing::internal::GetCapturedStdout().find("*** Unsupported media type [2] -- ignoring data\n"),
              std::string::npos);

    const auto movie = orvatest::readFinishedMovie(path);
    ASSERT_TRUE(movie.video() && movie.audio());
    EXPECT_EQ(movie.video()->pts.size(), 11u);
    EXPECT_DOUBLE_EQ(movie.video()->pts[0], 0.0);
    EXPECT_DOUBLE_EQ(movie.audio()->start, 0.0) << "audio came first and set the base";
    EXPECT_EQ(movie.audio()->tag, "sowt");

    // An H.264 frame is converted in place even when the adapter discards it.
    auto h264 = CreateMovieCreator((dir / "h264.mov").string().c_str());
    _OrvaVideoDescription avc{64, 64, 0x61766331, 30};
    ASSERT_EQ(h264->Open(&avc, nullptr), 0);
    std::vector<uint8_t> frame = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x0A, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x41, 0x9A};
    EXPECT_EQ(h264->AddSampleToMovie(frame.data(), static_cast<uint32_t>(frame.size()), 1000, OrvaMovieCreator::Video), 0);
    EXPECT_EQ(frame[3], 4) << "now a length";
    EXPECT_EQ(h264->Close(), 0);
}

} // namespace

namespace {

TEST_F(WriterAdapter, TracksEndTogetherAndAnEmptyTrackIsLeftOut)
{
    testing::internal::CaptureStdout();
    {
        auto creator = CreateMovieCreator(path.c_str());
        _OrvaVideoDescription video{16, 16, 0x32767579, 30};
        _OrvaAudioDescription audio{0x636D, 1, 16000, 16};
        ASSERT_EQ(creator->Open(&video, &audio), 0);
        std::vector<uint8_t> pcm(320, 0x01), picture(16 * 16 * 2, 0x80); // 10 ms buffers
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(creator->AddSampleToMovie(picture.data(), 512, 1000000 + i * 33333, OrvaMovieCreator::Video), 0);
        for (int i = 0; i < 50; ++i) // audio runs on for 500 ms, past the last frame
            EXPECT_EQ(creator->AddSampleToMovie(pcm.data(), 320, 1000000 + i * 10000, OrvaMovieCreator::Audio), 0);
        letTheWriterDrain();
        EXPECT_EQ(creator->Close(), 0);
    }
    auto movie = orvatest::readFinishedMovie(path);
    ASSERT_TRUE(movie.video() && movie.audio());
    EXPECT_NEAR(movie.audio()->end, 0.5, 0.011);
    EXPECT_NEAR(movie.video()->end, movie.audio()->end, 0.011) << "the last frame is held to the audio's end";
    EXPECT_DOUBLE_EQ(movie.video()->durations.front(), 1.0 / 30) << "the other frames keep their 1/30 s";

    // An audio track that never gets a sample stays out of the movie.
    const std::string second = (dir / "second.mov").string();
    {
        auto creator = CreateMovieCreator(second.c_str());
        _OrvaVideoDescription video{16, 16, 0x32767579, 30};
        _OrvaAudioDescription silent{0x636D, 2, 48000, 16};
        ASSERT_EQ(creator->Open(&video, &silent), 0);
        std::vector<uint8_t> picture(16 * 16 * 2, 0x80);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(creator->AddSampleToMovie(picture.data(), 512, 1000000 + i * 33333, OrvaMovieCreator::Video), 0);
        letTheWriterDrain();
        EXPECT_EQ(creator->Close(), 0);
    }
    testing::internal::GetCapturedStdout();
    movie = orvatest::readFinishedMovie(second);
    ASSERT_EQ(movie.tracks.size(), 1u);
    EXPECT_EQ(movie.video()->pts.size(), 3u);
}

} // namespace
