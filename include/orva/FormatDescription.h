// Format descriptions: counted, immutable descriptions of a media stream, shared
// between threads freely. A video description carries a four-character codec code
// and dimensions; an audio description carries the basic stream description.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace orva {

enum class MediaType : uint32_t { Video = 0x76696465 /* 'vide' */, Audio = 0x736F756E /* 'soun' */ };

class ORVA_EXPORT FormatDescription {
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

// The extensions a video description may carry: the sample description's extension
// atoms (only "avcC", the H.264 decoder configuration record, is used) and the bytes
// per row of an uncompressed picture (0 when not given).
struct VideoFormatExtensions {
    std::vector<uint8_t> avcC;
    int32_t bytesPerRow = 0;
};

class ORVA_EXPORT VideoFormatDescription : public FormatDescription {
public:
    [[nodiscard]] static std::shared_ptr<const VideoFormatDescription> create(uint32_t codec, int32_t width,
                                                                              int32_t height,
                                                                              VideoFormatExtensions extensions = {});
    VideoDimensions dimensions() const { return mDimensions; }
    const VideoFormatExtensions& extensions() const { return mExtensions; }

private:
    VideoFormatDescription(uint32_t codec, VideoDimensions d, VideoFormatExtensions e)
        : FormatDescription(MediaType::Video, codec), mDimensions(d), mExtensions(std::move(e))
    {
    }
    VideoDimensions mDimensions;
    VideoFormatExtensions mExtensions;
};

// Four-character codes of the media formats the component knows.
inline constexpr uint32_t kCodecAVC1 = 0x61766331; // 'avc1', H.264
inline constexpr uint32_t kCodec2VUY = 0x32767579; // '2vuy', packed 4:2:2, two bytes a pixel
// The capture library's wave format tags for them (the low 16 bits of 'lpcm', 'aac ').
inline constexpr uint32_t kAudioFormatLinearPCM = 0x636D;
inline constexpr uint32_t kAudioFormatMPEG4AAC = 0x6320;
inline constexpr uint32_t kAudioFormatIDLinearPCM = 0x6C70636D; // 'lpcm'
inline constexpr uint32_t kAudioFormatIDMPEG4AAC = 0x61616320;  // 'aac '
inline constexpr uint32_t kLinearPCMFlagsSignedPacked = 0xC;    // signed integer, packed, little-endian

// An audio stream description (the platform's basic stream description).
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

class ORVA_EXPORT AudioFormatDescription : public FormatDescription {
public:
    [[nodiscard]] static std::shared_ptr<const AudioFormatDescription> create(const AudioStreamBasicDescription& asbd);
    const AudioStreamBasicDescription& streamBasicDescription() const { return mASBD; }

private:
    explicit AudioFormatDescription(const AudioStreamBasicDescription& asbd)
        : FormatDescription(MediaType::Audio, asbd.mFormatID), mASBD(asbd) {}
    AudioStreamBasicDescription mASBD;
};

} // namespace orva
