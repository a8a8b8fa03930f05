#include "recording/AACAudioSampleGenerator.h"
#include "platform/foundation/ConsoleLog.h"

#include "platform/media/AACSilence.h"
#include "platform/media/AudioFormatInfo.h"

#include <cstdio>

namespace orva {

AACAudioSampleGenerator::AACAudioSampleGenerator(uint32_t sampleRate, int32_t channels)
    : mSampleRate(sampleRate), mChannels(channels > 0 ? static_cast<uint32_t>(channels) : 0)
{
    const auto rate = static_cast<int32_t>(sampleRate);
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mFormatID = kAudioFormatIDMPEG4AAC;
    d.mChannelsPerFrame = static_cast<uint32_t>(channels);
    (void)AudioFormatInfo::complete(d); // its answer is not needed
    mFormatDescription = AudioFormatDescription::create(d);
    if (mFormatDescription) mStreamDescription = &mFormatDescription->streamBasicDescription();
    mNextTime = MediaTime::make(0, rate > 0 ? rate : 1);
    mPacketDuration = MediaTime::make(1024, rate > 0 ? rate : 1);
}

const std::vector<uint8_t>& AACAudioSampleGenerator::silentPacket() const
{
    // The stored packet is mono; any other channel count gets one encoded for it.
    static const std::vector<uint8_t> mono(std::begin(kSilencePacket), std::end(kSilencePacket));
    return mChannels == 1 ? mono : AACSilence::packet(mSampleRate, mChannels);
}

std::shared_ptr<SampleBuffer> AACAudioSampleGenerator::CreateSampleBufferFromBufferList(
    const std::vector<Buffer>& buffers, std::vector<AudioStreamPacketDescription> packets, const MediaTime& time)
{
    size_t total = 0;
    for (const auto& b : buffers) total += b.byteSize;
    auto block = mBlocks ? mBlocks->createBlockBuffer(total) : BlockBuffer::createWithMemoryBlock(total);
    if (!block) return nullptr;
    size_t offset = 0;
    for (const auto& b : buffers) {
        (void)block->replaceDataBytes(b.data, offset, b.byteSize);
        offset += b.byteSize;
    }
    return SampleBuffer::createAudio(std::move(block), mFormatDescription, static_cast<int64_t>(buffers.size()), time,
                                     std::move(packets));
}

std::shared_ptr<SampleBuffer> AACAudioSampleGenerator::CreateSample(const uint8_t* data, uint32_t length,
                                                                    uint64_t timestamp)
{
    if (mLastTimestamp > timestamp) {
        ConsoleLog::print(OrvaLogLevel::Warning, ConsoleLog::Stream::StandardError, "[WARNING]: Dropping out of order audio packet [pts = %llu, last = %llu]\n",
                     static_cast<unsigned long long>(timestamp), static_cast<unsigned long long>(mLastTimestamp));
        return nullptr;
    }
    mLastTimestamp = timestamp;
    const uint64_t next = static_cast<uint64_t>(mNextTime.value) * 1000000 / static_cast<uint64_t>(mNextTime.timescale);
    const uint64_t p = static_cast<uint64_t>(mPacketDuration.value) * 1000000 /
                       static_cast<uint64_t>(mPacketDuration.timescale);

    std::shared_ptr<SampleBuffer> sample;
    if (data != nullptr && length > 0) {
        const auto& silence = silentPacket();
        if (timestamp > next + 2 * p && p > 0 && !silence.empty()) {
            const uint64_t n = (timestamp - next) / p; // at least 2
            ConsoleLog::print(OrvaLogLevel::Warning, ConsoleLog::Stream::StandardError, "[WARNING]: Inserting %d silence packets\n", static_cast<int>(n));
            if (!mFirstSamplePending) mSilentPackets += n;
            std::vector<Buffer> buffers;
            std::vector<AudioStreamPacketDescription> packets;
            buffers.reserve(n + 1);
            packets.reserve(n + 1);
            const auto size = static_cast<uint32_t>(silence.size());
            for (uint64_t i = 0; i < n; ++i) {
                buffers.push_back({1, size, silence.data()});
                packets.push_back({static_cast<int64_t>(size * i), 0, size});
            }
            buffers.push_back({1, length, data});
            packets.push_back({static_cast<int64_t>(size * n), 0, length});
            sample = CreateSampleBufferFromBufferList(buffers, std::move(packets), mNextTime);
            if (sample && !mFirstSamplePending)
                sample->setFilledDuration(MediaTime::multiply(mPacketDuration, static_cast<int32_t>(n)));
            mNextTime = MediaTime::add(mNextTime, MediaTime::multiply(mPacketDuration, static_cast<int32_t>(n)));
        } else {
            sample = CreateSampleBufferFromBufferList({{1, length, data}}, {{0, 0, length}}, mNextTime);
        }
    }
    if (sample && mFirstSamplePending) {
        sample->setAttachment(kSampleBufferAttachmentKey_TrimDurationAtStart, mPacketDuration.asDictionary());
        mFirstSamplePending = false;
    }
    mNextTime = MediaTime::add(mNextTime, mPacketDuration);
    return sample;
}

} // namespace orva
