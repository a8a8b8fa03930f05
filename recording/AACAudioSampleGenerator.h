// AAC samples, one raw packet (1024 frames) per buffer, placed one packet after
// another from time 0; a buffer more than two packets late has the gap filled with
// silent packets in the same sample (the stored packet for mono, one encoded for the
// track's rate and channel count otherwise). The first sample carries the encoder's
// priming (one packet) as a trim at the start.
#pragma once

#include "platform/media/BlockBufferPool.h"

#include <orva/FormatDescription.h>
#include "platform/media/SampleBuffer.h"
#include "recording/ISampleGenerator.h"

#include <vector>

namespace orva {

class AACAudioSampleGenerator : public ISampleGenerator {
public:
    // A mono low-complexity AAC packet of digital silence.
    static constexpr uint8_t kSilencePacket[4] = {0x00, 0xD0, 0x00, 0x07};

    struct Buffer {
        uint32_t channels = 0;
        uint32_t byteSize = 0;
        const uint8_t* data = nullptr;
    };

    AACAudioSampleGenerator(uint32_t sampleRate, int32_t channels);
    std::shared_ptr<SampleBuffer> CreateSample(const uint8_t* data, uint32_t length, uint64_t timestamp) override;
    uint64_t silentPackets() const override { return mSilentPackets; }
    std::shared_ptr<SampleBuffer> CreateSampleBufferFromBufferList(const std::vector<Buffer>& buffers,
                                                                   std::vector<AudioStreamPacketDescription> packets,
                                                                   const MediaTime& time);
    const std::shared_ptr<const AudioFormatDescription>& formatDescription() const { return mFormatDescription; }

private:
    const std::vector<uint8_t>& silentPacket() const;

    uint32_t mSampleRate = 0;
    uint32_t mChannels = 0;
    std::shared_ptr<const AudioFormatDescription> mFormatDescription;
    const AudioStreamBasicDescription* mStreamDescription = nullptr;
    bool mFirstSamplePending = true;
    uint64_t mLastTimestamp = 0;
    MediaTime mNextTime;
    uint64_t mSilentPackets = 0; // after the first sample (silence before it starts the track at 0)
    MediaTime mPacketDuration;
    std::shared_ptr<BlockBufferPool> mBlocks = BlockBufferPool::create(); // sample memory, used again
};

} // namespace orva
