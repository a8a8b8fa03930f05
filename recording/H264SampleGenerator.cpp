#include "recording/H264SampleGenerator.h"

#include "recording/H264BoxFormat.h"

namespace orva {

void H264SampleGenerator::CreateVideoFormat()
{
    const auto& sps = mHeaderInfo.sps();
    const auto& pps = mHeaderInfo.pps();
    auto record = CreateH264ExtensionData(sps.data.data() + 4, sps.size - 4, pps.data.data() + 4, pps.size - 4);
    if (!record) return;
    VideoFormatExtensions extensions;
    extensions.avcC = *record;
    mFormatDescription = VideoFormatDescription::create(kCodecAVC1, mWidth, mHeight, std::move(extensions));
}

std::shared_ptr<SampleBuffer> H264SampleGenerator::CreateVideoSampleBuffer(const uint8_t* data, uint64_t length,
                                                                           const SampleTimingInfo& timing)
{
    if (data == nullptr || length == 0 || length > UINT32_MAX) return nullptr;
    if (!mFormatDescription) {
        mHeaderInfo.Collect(data, static_cast<uint32_t>(length));
        if (mHeaderInfo.sps().size >= 5 && mHeaderInfo.pps().size >= 5) CreateVideoFormat();
        if (!mFormatDescription) return nullptr;
    }
    auto block = mBlocks ? mBlocks->createBlockBuffer(length) : BlockBuffer::createWithMemoryBlock(length);
    if (!block) return nullptr;
    // Copy the picture units back to back. A unit whose length runs past the frame
    // (only after a failed conversion) ends the walk: nothing outside is read.
    size_t copied = 0;
    bool key = false;
    uint64_t at = 0;
    while (at + 5 <= length) {
        const uint64_t unitLength = ReadUnitLength(data + at);
        if (at + 4 + unitLength > length) break;
        const uint8_t type = data[at + 4] & 0x1F;
        if (type <= 5 && unitLength > 0) {
            (void)block->replaceDataBytes(data + at, copied, 4 + unitLength);
            copied += 4 + unitLength;
            key = key || type == 5;
        }
        at += 4 + unitLength;
    }
    if (copied == 0) return nullptr;
    auto sample = SampleBuffer::create(std::move(block), mFormatDescription, 1, timing, copied);
    if (!sample) return nullptr;
    Value attachments = sample->sampleAttachments();
    if (key) {
        attachments.set(kSampleAttachmentKey_DependsOnOthers, Number::numberWithBool(false));
        attachments.set(kSampleAttachmentKey_DoNotDisplay, Number::numberWithBool(true));
        attachments.set(kSampleAttachmentKey_EarlierDisplayTimesAllowed, Number::numberWithBool(false));
    } else {
        attachments.set(kSampleAttachmentKey_DependsOnOthers, Number::numberWithBool(true));
        attachments.set(kSampleAttachmentKey_NotSync, Number::numberWithBool(true));
        attachments.set(kSampleAttachmentKey_DoNotDisplay, Number::numberWithBool(true));
        attachments.set(kSampleAttachmentKey_EarlierDisplayTimesAllowed, Number::numberWithBool(false));
    }
    return sample;
}

} // namespace orva
