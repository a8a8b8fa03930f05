#include "MovieReader.h"
#include "Wait.h"

#include "platform/foundation/SystemLog.h"
#include "platform/writer/AssetWriter.h"
#include "recording/AACAudioSampleGenerator.h"
#include "recording/AVAssetWriterAdapter.h"
#include "recording/H264SampleGenerator.h"
#include <orva/OrvaMovieCreator.h>
#include <orva/OrvaStatus.h>
#include "recording/OrvaMovieAssetCreator.h"
#include "recording/PCMAudioSampleGenerator.h"
#include "recording/UncompressedSampleGenerator.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cerrno>
#include <cmath>
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

// Finishing drops what is still queued, by design: tests wait until the writer has
// taken every sample (a recorder turns the run loop for half a second instead).
void letTheWriterDrain(const AVAssetWriterAdapter& adapter)
{
    ASSERT_TRUE(orvatest::waitUntil([&] { return adapter.queuedSamples() == 0; }));
}
void letTheWriterDrain(const std::unique_ptr<OrvaMovieCreator>& creator)
{
    const auto* assets = dynamic_cast<const OrvaMovieAssetCreator*>(creator.get());
    ASSERT_TRUE(assets);
    ASSERT_TRUE(orvatest::waitUntil([&] { return assets->queuedSamples() == 0; }));
}

std::vector<uint8_t> unit(std::vector<uint8_t> body)
{
    const auto n = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> out(4 + body.size());
    out[0] = static_cast<uint8_t>(n >> 24);
    out[1] = static_cast<uint8_t>(n >> 16);
    out[2] = static_cast<uint8_t>(n >> 8);
    out[3] = static_cast<uint8_t>(n);
    std::copy(body.begin(), body.end(), out.begin() + 4);
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
        letTheWriterDrain(adapter);
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
            ASSERT_TRUE(cv.wait_for(lock, orvatest::kPatience, [&] { return entered; }));
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
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorDiskFull), kOrvaErrorDiskFull);
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorCannotCreateFile), kOrvaErrorCannotCreateFile);
    }
    {
        AVAssetWriterAdapter adapter(path, true, false);
        EXPECT_EQ(adapter.AVErrorToMovieCreatorError(AssetWriter::kErrorUnknown), kOrvaErrorWriterFailed)
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
    letTheWriterDrain(creator);
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
        letTheWriterDrain(creator);
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
        letTheWriterDrain(creator);
        EXPECT_EQ(creator->Close(), 0);
    }
    testing::internal::GetCapturedStdout();
    movie = orvatest::readFinishedMovie(second);
    ASSERT_EQ(movie.tracks.size(), 1u);
    EXPECT_EQ(movie.video()->pts.size(), 3u);
}

