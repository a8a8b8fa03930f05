#include "platform/media/MediaTime.h"
#include "recording/AACAudioSampleGenerator.h"
#include "recording/H264SampleGenerator.h"
#include "recording/PCMAudioSampleGenerator.h"
#include "recording/UncompressedSampleGenerator.h"
#include "platform/media/PixelBufferPool.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace orva;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes unit(std::initializer_list<uint8_t> body)
{
    const auto n = static_cast<uint32_t>(body.size());
    Bytes out = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                 static_cast<uint8_t>(n)};
    for (uint8_t b : body) out.push_back(b); // (insert of a list trips GCC 12's bounds warning)
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kSPS = unit({0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x02});
const Bytes kPPS = unit({0x68, 0xCE, 0x3C, 0x80});
const Bytes kIDR = unit({0x65, 0x88, 0x84, 0x00});
const Bytes kSlice = unit({0x41, 0x9A, 0x02});
const Bytes kSEI = unit({0x06, 0x05, 0x01});

int64_t micros(const MediaTime& t)
{
    return MediaTime::convertScale(t, 1000000).value;
}

bool flag(const std::shared_ptr<SampleBuffer>& s, const char* key)
{
    const Value v = s->sampleAttachmentsIfPresent().get(key);
    return v.number() && v.number()->boolValue();
}

bool present(const std::shared_ptr<SampleBuffer>& s, const char* key)
{
    return !s->sampleAttachmentsIfPresent().get(key).isNull();
}

// Presentation times in 1/90000 s of frames captured at the given microsecond times,
// on the grid of a declared frame interval (100 ns units); -1 for a frame dropped.
std::vector<int64_t> placed(const std::vector<uint64_t>& captures, uint32_t interval = 333333, bool h264 = false)
{
    std::unique_ptr<VideoSampleGenerator> g;
    if (h264)
        g = std::make_unique<H264SampleGenerator>(640, 480, 30, interval);
    else
        g = std::make_unique<UncompressedSampleGenerator>(2, 2, 30, interval);
    std::vector<int64_t> out;
    for (uint64_t t : captures) {
        Bytes frame = h264 ? (out.empty() ? cat({kSPS, kPPS, kIDR}) : kSlice) : Bytes(8, 0x80);
        auto sample = g->CreateSample(frame.data(), static_cast<uint32_t>(frame.size()), t);
        if (!sample) {
            out.push_back(-1);
            continue;
        }
        EXPECT_EQ(sample->timing().presentationTimeStamp.timescale, 90000);
        EXPECT_FALSE(sample->timing().decodeTimeStamp.valid);
        out.push_back(sample->timing().presentationTimeStamp.value);
    }
    return out;
}

std::vector<uint64_t> steady(double fps, int frames, uint64_t start = 0)
{
    std::vector<uint64_t> t;
    for (int i = 0; i < frames; ++i) t.push_back(start + static_cast<uint64_t>(i * 1e6 / fps));
    return t;
}

// Every frame kept, each lasting whole periods (at least one), each at most `drift`
// ticks from its capture time (the grid keeps the camera's phase within half a period).
void expectOnTheGrid(const std::vector<int64_t>& pts, const std::vector<uint64_t>& captures, int64_t period,
                     int64_t drift, const char* what)
{
    ASSERT_EQ(pts.size(), captures.size()) << what;
    for (size_t i = 0; i < pts.size(); ++i) {
        ASSERT_GE(pts[i], 0) << what << ": frame " << i << " dropped";
        if (i == 0) continue;
        ASSERT_EQ(pts[i] % period, 0) << what << ": frame " << i << " off the grid";
        ASSERT_GE(pts[i] - pts[i - 1], period) << what << ": frame " << i << " closer than a period";
        const int64_t captured = static_cast<int64_t>(captures[i] * 9 / 100);
        ASSERT_LE(std::llabs(pts[i] - captured), drift) << what << ": frame " << i;
    }
}

