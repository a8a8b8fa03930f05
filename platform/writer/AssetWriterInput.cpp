#include "platform/writer/AssetWriterInput.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/writer/AssetWriter.h"

namespace orva {

std::shared_ptr<AssetWriterInput> AssetWriterInput::create(MediaType mediaType)
{
    return std::shared_ptr<AssetWriterInput>(new AssetWriterInput(mediaType));
}

void AssetWriterInput::requestMediaDataWhenReady(std::shared_ptr<DispatchQueue> queue, std::function<void()> task)
{
    if (!queue || !task || mQueue) return; // registered once
    mQueue = std::move(queue);
    mTask = std::move(task);
    startPumping();
}

void AssetWriterInput::startPumping()
{
    auto writer = mWriter.lock();
    if (!mQueue || !writer || !writer->wantsData() || mPumping.exchange(true)) return;
    std::weak_ptr<AssetWriterInput> weak = weak_from_this();
    mQueue->async([weak] {
        if (auto self = weak.lock()) self->pump();
    });
}

void AssetWriterInput::pump()
{
    auto writer = mWriter.lock();
    if (!writer || !writer->wantsData() || isFinished()) {
        mPumping = false;
        return;
    }
    mTask();
    if (!writer->wantsData() || isFinished()) {
        mPumping = false;
        return;
    }
    std::weak_ptr<AssetWriterInput> weak = weak_from_this();
    mQueue->async([weak] {
        if (auto self = weak.lock()) self->pump();
    });
}

bool AssetWriterInput::isReadyForMoreMediaData() const
{
    auto writer = mWriter.lock();
    return writer && writer->wantsData() && !isFinished();
}

bool AssetWriterInput::appendSampleBuffer(const std::shared_ptr<SampleBuffer>& sample)
{
    auto writer = mWriter.lock();
    if (!writer || isFinished()) return false;
    return writer->append(mTrack, sample);
}

bool AssetWriterInput::appendSilenceUntil(const MediaTime& until)
{
    auto writer = mWriter.lock();
    if (!writer || isFinished() || mMediaType != MediaType::Audio) return false;
    return writer->appendSilence(mTrack, until);
}

void AssetWriterInput::markAsFinished()
{
    mFinished = true;
}

} // namespace orva
