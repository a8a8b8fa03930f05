// The anchor the recording path is measured against: libavformat's QuickTime muxer
// fed frames directly, in the same process, with nothing between (no queue, no
// second thread, no working file). H.264 goes in as the camera gives it (Annex B,
// which the muxer converts itself), 2vuy as raw video, PCM as it is. `fragmented`
// writes what a crash leaves playable (a fragment a second), as the recorder's
// working file is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvabench {

class MovieMuxer {
public:
    // video: 'avc1' (the first frame must carry SPS and PPS) or '2vuy'.
    MovieMuxer(const std::string& path, uint32_t videoCodec, int width, int height, int fps, int audioRate,
               int audioChannels, bool fragmented = false);
    ~MovieMuxer();
    bool ok() const { return mOk; }
    // Times in microseconds.
    void addVideo(const uint8_t* data, size_t size, int64_t time, bool key);
    void addAudio(const uint8_t* data, size_t size, int64_t time);
    void close();

private:
    bool writeHeader(const uint8_t* firstFrame, size_t size);
    void* mContext = nullptr; // AVFormatContext*
    std::string mPath;
    uint32_t mCodec;
    int mWidth, mHeight, mFps, mRate, mChannels;
    bool mFragmented;
    bool mOk = true, mHeaderWritten = false;
};

} // namespace orvabench