TEST(VideoSampleGenerator, FramesKeepTheDeclaredGridThroughJitterGapsPausesAndRateChanges)
{
    struct Case {
        const char* what;
        std::vector<uint64_t> captures;
        uint32_t interval;
    };
    std::vector<Case> cases;
    cases.push_back({"steady 30 fps", steady(30, 300), 333333});
    cases.push_back({"steady 15 fps", steady(15, 150), 666667});
    cases.push_back({"steady 29.97 fps", steady(30000.0 / 1001, 300), 333667});
    cases.push_back({"a 29.97 fps camera declared as 30", steady(30000.0 / 1001, 1200), 333333});
    for (uint64_t jitter : {2000u, 10000u}) {
        auto t = steady(30, 300, 20000);
        for (size_t i = 0; i < t.size(); ++i) t[i] += (i * 7919 % 3) * jitter / 2 - jitter / 2; // -j, 0, +j
        cases.push_back({jitter == 2000 ? "2 ms jitter" : "10 ms jitter", t, 333333});
    }
    for (int missing : {1, 5}) {
        auto t = steady(30, 120);
        t.erase(t.begin() + 20, t.begin() + 20 + missing);
        cases.push_back({missing == 1 ? "one missing frame" : "five missing frames", t, 333333});
    }
    for (uint64_t pause : {200000u, 3000000u}) {
        auto t = steady(30, 60);
        for (uint64_t u : steady(30, 60, t.back() + 33333 + pause)) t.push_back(u);
        cases.push_back({pause == 200000 ? "a 200 ms pause" : "a 3 s pause", t, 333333});
    }
    { // auto exposure halves the rate for two seconds in the dark
        auto t = steady(30, 60);
        for (uint64_t u : steady(15, 30, t.back() + 66667)) t.push_back(u);
        for (uint64_t u : steady(30, 60, t.back() + 33333)) t.push_back(u);
        cases.push_back({"15 fps for 2 s", t, 333333});
    }
    { // frames delivered late in a burst keep their capture times
        cases.push_back({"a burst of late frames", steady(30, 120), 333333});
    }
    for (const auto& c : cases) {
        const int64_t period = VideoSampleGenerator::periodOf(c.interval, 30);
        expectOnTheGrid(placed(c.captures, c.interval), c.captures, period, period + 1, c.what);
        expectOnTheGrid(placed(c.captures, c.interval, true), c.captures, period, period + 1, c.what);
    }
    // Jitter under half a period never shows: every frame lasts one period (but the
    // first, which also covers the movie's start before the camera's first frame).
    for (size_t k = 4; k <= 5; ++k) {
        const auto pts = placed(cases[k].captures);
        for (size_t i = 2; i < pts.size(); ++i) ASSERT_EQ(pts[i] - pts[i - 1], 3000) << cases[k].what << " " << i;
    }
    // Steady frames are one period apart exactly: 3000, 6000 and 3003 ticks.
    EXPECT_EQ(placed(steady(30, 3))[2], 6000);
    EXPECT_EQ(placed(steady(15, 3), 666667)[2], 12000);
    EXPECT_EQ(placed(steady(30000.0 / 1001, 3), 333667)[2], 6006);
}

TEST(VideoSampleGenerator, FramesStampedTooCloseRunAheadButUncompressedOnesAreDroppedToComeBack)
{
    // Five frames stamped together (a driver that stamped them when they arrived):
    // H.264 frames are all kept, a period apart, and run ahead of their times.
    auto captures = steady(30, 30);
    for (int i = 0; i < 5; ++i) captures.push_back(captures.back() + 170000 * (i == 0));
    for (uint64_t u : steady(30, 30, captures.back() + 33333)) captures.push_back(u);
    const auto h264 = placed(captures, 333333, true);
    expectOnTheGrid(h264, captures, 3000, 5 * 3000, "H.264");
    // A camera a little faster than declared: uncompressed frames are dropped rather
    // than run more than three periods ahead; H.264 frames never.
    const auto fast = steady(30.3, 600);
    const auto pictures = placed(fast);
    const auto dropped = std::count(pictures.begin(), pictures.end(), -1);
    EXPECT_GE(dropped, 3);
    EXPECT_LE(dropped, 8);
    for (size_t i = 0; i < fast.size(); ++i)
        if (pictures[i] >= 0) {
            ASSERT_LE(pictures[i] - static_cast<int64_t>(fast[i] * 9 / 100), 4 * 3000) << i;
        }
    const auto kept = placed(fast, 333333, true);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), -1), 0);

    // Out of order is dropped and changes nothing; an equal time is accepted.
    UncompressedSampleGenerator g(2, 2, 30);
    const Bytes frame(8, 0);
    ASSERT_TRUE(g.CreateSample(frame.data(), 8, 0));
    ASSERT_TRUE(g.CreateSample(frame.data(), 8, 33333));
    EXPECT_FALSE(g.CreateSample(frame.data(), 8, 20000));
    EXPECT_TRUE(g.CreateSample(frame.data(), 8, 33333));
}

