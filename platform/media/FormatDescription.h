// Format descriptions: counted, immutable descriptions of a media stream, shared
// between threads freely. A video description carries a four-character codec code
// and dimensions; an audio description carries the basic stream description.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace orva {

enum class MediaType : uint32_t { Video = 0x76696465 /* 'vide' */, Audio = 0x736F756E /* 'soun' */ };

class FormatDescription {
public:
    virtual ~FormatDescription() = default;
    MediaType mediaType() const { return mMediaType; }
    uint32_t mediaSubType() const { return mMediaSubType; }

protected:
    FormatDescription(MediaType type, uint32_t subType) : mMediaType(type), mMediaSubType(subType) {}

private:
    MediaType mMediaType;
    uint32_t mMediaSubType;
};

using FormatList = std::vector<std::shared_ptr<const FormatDescription>>;

struct VideoDimensions {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const VideoDimensions&) const = default;
};

class VideoFormatDescription : public FormatDescription {
public:
    [[nodiscard]] static std::shared_ptr<const VideoFormatDescription> create(uint32_t codec, int32_t width,
                                                                              int32_t height);
    VideoDimensions dimensions() const { return mDimensions; }

private:
    VideoFormatDescription(uint32_t codec, VideoDimensions d) : FormatDescription(MediaType::Video, codec), mDimensions(d) {}
    VideoDimensions mDimensions;
};

// The fields of an audio stream description the component uses; the others are 0.
struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    bool operator==(const AudioStreamBasicDescription&) const = default;
};

class AudioFormatDescription : public FormatDescription {
public:
    [[nodiscard]] static std::shared_ptr<const AudioFormatDescription> create(const AudioStreamBasicDescription& asbd);
    const AudioStreamBasicDescription& streamBasicDescription() const { return mASBD; }

private:
    explicit AudioFormatDescription(const AudioStreamBasicDescription& asbd)
        : FormatDescription(MediaType::Audio, asbd.mFormatID), mASBD(asbd) {}
    AudioStreamBasicDescription mASBD;
};

} // namespace orva
