#include "recording/CH264HeaderInfo.h"
#include "recording/H264BoxFormat.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orva;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kStart = {0, 0, 0, 1};
const char* kErrorLine = "*** [Error] in converting to box format!!!\n";

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Converts a copy and answers it with what was printed.
std::pair<Bytes, std::string> convert(Bytes frame)
{
    testing::internal::CaptureStdout();
    ConvertStreamToBoxFormat(frame.data(), static_cast<uint32_t>(frame.size()));
    return {frame, testing::internal::GetCapturedStdout()};
}

Bytes length(uint32_t n)
{
    return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
            static_cast<uint8_t>(n)};
}

TEST(H264BoxFormat, StartCodesBecomeLengths)
{
    const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xDA}, pps = {0x68, 0xCE, 0x3C}, idr = {0x65, 0x88, 0x84, 0x00, 0x33};
    auto [three, printed] = convert(cat({kStart, sps, kStart, pps, kStart, idr}));
    EXPECT_EQ(three, cat({length(5), sps, length(3), pps, length(5), idr}));
    EXPECT_EQ(printed, "");

    auto [one, quiet] = convert(cat({kStart, idr}));
    EXPECT_EQ(one, cat({length(5), idr}));
    EXPECT_EQ(quiet, "");

    // Adjacent start codes make a unit of length 0; three-byte codes are never split on.
    auto [adjacent, p2] = convert(cat({kStart, kStart, idr}));
    EXPECT_EQ(adjacent, cat({length(0), length(5), idr}));
    const Bytes withThree = {0x65, 0x00, 0x00, 0x01, 0x41};
    auto [kept, p3] = convert(cat({kStart, withThree}));
    EXPECT_EQ(kept, cat({length(5), withThree}));
    EXPECT_EQ(p2 + p3, "");
}