TEST(VideoSampleGenerator, FirstSampleStartsTheMovie)
{
    UncompressedSampleGenerator late(2, 2, 30);
    const Bytes frame(8, 0);
    auto a = late.CreateSample(frame.data(), 8, 500000);
    EXPECT_EQ(a->timing().presentationTimeStamp.value, 0);
    EXPECT_EQ(a->timing().duration.value, 3000);
    auto b = late.CreateSample(frame.data(), 8, 533333);
    EXPECT_EQ(b->timing().presentationTimeStamp.value, 48000) << "its capture time, in step with the audio";
}

TEST(VideoSampleGenerator, H264SamplesHoldOnlyPictureUnits)
{
    H264SampleGenerator g(640, 480, 30);
    const Bytes noPps = cat({kSPS, kSlice});
    EXPECT_FALSE(g.CreateSample(noPps.data(), static_cast<uint32_t>(noPps.size()), 0)) << "no PPS yet";
    const Bytes ppsAndSlice = cat({kPPS, kSEI, kSlice});
    auto first = g.CreateSample(ppsAndSlice.data(), static_cast<uint32_t>(ppsAndSlice.size()), 33333);
    ASSERT_TRUE(first) << "sets from two frames complete the description";
    EXPECT_EQ(micros(first->timing().presentationTimeStamp), 0);
    EXPECT_EQ(Bytes(first->bytes(), first->bytes() + first->totalSampleSize()), kSlice) << "SEI and PPS left out";
    EXPECT_TRUE(flag(first, kSampleAttachmentKey_DependsOnOthers));
    EXPECT_TRUE(flag(first, kSampleAttachmentKey_NotSync));
    EXPECT_TRUE(flag(first, kSampleAttachmentKey_DoNotDisplay));

    const auto& avcC = g.formatDescription()->extensions().avcC;
    ASSERT_EQ(avcC.size(), 11u + 6 + 4);
    EXPECT_EQ(avcC[1], 0x42);
    EXPECT_EQ(g.formatDescription()->mediaSubType(), 0x61766331u);

    const Bytes key = cat({kSPS, kPPS, kIDR});
    auto idr = g.CreateSample(key.data(), static_cast<uint32_t>(key.size()), 66666);
    ASSERT_TRUE(idr);
    EXPECT_EQ(Bytes(idr->bytes(), idr->bytes() + idr->totalSampleSize()), kIDR);
    EXPECT_FALSE(flag(idr, kSampleAttachmentKey_DependsOnOthers));
    EXPECT_TRUE(present(idr, kSampleAttachmentKey_DependsOnOthers));
    EXPECT_TRUE(flag(idr, kSampleAttachmentKey_DoNotDisplay));
    EXPECT_FALSE(present(idr, kSampleAttachmentKey_NotSync));

    EXPECT_FALSE(g.CreateSample(kSEI.data(), static_cast<uint32_t>(kSEI.size()), 99999)) << "no picture units";
    // A unit whose length runs past the frame ends the walk without reading beyond.
    Bytes broken = cat({kSlice, {0x00, 0x00, 0x10, 0x00, 0x41}});
    auto partial = g.CreateSample(broken.data(), static_cast<uint32_t>(broken.size()), 133333);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->totalSampleSize(), kSlice.size());
}

