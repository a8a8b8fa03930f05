#include "recording/UncompressedSampleGenerator.h"

#include "platform/media/PixelBufferPool.h"

#include <algorithm>
#include <cstring>

namespace orva {

UncompressedSampleGenerator::UncompressedSampleGenerator(int32_t width, int32_t height, int32_t frameRate,
                                                         uint32_t frameInterval)
    : VideoSampleGenerator(width, height, frameRate, frameInterval)
{
    mDropsEarlyFrames = true; // every picture stands alone
    VideoFormatExtensions extensions;
    extensions.bytesPerRow = width * 2;
    mFormatDescription = VideoFormatDescription::create(kCodec2VUY, width, height, std::move(extensions));
    mPictures = PixelBufferPool::create(width, height, kCodec2VUY);
}

std::shared_ptr<SampleBuffer> UncompressedSampleGenerator::CreateVideoSampleBuffer(const uint8_t* data,
                                                                                   uint64_t length,
                                                                                   const SampleTimingInfo& timing)
{
    if (!mFormatDescription || !mPictures || data == nullptr) return nullptr;
    auto picture = mPictures->createPixelBuffer();
    if (!picture) return nullptr;
    picture->lockBaseAddress();
    const size_t copied = static_cast<size_t>(std::min<uint64_t>(length, picture->dataSize()));
    std::memcpy(picture->baseAddress(), data, copied);
    std::memset(picture->baseAddress() + copied, 0, picture->dataSize() - copied); // a short frame is cleared, not left from an earlier picture
    picture->unlockBaseAddress();
    auto sample = SampleBuffer::createForImageBuffer(std::move(picture), mFormatDescription, timing);
    if (!sample) return nullptr;
    Value attachments = sample->sampleAttachments();
    attachments.set(kSampleAttachmentKey_DependsOnOthers, Number::numberWithBool(false));
    attachments.set(kSampleAttachmentKey_EarlierDisplayTimesAllowed, Number::numberWithBool(false));
    return sample;
}

} // namespace orva
