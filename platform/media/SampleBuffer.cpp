#include "platform/media/SampleBuffer.h"

#include <new>

namespace orva {

const char* const kSampleAttachmentKey_DependsOnOthers = "DependsOnOthers";
const char* const kSampleAttachmentKey_NotSync = "NotSync";
const char* const kSampleAttachmentKey_DoNotDisplay = "DoNotDisplay";
const char* const kSampleAttachmentKey_EarlierDisplayTimesAllowed = "EarlierDisplayTimesAllowed";
const char* const kSampleBufferAttachmentKey_TrimDurationAtStart = "TrimDurationAtStart";

std::shared_ptr<SampleBuffer> SampleBuffer::create(std::shared_ptr<BlockBuffer> block,
                                                   std::shared_ptr<const FormatDescription> format,
                                                   int64_t sampleCount, const SampleTimingInfo& timing,
                                                   size_t sampleSize)
{
    if (!block || !format || sampleCount < 0 || sampleSize > block->dataLength()) return nullptr;
    std::shared_ptr<SampleBuffer> sample(new (std::nothrow) SampleBuffer);
    if (!sample) return nullptr;
    sample->mBlock = std::move(block);
    sample->mFormat = std::move(format);
    sample->mSampleCount = sampleCount;
    sample->mTiming = timing;
    sample->mSampleSize = sampleSize ? sampleSize : sample->mBlock->dataLength();
    return sample;
}

std::shared_ptr<SampleBuffer> SampleBuffer::createAudio(std::shared_ptr<BlockBuffer> block,
                                                        std::shared_ptr<const FormatDescription> format,
                                                        int64_t sampleCount, const MediaTime& presentationTime,
                                                        std::vector<AudioStreamPacketDescription> packets)
{
    if (!block) return nullptr;
    for (const auto& p : packets)
        if (p.mStartOffset < 0 || static_cast<uint64_t>(p.mStartOffset) + p.mDataByteSize > block->dataLength())
            return nullptr; // a packet outside the data
    SampleTimingInfo timing{MediaTime::invalid(), presentationTime, MediaTime::invalid()};
    auto sample = create(std::move(block), std::move(format), sampleCount, timing);
    if (sample) sample->mPackets = std::move(packets);
    return sample;
}

std::shared_ptr<SampleBuffer> SampleBuffer::createForImageBuffer(std::shared_ptr<PixelBuffer> picture,
                                                                 std::shared_ptr<const FormatDescription> format,
                                                                 const SampleTimingInfo& timing)
{
    if (!picture || !format) return nullptr;
    std::shared_ptr<SampleBuffer> sample(new (std::nothrow) SampleBuffer);
    if (!sample) return nullptr;
    sample->mPicture = std::move(picture);
    sample->mFormat = std::move(format);
    sample->mSampleCount = 1;
    sample->mTiming = timing;
    sample->mSampleSize = sample->mPicture->dataSize();
    return sample;
}

const uint8_t* SampleBuffer::bytes() const
{
    if (mBlock) return mBlock->data();
    return mPicture ? mPicture->data() : nullptr;
}

size_t SampleBuffer::totalSampleSize() const
{
    return mSampleSize;
}

Value SampleBuffer::sampleAttachments()
{
    if (mSampleAttachments.isNull()) mSampleAttachments = Value::makeTable();
    return mSampleAttachments;
}

void SampleBuffer::setAttachment(const char* key, Value value)
{
    if (mBufferAttachments.isNull()) mBufferAttachments = Value::makeTable();
    mBufferAttachments.set(key, std::move(value));
}

Value SampleBuffer::attachment(const char* key) const
{
    return mBufferAttachments.get(key);
}

} // namespace orva