TEST(VideoSampleGenerator, UncompressedCopiesRowsAndDeclaresTheirSize)
{
    UncompressedSampleGenerator g(640, 480, 30);
    EXPECT_EQ(g.formatDescription()->extensions().bytesPerRow, 1280);
    EXPECT_EQ(g.formatDescription()->mediaSubType(), 0x32767579u);
    Bytes frame(640 * 480 * 2, 0x10);
    auto s = g.CreateSample(frame.data(), static_cast<uint32_t>(frame.size()), 0);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->imageBuffer());
    EXPECT_EQ(s->imageBuffer()->bytesPerRow(), 1280u);
    EXPECT_FALSE(flag(s, kSampleAttachmentKey_DependsOnOthers));
    // A short frame fills what it has; a long one is cut to the picture.
    Bytes shortFrame(100, 0x20), longFrame(640 * 480 * 3, 0x30);
    EXPECT_TRUE(g.CreateSample(shortFrame.data(), 100, 33333));
    auto cut = g.CreateSample(longFrame.data(), static_cast<uint32_t>(longFrame.size()), 66666);
    EXPECT_EQ(cut->totalSampleSize(), 640u * 480 * 2);
}

TEST(VideoSampleGenerator, UncompressedPicturesAreUsedAgainAndClearedWhereAFrameIsShort)
{
    UncompressedSampleGenerator g(64, 8, 30);
    Bytes full(64 * 8 * 2, 0x55), shortFrame(10, 0x66);
    auto first = g.CreateSample(full.data(), static_cast<uint32_t>(full.size()), 0);
    ASSERT_TRUE(first);
    const uint8_t* memory = first->imageBuffer()->data();
    first.reset(); // the writer is done with it

    auto second = g.CreateSample(shortFrame.data(), 10, 33333);
    ASSERT_TRUE(second);
    const auto& picture = *second->imageBuffer();
    EXPECT_EQ(picture.data(), memory);
    EXPECT_EQ(picture.data()[9], 0x66);
    for (size_t i = 10; i < picture.dataSize(); ++i) ASSERT_EQ(picture.data()[i], 0) << "byte " << i;
}

TEST(PixelBufferPool, KeepsAtMostItsCapacityAndOutlivesItsOwner)
{
    auto pool = PixelBufferPool::create(32, 4, kCodec2VUY, 2);
    ASSERT_TRUE(pool);
    EXPECT_FALSE(PixelBufferPool::create(0, 4, kCodec2VUY));
    std::vector<std::shared_ptr<PixelBuffer>> inFlight;
    for (int i = 0; i < 5; ++i) inFlight.push_back(pool->createPixelBuffer());
    for (const auto& p : inFlight) ASSERT_TRUE(p);
    std::weak_ptr<PixelBufferPool> watch = pool;
    pool.reset(); // its owner ends; pictures still out keep it
    ASSERT_FALSE(watch.expired());
    // Released from several threads at once, as writers and capture threads do.
    std::thread a([&] { inFlight[0].reset(); inFlight[1].reset(); });
    std::thread b([&] { inFlight[2].reset(); inFlight[3].reset(); });
    a.join();
    b.join();
    EXPECT_EQ(watch.lock()->idleCount(), 2u);
    inFlight.clear();
    EXPECT_TRUE(watch.expired());
}

TEST(AudioSampleGenerator, PcmKeepsToTheCaptureClock)
{
    PCMAudioSampleGenerator g(16000, 1, 16);
    const auto& d = g.formatDescription()->streamBasicDescription();
    EXPECT_EQ(d.mFormatID, kAudioFormatIDLinearPCM);
    EXPECT_EQ(d.mFormatFlags, 0xCu);
    EXPECT_EQ(d.mBytesPerFrame, 2u);
    const Bytes buffer(640, 0x11); // 320 frames, 20 ms
    std::vector<int64_t> times;
    testing::internal::CaptureStdout();
    for (uint64_t t : {0u, 20000u, 40000u}) times.push_back(micros(g.CreateSample(buffer.data(), 640, t)->timing().presentationTimeStamp));
    EXPECT_EQ(times, (std::vector<int64_t>{0, 20000, 40000}));

    auto filled = g.CreateSample(buffer.data(), 640, 105000); // 45 ms late: two buffers of silence
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[WARNING]: Inserting 2 silence packets!!!\n");
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->numSamples(), 960);
    EXPECT_EQ(micros(filled->timing().presentationTimeStamp), 60000);
    const uint8_t* bytes = filled->bytes();
    EXPECT_EQ(std::count(bytes, bytes + 1280, 0), 1280);
    EXPECT_EQ(std::count(bytes + 1280, bytes + 1920, 0x11), 640);

    auto absorbed = g.CreateSample(buffer.data(), 640, 130000); // next is 120,000: less than a buffer late
    EXPECT_EQ(micros(absorbed->timing().presentationTimeStamp), 120000);
    EXPECT_EQ(absorbed->numSamples(), 320);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(g.CreateSample(buffer.data(), 640, 129999));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[WARNING]: Dropping out of order audio packet [last = 130000, pts = 129999]\n");

    PCMAudioSampleGenerator late(16000, 1, 16);
    EXPECT_EQ(micros(late.CreateSample(buffer.data(), 640, 250000)->timing().presentationTimeStamp), 250000);
}

