// orva capture-audio [--mic M] [--format lpcm:48000:2:16|aac:48000:2] [--seconds N] [--out FILE]
#include "Cli.h"

#include <orva/OrvaAudioDevice.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace orva;

namespace cli {

namespace {

// The 7-byte ADTS header that lets a player read raw AAC packets from a file.
bool adtsHeader(uint32_t rate, uint32_t channels, uint32_t packetLength, std::array<uint8_t, 7>& h)
{
    static constexpr uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};
    uint32_t index = 0;
    while (index < std::size(kRates) && kRates[index] != rate) ++index;
    const uint32_t frameLength = packetLength + 7;
    if (index == std::size(kRates) || channels == 0 || channels > 7 || frameLength > 0x1FFF) return false;
    const uint32_t profile = 1; // AAC LC (object type 2) minus one
    h[0] = 0xFF;
    h[1] = 0xF1; // MPEG-4, layer 0, no CRC
    h[2] = static_cast<uint8_t>((profile << 6) | (index << 2) | (channels >> 2));
    h[3] = static_cast<uint8_t>(((channels & 3) << 6) | (frameLength >> 11));
    h[4] = static_cast<uint8_t>((frameLength >> 3) & 0xFF);
    h[5] = static_cast<uint8_t>(((frameLength & 7) << 5) | 0x1F);
    h[6] = 0xFC;
    return true;
}

// Counts buffers and bytes on the capture thread and writes them as they come.
class BufferSink : public OrvaAVDeviceDelegate {
public:
    BufferSink(FILE* out, bool adts, uint32_t rate, uint32_t channels)
        : mOut(out), mADTS(adts), mRate(rate), mChannels(channels)
    {
    }
    void didCaptureFrame(const void* data, uint32_t length, int64_t, const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        mBuffers++;
        mBytes += length;
        if (!mOut || length == 0) return;
        if (mADTS) {
            std::array<uint8_t, 7> header{};
            if (!adtsHeader(mRate, mChannels, length, header)) {
                mWriteFailed = true;
                return;
            }
            if (std::fwrite(header.data(), 1, header.size(), mOut) != header.size()) mWriteFailed = true;
        }
        if (std::fwrite(data, 1, length, mOut) != length) mWriteFailed = true;
    }
    std::atomic<int64_t> mBuffers{0}, mBytes{0};
    std::atomic<bool> mWriteFailed{false};

private:
    FILE* mOut;
    bool mADTS;
    uint32_t mRate, mChannels;
};

} // namespace

int runCaptureAudio(Args& args)
{
    const auto micChoice = args.option("mic");
    const std::string formatText = args.option("format").value_or("lpcm:48000:2:16");
    const auto secondsText = args.option("seconds");
    const auto outPath = args.option("out");
    if (!checkArgs("capture-audio", args, 0)) return 2;
    double seconds = 5;
    if (!readSeconds("capture-audio", "seconds", secondsText, seconds)) return 2;
    const auto choice = parseAudioFormat(formatText);
    if (!choice) {
        std::fprintf(stderr,
                     "orva capture-audio: --format is lpcm:RATE:CHANNELS:16 or aac:RATE:CHANNELS, e.g. "
                     "aac:48000:2, not \"%s\"\n",
                     formatText.c_str());
        return 2;
    }
    auto mic = openMicrophone("capture-audio", micChoice);
    if (!mic) return 1;
    const auto chosen = findAudioFormat(*mic, *choice);
    if (!chosen) {
        std::fprintf(stderr, "orva capture-audio: %s has no format %s; see orva audio-formats\n",
                     mic->deviceInfo()->nameText().c_str(), formatText.c_str());
        return 1;
    }
    FILE* out = nullptr;
    if (outPath) {
        out = std::fopen(outPath->c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "orva capture-audio: cannot create \"%s\": %s\n", outPath->c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    mic->setFormat(chosen);
    auto sink = std::make_shared<BufferSink>(out, choice->tag == kAudioFormatMPEG4AAC, choice->rate, choice->channels);
    mic->addDelegate(sink);
    const int32_t started = mic->startCapture();
    if (started != 0) {
        std::fprintf(stderr, "orva capture-audio: the microphone did not start (status %d%s)\n", started,
                     started == 5 ? ": it is in use" : "");
        if (out) std::fclose(out);
        return 1;
    }
    std::printf("Capturing %s from %s for %.1f s%s%s. Ctrl-C stops.\n", formatText.c_str(),
                mic->deviceInfo()->nameText().c_str(), seconds, out ? " into " : "", out ? outPath->c_str() : "");
    runFor(seconds, 0.25, [&](double elapsed) {
        std::printf("\r  %5.1f s  %6lld buffers  %8.3f MB", elapsed, static_cast<long long>(sink->mBuffers.load()),
                    sink->mBytes.load() / 1e6);
        std::fflush(stdout);
    });
    const int32_t stopped = mic->stopCapture();
    mic->removeDelegate(sink);
    mic->closeDevice();
    if (out && std::fclose(out) != 0) sink->mWriteFailed = true;
    std::printf("\nCaptured %lld buffers, %.3f MB%s%s%s\n", static_cast<long long>(sink->mBuffers.load()),
                sink->mBytes.load() / 1e6, out ? (choice->tag == kAudioFormatMPEG4AAC ? "; ADTS AAC in " : "; raw PCM in ") : "",
                out ? outPath->c_str() : "", out && choice->tag == kAudioFormatLinearPCM ? " (signed 16-bit little-endian, interleaved)" : "");
    if (sink->mWriteFailed) {
        std::fprintf(stderr, "orva capture-audio: writing \"%s\" failed (disk full?)\n", outPath->c_str());
        return 1;
    }
    return stopped == 0 && sink->mBuffers.load() > 0 ? 0 : 1;
}

} // namespace cli
