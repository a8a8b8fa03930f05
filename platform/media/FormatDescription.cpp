#include <orva/FormatDescription.h>

namespace orva {

std::shared_ptr<const VideoFormatDescription> VideoFormatDescription::create(uint32_t codec, int32_t width,
                                                                            int32_t height,
                                                                            VideoFormatExtensions extensions)
{
    if (width <= 0 || height <= 0) return nullptr;
    return std::shared_ptr<const VideoFormatDescription>(
        new VideoFormatDescription(codec, {width, height}, std::move(extensions)));
}

std::shared_ptr<const AudioFormatDescription> AudioFormatDescription::create(const AudioStreamBasicDescription& asbd)
{
    return std::shared_ptr<const AudioFormatDescription>(new AudioFormatDescription(asbd));
}

} // namespace orva
