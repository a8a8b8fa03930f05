#include "CameraStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace orvabench {

size_t CameraStream::bytes() const
{
    size_t n = 0;
    for (const auto& f : frames) n += f.size();
    return n;
}

namespace {

// Sensor noise: a cheap generator (xorshift), -12 to +12.
struct Noise {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    int next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<int>(state % 25) - 12;
    }
};

// A picture a camera might see: a gradient that drifts, a bright block that moves,
// and sensor noise on every pixel (which is what makes real streams dense).
void drawNoisyFrame(AVFrame* frame, int index, Noise& noise)
{
    for (int y = 0; y < frame->height; ++y) {
        uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x) {
            int v = ((x + index * 4) / 8 + y / 6) % 200 + 28 + noise.next();
            if (std::abs(x - (index * 23) % frame->width) < 120 && std::abs(y - 400) < 120) v = 235;
            row[x] = static_cast<uint8_t>(std::clamp(v, 16, 235));
        }
    }
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < frame->height / 2; ++y) {
            uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
            for (int x = 0; x < frame->width / 2; ++x)
                row[x] = static_cast<uint8_t>(128 + ((x + y + index) % 32) - 16 + noise.next() / 3);
        }
}

CameraStream encode(int megabitsPerSecond, int seconds)
{
    CameraStream stream;
    stream.width = 1920;
    stream.height = 1080;
    stream.fps = 30;
    stream.bitrate = megabitsPerSecond * 1000000;
    av_log_set_level(AV_LOG_ERROR); // the encoder's statistics are not figures
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return stream;
    c->width = stream.width;
    c->height = stream.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, stream.fps};
    c->framerate = AVRational{stream.fps, 1};
    c->gop_size = stream.fps;
    c->max_b_frames = 0;
    c->bit_rate = stream.bitrate;
    c->rc_max_rate = stream.bitrate;
    c->rc_buffer_size = stream.bitrate; // a second of buffer, as a camera's encoder
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "x264-params", "repeat-headers=1:slices=4", 0); // several slices: several start codes
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (avcodec_open2(c, codec, nullptr) == 0 && frame && packet) {
        frame->format = c->pix_fmt;
        frame->width = c->width;
        frame->height = c->height;
        av_frame_get_buffer(frame, 0);
        Noise noise;
        auto drain = [&] {
            while (avcodec_receive_packet(c, packet) == 0) {
                stream.frames.emplace_back(packet->data, packet->data + packet->size);
                av_packet_unref(packet);
            }
        };
        for (int i = 0; i < seconds * stream.fps; ++i) {
            av_frame_make_writable(frame);
            drawNoisyFrame(frame, i, noise);
            frame->pts = i;
            if (avcodec_send_frame(c, frame) < 0) break;
            drain();
        }
        avcodec_send_frame(c, nullptr);
        drain();
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return stream;
}

} // namespace

const CameraStream& cameraStream(int megabitsPerSecond, int seconds)
{
    static std::mutex mutex;
    static std::map<std::pair<int, int>, CameraStream> streams;
    std::lock_guard lock(mutex);
    auto it = streams.find({megabitsPerSecond, seconds});
    if (it == streams.end()) it = streams.emplace(std::pair{megabitsPerSecond, seconds}, encode(megabitsPerSecond, seconds)).first;
    return it->second;
}

std::vector<uint8_t> withFourByteStartCodes(const std::vector<uint8_t>& frame)
{
    std::vector<uint8_t> out;
    out.reserve(frame.size() + 64);
    for (size_t i = 0; i < frame.size(); ++i) {
        if (i + 3 <= frame.size() && frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 &&
            (i == 0 || frame[i - 1] != 0))
            out.push_back(0);
        out.push_back(frame[i]);
    }
    return out;
}

size_t lastLevelCacheBytes()
{
    size_t largest = 0;
    for (int index = 0; index < 8; ++index) {
        std::ifstream size("/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/size");
        std::string text;
        if (!(size >> text)) break;
        size_t value = std::stoul(text);
        if (text.back() == 'K') value *= 1024;
        if (text.back() == 'M') value *= 1024 * 1024;
        largest = std::max(largest, value);
    }
    return largest ? largest : size_t{32} << 20;
}

std::vector<std::vector<uint8_t>> workingSet(const std::vector<std::vector<uint8_t>>& frames, size_t bytes)
{
    std::vector<std::vector<uint8_t>> set;
    size_t total = 0;
    while (total < bytes && !frames.empty())
        for (const auto& f : frames) {
            set.push_back(f);
            total += f.size();
        }
    return set;
}

std::vector<std::vector<uint8_t>> rawFrames(size_t count)
{
    std::vector<std::vector<uint8_t>> raw(count, std::vector<uint8_t>(size_t{1920} * 1080 * 2));
    uint32_t seed = 1;
    for (auto& frame : raw)
        for (size_t i = 0; i < frame.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            frame[i] = static_cast<uint8_t>((i / 64) + (seed >> 28));
        }
    return raw;
}

} // namespace orvabench
