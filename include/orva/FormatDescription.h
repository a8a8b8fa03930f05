/// @file
/// Format descriptions: counted, immutable descriptions of a media stream, shared
/// between threads freely. A video description carries a four-character codec code
/// and dimensions; an audio description carries the basic stream description.
#pragma once

#include <orva/OrvaExport.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace orva {

/// The kind of a medium, as its four-character code.
enum class MediaType : uint32_t { Video = 0x76696465 /* 'vide' */, Audio = 0x736F756E /* 'soun' */ };

/// The description of one media stream; made by VideoFormatDescription::create or
/// AudioFormatDescription::create and never changed afterwards. Thread-safe.
class ORVA_EXPORT FormatDescription {
public:
    virtual ~FormatDescription() = default;
    /// Video or audio.
    MediaType mediaType() const { return mMediaType; }
    /// The codec code of a video description (kCodecAVC1, kCodec2VUY), the format ID
    /// of an audio one (kAudioFormatLinearPCM, kAudioFormatMPEG4AAC).
    uint32_t mediaSubType() const { return mMediaSubType; }

protected:
    /// For the two subclasses.
    FormatDescription(MediaType type, uint32_t subType) : mMediaType(type), mMediaSubType(subType) {}

private:
    MediaType mMediaType;
    uint32_t mMediaSubType;
};

/// A list of descriptions, as the devices answer their supported formats.
using FormatList = std::vector<std::shared_ptr<const FormatDescription>>;

/// A picture size in pixels.
struct VideoDimensions {
    int32_t width = 0;  ///< pixels across
    int32_t height = 0; ///< pixels down
    /// Equal when both numbers are.
    bool operator==(const VideoDimensions&) const = default;
};

/// The extensions a video description may carry: the sample description's extension
/// atoms (only "avcC", the H.264 decoder configuration record, is used) and the bytes
/// per row of an uncompressed picture (0 when not given).
struct VideoFormatExtensions {
    std::vector<uint8_t> avcC; ///< the H.264 decoder configuration record, or empty
    int32_t bytesPerRow = 0;   ///< bytes per row of an uncompressed picture, or 0
};

/// A video format: codec code and picture size (and, for movies, extensions).
class ORVA_EXPORT VideoFormatDescription : public FormatDescription {
public:
    /// A new description; null for a size that is not positive.
    [[nodiscard]] static std::shared_ptr<const VideoFormatDescription> create(uint32_t codec, int32_t width,
                                                                              int32_t height,
                                                                              VideoFormatExtensions extensions = {});
    /// The picture size.
    VideoDimensions dimensions() const { return mDimensions; }
    /// The extensions given at creation.
    const VideoFormatExtensions& extensions() const { return mExtensions; }

private:
    VideoFormatDescription(uint32_t codec, VideoDimensions d, VideoFormatExtensions e)
        : FormatDescription(MediaType::Video, codec), mDimensions(d), mExtensions(std::move(e))
    {
    }
    VideoDimensions mDimensions;
    VideoFormatExtensions mExtensions;
};

/// Four-character codes of the media formats the component knows.
inline constexpr uint32_t kCodecAVC1 = 0x61766331; ///< 'avc1', H.264
inline constexpr uint32_t kCodec2VUY = 0x32767579; ///< '2vuy', packed 4:2:2, two bytes a pixel
/// The capture library's wave format tags for them (the low 16 bits of 'lpcm', 'aac ').
inline constexpr uint32_t kAudioFormatLinearPCM = 0x636D; ///< linear PCM
inline constexpr uint32_t kAudioFormatMPEG4AAC = 0x6320;  ///< AAC
inline constexpr uint32_t kAudioFormatIDLinearPCM = 0x6C70636D; ///< 'lpcm'
inline constexpr uint32_t kAudioFormatIDMPEG4AAC = 0x61616320; ///< 'aac '
inline constexpr uint32_t kLinearPCMFlagsSignedPacked = 0xC; ///< signed integer, packed, little-endian

/// An audio stream description (the platform's basic stream description).
struct AudioStreamBasicDescription {
    double mSampleRate = 0;         ///< frames per second
    uint32_t mFormatID = 0;         ///< the format: a wave tag or a four-character code
    uint32_t mFormatFlags = 0;      ///< format flags (kLinearPCMFlagsSignedPacked for PCM)
    uint32_t mBytesPerPacket = 0;   ///< bytes in a packet (0 when it varies)
    uint32_t mFramesPerPacket = 0;  ///< frames in a packet (1 for PCM, 1024 for AAC)
    uint32_t mBytesPerFrame = 0;    ///< bytes in a frame of all channels (0 for compressed)
    uint32_t mChannelsPerFrame = 0; ///< channels
    uint32_t mBitsPerChannel = 0;   ///< bits of one sample of one channel
    /// Equal when every field is.
    bool operator==(const AudioStreamBasicDescription&) const = default;
};

/// An audio format: the stream's basic description.
class ORVA_EXPORT AudioFormatDescription : public FormatDescription {
public:
    /// A new description of the stream; never null.
    [[nodiscard]] static std::shared_ptr<const AudioFormatDescription> create(const AudioStreamBasicDescription& asbd);
    /// The description it was made from.
    const AudioStreamBasicDescription& streamBasicDescription() const { return mASBD; }

private:
    explicit AudioFormatDescription(const AudioStreamBasicDescription& asbd)
        : FormatDescription(MediaType::Audio, asbd.mFormatID), mASBD(asbd) {}
    AudioStreamBasicDescription mASBD;
};

} // namespace orva