TEST(AudioSampleGenerator, AacPlacesPacketsAndFillsGapsWithSilentPackets)
{
    AACAudioSampleGenerator g(48000, 2);
    const auto& d = g.formatDescription()->streamBasicDescription();
    EXPECT_EQ(d.mFormatID, kAudioFormatIDMPEG4AAC);
    EXPECT_EQ(d.mFramesPerPacket, 1024u);
    const Bytes packet(200, 0x21);
    auto first = g.CreateSample(packet.data(), 200, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->timing().presentationTimeStamp, MediaTime::make(0, 48000));
    EXPECT_EQ(MediaTime::fromDictionary(first->attachment(kSampleBufferAttachmentKey_TrimDurationAtStart)),
              MediaTime::make(1024, 48000));
    for (int i = 1; i <= 3; ++i) {
        auto s = g.CreateSample(packet.data(), 200, static_cast<uint64_t>(i) * 21333);
        EXPECT_EQ(s->timing().presentationTimeStamp, MediaTime::make(1024 * i, 48000));
        EXPECT_TRUE(s->attachment(kSampleBufferAttachmentKey_TrimDurationAtStart).isNull());
        EXPECT_EQ(s->numSamples(), 1);
    }

    // Mono, first packet 100 ms in: four silent packets, then the captured one.
    AACAudioSampleGenerator mono(48000, 1);
    testing::internal::CaptureStderr();
    auto gap = mono.CreateSample(packet.data(), 200, 100000);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[WARNING]: Inserting 4 silence packets\n");
    ASSERT_TRUE(gap);
    EXPECT_EQ(gap->timing().presentationTimeStamp, MediaTime::make(0, 48000));
    EXPECT_EQ(gap->numSamples(), 5);
    const auto& packets = gap->packetDescriptions();
    ASSERT_EQ(packets.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(packets[i].mStartOffset, 4 * i);
        EXPECT_EQ(packets[i].mDataByteSize, 4u);
        EXPECT_EQ(Bytes(gap->bytes() + 4 * i, gap->bytes() + 4 * i + 4), (Bytes{0x00, 0xD0, 0x00, 0x07}));
    }
    EXPECT_EQ(packets[4].mStartOffset, 16);
    EXPECT_EQ(packets[4].mDataByteSize, 200u);
    auto next = mono.CreateSample(packet.data(), 200, 121333);
    EXPECT_EQ(next->timing().presentationTimeStamp, MediaTime::make(5 * 1024, 48000));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(mono.CreateSample(packet.data(), 200, 5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[WARNING]: Dropping out of order audio packet [pts = 5, last = 121333]\n");
}

TEST(MediaTimeTest, ArithmeticAndRounding)
{
    EXPECT_EQ(MediaTime::convertScale(MediaTime::make(1, 3), 2), MediaTime::make(1, 2)) << "0.67 rounds up";
    EXPECT_EQ(MediaTime::convertScale(MediaTime::make(-1, 4), 2), MediaTime::make(-1, 2)) << "half away from zero";
    EXPECT_EQ(MediaTime::convertScale(MediaTime::make(1, 4), 2), MediaTime::make(1, 2));
    EXPECT_EQ(MediaTime::add(MediaTime::make(1024, 48000), MediaTime::make(1, 1000)), MediaTime::make(1072, 48000));
    EXPECT_EQ(MediaTime::multiply(MediaTime::make(1024, 48000), 4), MediaTime::make(4096, 48000));
    EXPECT_FALSE(MediaTime::add(MediaTime::invalid(), MediaTime::zero()).valid);
    EXPECT_EQ(MediaTime::fromDictionary(MediaTime::make(-7, 600).asDictionary()), MediaTime::make(-7, 600));
}

} // namespace