// Raw AAC packets of a stereo 1 kHz tone at half scale, 48 kHz, as a microphone
// that encodes delivers them (libavcodec's encoder; its priming packet included).
std::vector<std::vector<uint8_t>> aacTone(int packets)
{
    std::vector<std::vector<uint8_t>> out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return out;
    c->sample_rate = 48000;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->bit_rate = 128000;
    av_channel_layout_default(&c->ch_layout, 2);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (avcodec_open2(c, codec, nullptr) == 0) {
        frame->nb_samples = c->frame_size;
        frame->format = c->sample_fmt;
        av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
        frame->sample_rate = 48000;
        av_frame_get_buffer(frame, 0);
        int64_t n = 0;
        while (static_cast<int>(out.size()) < packets) {
            av_frame_make_writable(frame);
            for (int i = 0; i < frame->nb_samples; ++i, ++n)
                for (int ch = 0; ch < 2; ++ch)
                    reinterpret_cast<float*>(frame->data[ch])[i] = 0.5f * std::sin(2 * M_PI * 1000.0 * n / 48000.0);
            frame->pts = n - frame->nb_samples;
            if (avcodec_send_frame(c, frame) < 0) break;
            while (avcodec_receive_packet(c, packet) == 0) {
                out.emplace_back(packet->data, packet->data + packet->size);
                av_packet_unref(packet);
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return out;
}

TEST_F(WriterAdapter, AStereoAacGapDecodesToDigitalSilence)
{
    // 40 packets of tone, 20 packets' time with nothing, 40 more of tone.
    const auto tone = aacTone(80);
    ASSERT_EQ(tone.size(), 80u);
    constexpr double kPacket = 1024.0 / 48000;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        AVAssetWriterAdapter adapter(path, false, true);
        AACAudioSampleGenerator aac(48000, 2);
        for (int i = 0; i < 100; ++i) {
            if (i >= 40 && i < 60) continue;
            const auto& p = tone[static_cast<size_t>(i < 40 ? i : i - 20)];
            ASSERT_EQ(adapter.addAudioSample(aac.CreateSample(p.data(), static_cast<uint32_t>(p.size()),
                                                               static_cast<uint64_t>(std::llround(i * kPacket * 1e6)))),
                      0);
        }
        ASSERT_TRUE(orvatest::waitUntil([&] { return adapter.queuedSamples() == 0; }));
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();

    const auto movie = orvatest::readFinishedMovie(path);
    ASSERT_TRUE(movie.audio());
    const auto& audio = *movie.audio();
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.decodeErrors, 0);
    EXPECT_NEAR(audio.end, 100 * kPacket, 2 * kPacket) << "the gap keeps its length";
    int silent = 0, loud = 0;
    for (size_t k = 0; k < audio.framePts.size(); ++k) {
        const double t = audio.framePts[k];
        // Inside the gap, away from the tone's decoder overlap at either edge.
        if (t >= 42 * kPacket && t < 59 * kPacket) {
            EXPECT_EQ(audio.framePeaks[k], 0.0) << "noise where silence is due, at " << t << " s";
            ++silent;
        } else if ((t >= 5 * kPacket && t < 38 * kPacket) || (t >= 62 * kPacket && t < 95 * kPacket)) {
            EXPECT_GT(audio.framePeaks[k], 0.3) << "the tone at " << t << " s";
            ++loud;
        }
    }
    EXPECT_GE(silent, 15);
    EXPECT_GE(loud, 60);
}

TEST_F(WriterAdapter, AStalledWriterKeepsSoundAndPictureInStep)
{
    // The writer stalls in its first write until released, while 15 s of 10 ms sound
    // buffers and 30 fps pictures arrive: both queues overflow.
    std::mutex m;
    std::condition_variable cv;
    bool released = false;
    AssetWriter::setWriteFunctionForTesting([&](int fd, const void* data, size_t size) -> long {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return released; });
        return ::write(fd, data, size);
    });
    PCMAudioSampleGenerator sound(16000, 1, 16);
    const std::vector<uint8_t> buffer(320, 0x10), picture(512, 0x80);
    auto feed = [&](AVAssetWriterAdapter& adapter, int fromMs, int toMs) {
        for (int ms = fromMs; ms < toMs; ms += 10) {
            EXPECT_EQ(adapter.addAudioSample(sound.CreateSample(buffer.data(), 320, static_cast<uint64_t>(ms) * 1000)), 0);
            if ((ms / 10) % 10 == 0 || (ms / 10) % 10 == 3 || (ms / 10) % 10 == 7) { // 30 a second, in step
                EXPECT_EQ(adapter.addVideoSample(pictures.CreateSample(picture.data(), 512, static_cast<uint64_t>(ms) * 1000)),
                          0);
            }
        }
    };
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    uint64_t dropped = 0;
    {
        AVAssetWriterAdapter adapter(path, true, true);
        feed(adapter, 0, 15000);
        dropped = adapter.droppedSamples();
        {
            std::lock_guard lock(m);
            released = true;
        }
        cv.notify_all();
        ASSERT_TRUE(orvatest::waitUntil([&] { return adapter.queuedSamples() == 0; }));
        feed(adapter, 15000, 16000); // a second more once the writer has caught up
        ASSERT_TRUE(orvatest::waitUntil([&] { return adapter.queuedSamples() == 0; }));
        EXPECT_EQ(adapter.droppedSamples(), dropped) << "nothing lost once the writer keeps up";
    }
    testing::internal::GetCapturedStdout();
    // Said once per track and run of losses (how often the writer got a word in
    // between, and so how many runs there were, is the scheduler's), never per sample.
    const std::string said = testing::internal::GetCapturedStderr();
    size_t lines = 0;
    for (size_t at = 0; (at = said.find("[FATAL] dropping packet!\n", at)) != std::string::npos; at += 25) ++lines;
    EXPECT_EQ(said.size(), lines * 25) << said;
    EXPECT_GE(lines, 2u) << "both tracks lost samples";
    EXPECT_GT(dropped, 100u);
    EXPECT_LT(lines, dropped / 10) << "not a line per lost sample";

    std::string error;
    const auto movie = orvatest::readFinishedMovie(path, &error);
    ASSERT_TRUE(movie.video() && movie.audio()) << error << movie.tracks.size() << movie.opened;
    EXPECT_NEAR(movie.audio()->end, 16.0, 0.05) << "lost sound is silence of its length";
    EXPECT_NEAR(movie.video()->end, 16.0, 0.05);
    EXPECT_GT(*std::max_element(movie.video()->durations.begin(), movie.video()->durations.end()), 1.0)
        << "the frame before the lost ones lasts until the next";
}

} // namespace