TEST(H264BoxFormat, OddFramesAreReportedAndNeverOverrun)
{
    // No leading start code: the first four bytes become the first length.
    auto [noLead, p1] = convert(cat({{0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, kStart, {0x65, 0x01}}));
    EXPECT_EQ(noLead, cat({length(1), {0xEE}, length(2), {0x65, 0x01}}));
    EXPECT_EQ(p1, "");

    // A start code that ends the frame stays; the check reports it.
    const Bytes tail = cat({kStart, {0x65, 0x01}, kStart});
    auto [endsWithCode, p2] = convert(tail);
    EXPECT_EQ(endsWithCode, cat({length(2), {0x65, 0x01}, kStart}));
    EXPECT_EQ(p2, kErrorLine);
    auto [lone, p3] = convert(kStart);
    EXPECT_EQ(lone, kStart);
    EXPECT_EQ(p3, kErrorLine);

    // Truncated or empty frames: reported (or not), never read past.
    auto [shortFrame, p4] = convert({0x00, 0x00, 0x01});
    EXPECT_EQ(p4, kErrorLine);
    EXPECT_EQ(convert({}).second, "");
    testing::internal::CaptureStdout();
    ConvertStreamToBoxFormat(nullptr, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(H264BoxFormat, FindNALUnitFindsOnlyTheFirstOfAType)
{
    const Bytes frame = cat({length(2), {0x67, 0x42}, length(1), {0x68}, length(3), {0x65, 1, 2}, length(1), {0x68}});
    uint32_t n = 99;
    const uint8_t* unit = nullptr;
    ASSERT_TRUE(FindNALUnit(7, frame.data(), static_cast<uint32_t>(frame.size()), &n, &unit));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(unit, frame.data() + 4);
    ASSERT_TRUE(FindNALUnit(8, frame.data(), static_cast<uint32_t>(frame.size()), &n, &unit));
    EXPECT_EQ(unit, frame.data() + 10);
    n = 99;
    unit = nullptr;
    EXPECT_FALSE(FindNALUnit(6, frame.data(), static_cast<uint32_t>(frame.size()), &n, &unit));
    EXPECT_EQ(n, 99u);
    EXPECT_EQ(unit, nullptr);
    // A length that runs past the end stops the walk.
    const Bytes broken = cat({length(1000), {0x41}, length(1), {0x67}});
    EXPECT_FALSE(FindNALUnit(7, broken.data(), static_cast<uint32_t>(broken.size()), &n, &unit));
}

TEST(H264BoxFormat, DecoderConfigurationRecord)
{
    const Bytes sps = {0x67, 0x64, 0x00, 0x1F, 1, 2, 3, 4, 5, 6}, pps = {0x68, 0xEE, 0x3C, 0x80};
    auto record = CreateH264ExtensionData(sps.data(), 10, pps.data(), 4);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, cat({{0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x0A}, sps, {0x01, 0x00, 0x04}, pps}));
    EXPECT_EQ(record->size(), 25u);

    auto noPps = CreateH264ExtensionData(sps.data(), 10, nullptr, 0);
    ASSERT_TRUE(noPps);
    EXPECT_EQ(noPps->size(), 19u);
    EXPECT_EQ(noPps->back(), 0x00);
    auto noSps = CreateH264ExtensionData(nullptr, 0, pps.data(), 4);
    EXPECT_EQ(*noSps, cat({{0x01, 0, 0, 0, 0xFF, 0xE0, 0x01, 0x00, 0x04}, pps}));
}

TEST(H264BoxFormat, HeaderInfoKeepsTheLatestSetsWithTheirPrefix)
{
    CH264HeaderInfo info;
    EXPECT_EQ(info.sps().size, 0u);
    EXPECT_FALSE(info.sps().owned);
    const Bytes first = cat({length(1), {0x67}, length(2), {0x68, 0x01}});
    info.Collect(first.data(), static_cast<uint32_t>(first.size()));
    EXPECT_EQ(info.sps().size, 5u);
    EXPECT_EQ(info.sps().data, cat({length(1), {0x67}}));
    EXPECT_TRUE(info.pps().owned);
    const Bytes second = cat({length(3), {0x67, 0x42, 0x00}, length(2), {0x65, 0x00}});
    info.Collect(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(info.sps().size, 7u) << "replaced";
    EXPECT_EQ(info.pps().data, cat({length(2), {0x68, 0x01}})) << "kept from the earlier frame";
}

} // namespace

namespace {

// The conversion as the plain byte-by-byte loop describes it.
bool referenceConvert(std::vector<uint8_t>& d)
{
    const size_t end = d.size();
    if (end == 0) return true;
    auto put = [&](size_t at, uint32_t v) {
        d[at] = static_cast<uint8_t>(v >> 24);
        d[at + 1] = static_cast<uint8_t>(v >> 16);
        d[at + 2] = static_cast<uint8_t>(v >> 8);
        d[at + 3] = static_cast<uint8_t>(v);
    };
    size_t current = 0;
    if (end >= 4) {
        for (size_t q = 0; q + 4 <= end;) {
            if (d[q] == 0 && d[q + 1] == 0 && d[q + 2] == 0 && d[q + 3] == 1) {
                if (q != current) {
                    put(current, static_cast<uint32_t>(q - current - 4));
                    current = q;
                }
                q += 4;
            } else {
                ++q;
            }
        }
        if (current + 4 < end) put(current, static_cast<uint32_t>(end - current - 4));
    }
    size_t at = 0;
    while (at < end && end - at >= 4) {
        const uint64_t n = (uint64_t{d[at]} << 24) | (uint64_t{d[at + 1]} << 16) | (uint64_t{d[at + 2]} << 8) | d[at + 3];
        if (at + 4 + n > end) break;
        at += 4 + n;
    }
    return at == end;
}

TEST(H264BoxFormat, FastSearchMatchesTheByteLoopEverywhere)
{
    // Buffers of every length up to 700 with start codes, lone 01 bytes and runs of
    // zeros at every alignment, so the wide search's blocks and tail are all crossed.
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (size_t length = 0; length < 700; ++length) {
        for (int round = 0; round < 3; ++round) {
            std::vector<uint8_t> frame(length);
            for (auto& b : frame) {
                const uint32_t r = next() >> 24;
                b = r < 40 ? 0 : r < 60 ? 1 : static_cast<uint8_t>(r);
            }
            for (size_t at = next() % 7; at + 4 <= length; at += 1 + next() % 150) {
                frame[at] = frame[at + 1] = frame[at + 2] = 0;
                frame[at + 3] = 1;
            }
            auto expected = frame;
            const bool clean = referenceConvert(expected);
            auto [actual, printed] = convert(frame);
            ASSERT_EQ(actual, expected) << "length " << length;
            ASSERT_EQ(printed.empty(), clean) << "length " << length;
        }
    }
}

} // namespace
