// A timed media sample (the platform's sample buffer): a format description, the
// data (a block buffer or a pixel buffer), the number of samples it holds, one timing
// entry, packet descriptions for compressed audio, per-sample attachments and buffer
// attachments. Made on a capture thread, then handed between threads by counted
// reference; attachments are set before it is shared and only read after.
#pragma once

#include <orva/Value.h>
#include "platform/media/BlockBuffer.h"
#include <orva/FormatDescription.h>
#include "platform/media/MediaTime.h"
#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orva {

struct SampleTimingInfo {
    MediaTime duration;
    MediaTime presentationTimeStamp;
    MediaTime decodeTimeStamp;
};

// One compressed audio packet inside a sample's data.
struct AudioStreamPacketDescription {
    int64_t mStartOffset = 0;
    uint32_t mVariableFramesInPacket = 0;
    uint32_t mDataByteSize = 0;
};

// Sample attachment keys (values are boolean numbers).
extern const char* const kSampleAttachmentKey_DependsOnOthers;
extern const char* const kSampleAttachmentKey_NotSync;
extern const char* const kSampleAttachmentKey_DoNotDisplay;
extern const char* const kSampleAttachmentKey_EarlierDisplayTimesAllowed;
// Buffer attachment key: a media time, as a dictionary, to drop from the start.
extern const char* const kSampleBufferAttachmentKey_TrimDurationAtStart;

class SampleBuffer {
public:
    // A sample over a block: `sampleCount` samples, one timing entry; sampleSize is the
    // bytes of the block that belong to the sample (0: the whole block).
    static std::shared_ptr<SampleBuffer> create(std::shared_ptr<BlockBuffer> block,
                                                std::shared_ptr<const FormatDescription> format, int64_t sampleCount,
                                                const SampleTimingInfo& timing, size_t sampleSize = 0);
    // An audio sample over a block: `sampleCount` frames (PCM) or packets (with
    // descriptions), starting at `presentationTime`.
    static std::shared_ptr<SampleBuffer> createAudio(std::shared_ptr<BlockBuffer> block,
                                                     std::shared_ptr<const FormatDescription> format,
                                                     int64_t sampleCount, const MediaTime& presentationTime,
                                                     std::vector<AudioStreamPacketDescription> packets = {});
    // A sample for a picture.
    static std::shared_ptr<SampleBuffer> createForImageBuffer(std::shared_ptr<PixelBuffer> picture,
                                                              std::shared_ptr<const FormatDescription> format,
                                                              const SampleTimingInfo& timing);

    const std::shared_ptr<const FormatDescription>& formatDescription() const { return mFormat; }
    const std::shared_ptr<BlockBuffer>& dataBuffer() const { return mBlock; }
    const std::shared_ptr<PixelBuffer>& imageBuffer() const { return mPicture; }
    int64_t numSamples() const { return mSampleCount; }
    const SampleTimingInfo& timing() const { return mTiming; }
    // The bytes of the sample's data (block or picture).
    const uint8_t* bytes() const;
    size_t totalSampleSize() const;
    const std::vector<AudioStreamPacketDescription>& packetDescriptions() const { return mPackets; }

    // Audio: how much of the sample is silence standing in for sound that was lost
    // (set by the generator that put it there).
    MediaTime filledDuration() const { return mFilled; }
    void setFilledDuration(const MediaTime& filled) { mFilled = filled; }

    // The one sample's attachment table (made on first use).
    Value sampleAttachments();
    Value sampleAttachmentsIfPresent() const { return mSampleAttachments; }
    void setAttachment(const char* key, Value value);
    Value attachment(const char* key) const;

private:
    SampleBuffer() = default;
    std::shared_ptr<const FormatDescription> mFormat;
    std::shared_ptr<BlockBuffer> mBlock;
    std::shared_ptr<PixelBuffer> mPicture;
    int64_t mSampleCount = 0;
    size_t mSampleSize = 0;
    SampleTimingInfo mTiming;
    std::vector<AudioStreamPacketDescription> mPackets;
    Value mSampleAttachments;
    Value mBufferAttachments;
    MediaTime mFilled = MediaTime::zero();
};

} // namespace orva
