#include "recording/PCMAudioSampleGenerator.h"
#include "platform/foundation/ConsoleLog.h"

#include <cstdio>

namespace orva {

PCMAudioSampleGenerator::PCMAudioSampleGenerator(uint32_t sampleRate, uint16_t channels, uint16_t bitsPerSample)
{
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mFormatID = kAudioFormatIDLinearPCM;
    d.mFormatFlags = kLinearPCMFlagsSignedPacked;
    d.mBytesPerPacket = channels * bitsPerSample / 8u;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = channels * bitsPerSample / 8u;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bitsPerSample;
    mFormatDescription = AudioFormatDescription::create(d);
    if (mFormatDescription) mStreamDescription = &mFormatDescription->streamBasicDescription();
}

std::shared_ptr<SampleBuffer> PCMAudioSampleGenerator::CreateSample(const uint8_t* data, uint32_t length,
                                                                    uint64_t timestamp)
{
    if (mLastTimestamp > timestamp) {
        ConsoleLog::print(OrvaLogLevel::Warning, ConsoleLog::Stream::StandardOutput,
                          "[WARNING]: Dropping out of order audio packet [last = %llu, pts = %llu]\n",
                          static_cast<unsigned long long>(mLastTimestamp), static_cast<unsigned long long>(timestamp));
        return nullptr;
    }
    mLastTimestamp = timestamp;
    if (!mStreamDescription || data == nullptr) return nullptr;
    const uint64_t bytesPerFrame = mStreamDescription->mBytesPerFrame;
    const auto rate = static_cast<uint64_t>(mStreamDescription->mSampleRate);
    if (bytesPerFrame == 0 || rate == 0) return nullptr;
    const uint64_t frames = length / bytesPerFrame;
    if (frames == 0) return nullptr; // less than one frame: nothing to place
    const uint64_t d = frames * 1000000 / rate;

    uint64_t silent = 0;
    if (mNextTime == 0) {
        mNextTime = timestamp;
    } else if (mNextTime < timestamp && d > 0) {
        silent = (timestamp - mNextTime) / d;
        if (silent >= 1) {
            ConsoleLog::print(OrvaLogLevel::Warning, ConsoleLog::Stream::StandardOutput,
                              "[WARNING]: Inserting %d silence packets!!!\n", static_cast<int>(silent));
            mSilentPackets += silent;
        }
    }
    const uint64_t totalFrames = frames * (silent + 1);
    const uint64_t dataBytes = frames * bytesPerFrame;
    const uint64_t blockBytes = totalFrames * bytesPerFrame;
    auto block = mBlocks ? mBlocks->createBlockBuffer(blockBytes) : BlockBuffer::createWithMemoryBlock(blockBytes);
    if (!block) return nullptr;
    const uint64_t silenceBytes = block->dataLength() - dataBytes;
    if (silenceBytes) (void)block->fillDataBytes(0, 0, silenceBytes);
    (void)block->replaceDataBytes(data, silenceBytes, dataBytes);
    auto sample = SampleBuffer::createAudio(std::move(block), mFormatDescription, static_cast<int64_t>(totalFrames),
                                            MediaTime::make(static_cast<int64_t>(mNextTime), 1000000));
    if (sample && silent > 0) sample->setFilledDuration(MediaTime::make(static_cast<int64_t>(silent * d), 1000000));
    mNextTime += totalFrames * 1000000 / rate;
    return sample;
}

} // namespace orva
