// orva capture-audio [--mic M] [--format lpcm:48000:2:16|aac:48000:2] [--seconds N] [--out FILE] [-y]
// PCM is written as a WAV file, AAC as ADTS frames: both play in common players.
#include "Cli.h"
#include "CaptureOptions.h"
#include "Terminal.h"
#include "DeviceChoice.h"
#include "FormatChoice.h"
#include "Commands.h"
#include "JsonWriter.h"
#include "OutputFile.h"
#include "UnplugWatch.h"

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

void put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// The data size of a WAV stream whose end is not known when its header is written
// (players read to the end of the stream).
constexpr uint32_t kUnknownLength = 0xFFFFFFFF;

// The 44-byte header of a WAV file of 16-bit PCM holding `dataBytes` bytes.
std::array<uint8_t, 44> wavHeader(uint32_t rate, uint32_t channels, uint32_t dataBytes)
{
    std::array<uint8_t, 44> h{};
    std::memcpy(h.data(), "RIFF", 4);
    put32(h.data() + 4, dataBytes == kUnknownLength ? kUnknownLength : 36 + dataBytes);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    put32(h.data() + 16, 16);
    put16(h.data() + 20, 1); // PCM
    put16(h.data() + 22, channels);
    put32(h.data() + 24, rate);
    put32(h.data() + 28, rate * channels * 2);
    put16(h.data() + 32, channels * 2);
    put16(h.data() + 34, 16);
    std::memcpy(h.data() + 36, "data", 4);
    put32(h.data() + 40, dataBytes);
    return h;
}

// Takes the buffers captured in the first `seconds` (by their capture times), counts
// them and writes them (with ADTS headers for AAC). Capture thread.
class BufferSink : public OrvaAVDeviceDelegate {
public:
    BufferSink(FILE* out, bool adts, uint32_t rate, uint32_t channels, double seconds)
        : mOut(out), mADTS(adts), mRate(rate), mChannels(channels), mSpan(static_cast<int64_t>(seconds * 1e6))
    {
    }
    void didCaptureFrame(const void* data, uint32_t length, int64_t timestamp,
                         const std::shared_ptr<OrvaDeviceInfo>&) override
    {
        if (mBuffers.load() == 0) mFirst = mLast = timestamp;
        // A buffer belongs when it starts before the end, counting half a buffer's
        // length (so capture jitter does not add or lose one at the end).
        if (timestamp - mFirst + (timestamp - mLast) / 2 >= mSpan) {
            mDone = true;
            return;
        }
        mLast = timestamp;
        mBuffers++;
        mBytes += length;
        if (!mOut || length == 0 || mPipeClosed) return;
        bool written = true;
        if (mADTS) {
            std::array<uint8_t, 7> header{};
            written = adtsHeader(mRate, mChannels, length, header) &&
                      std::fwrite(header.data(), 1, header.size(), mOut) == header.size();
        }
        written = written && std::fwrite(data, 1, length, mOut) == length;
        // A pipe's reader that stops reading ends the capture, as it ends cat.
        if (!written && errno == EPIPE) mPipeClosed = mDone = true;
        else if (!written) mWriteFailed = true;
    }
    std::atomic<int64_t> mBuffers{0}, mBytes{0};
    std::atomic<bool> mWriteFailed{false}, mDone{false}, mPipeClosed{false};

private:
    FILE* mOut;
    bool mADTS;
    uint32_t mRate, mChannels;
    int64_t mSpan;
    int64_t mFirst = 0, mLast = 0;
};

} // namespace

int runCaptureAudio(Invocation& invocation)
{
    const std::string formatText = invocation.value("format").value_or("lpcm:48000:2:16");
    const auto choice = parseAudioFormat(formatText);
    if (!choice)
        return invocation.fail(kExitUsage, "--format is lpcm:RATE:CHANNELS:16 or aac:RATE:CHANNELS, such as "
                                           "aac:48000:2, not \"%s\"", formatText.c_str());
    int status = kExitOk;
    const auto options = CaptureOptions::read(invocation, status);
    if (!options) return status;
    const auto& destination = options->destination;
    const auto& outPath = options->outPath;
    const bool piped = options->piped;
    const bool aac = choice->tag == kAudioFormatMPEG4AAC;
    FILE* const results = options->results(); // the sound may have standard output

    DeviceUse mic(openMicrophone(invocation, invocation.value("mic")));
    if (!mic) return kExitFailure;
    const auto chosen = findAudioFormat(*mic, *choice);
    if (!chosen) {
        return invocation.fail(kExitFailure, "%s has no format %s; see orva audio-formats",
                               mic->deviceInfo()->nameText().c_str(), formatText.c_str());
    }
    std::optional<OutputFile> file;
    if (destination) {
        file.emplace(invocation, *destination);
        if (!file->open()) {
            return kExitFailure;
        }
        if (!aac) { // the sizes are filled in at the end; a pipe's say "unknown length"
            const auto header = wavHeader(choice->rate, choice->channels, piped ? kUnknownLength : 0);
            std::fwrite(header.data(), 1, header.size(), file->stream());
        }
    }
    mic->setFormat(chosen);
    auto sink = std::make_shared<BufferSink>(file ? file->stream() : nullptr, aac, choice->rate, choice->channels,
                                             options->seconds);
    mic.addDelegate(sink);
    if (const int32_t started = mic->startCapture(); started != 0) {
        return invocation.fail(kExitFailure, "%s", startFailure(*mic, started).c_str());
    }
    std::fprintf(err(), "Capturing %s from %s for %g s%s. Ctrl-C stops.\n", formatText.c_str(),
                 mic->deviceInfo()->nameText().c_str(), options->seconds, options->into().c_str());
    Progress progress(invocation);
    UnplugWatch unplug(invocation, {mic->deviceInfo()});
    const bool wasInterrupted = runFor(options->seconds + 1, 0.25, [&](double elapsed) {
        progress.show("  %5.1f s  %6lld buffers  %8.3f MB", elapsed, static_cast<long long>(sink->mBuffers.load()),
                      sink->mBytes.load() / 1e6);
    }, [&] { return sink->mDone.load() || unplug.gone(); });
    progress.finish();
    const int32_t stopped = mic->stopCapture();

    if (file && !aac && !piped) {
        const auto header = wavHeader(choice->rate, choice->channels, static_cast<uint32_t>(sink->mBytes.load()));
        if (std::fseek(file->stream(), 0, SEEK_SET) != 0 ||
            std::fwrite(header.data(), 1, header.size(), file->stream()) != header.size())
            sink->mWriteFailed = true;
    }
    if (sink->mWriteFailed) return invocation.fail(kExitFailure, "writing \"%s\" failed (disk full?)", outPath->c_str());
    if (file && !file->commit()) return kExitFailure;
    const double frames = aac ? sink->mBuffers.load() * 1024.0
                              : static_cast<double>(sink->mBytes.load()) / (2.0 * choice->channels);
    const std::string where = options->where();
    if (invocation.json()) {
        JsonWriter json(results);
        json.beginObject()
            .field("device", mic->deviceInfo()->nameText())
            .field("format", formatText)
            .field("buffers", sink->mBuffers.load())
            .field("bytes", sink->mBytes.load())
            .field("seconds", frames / choice->rate);
        json.key("file");
        destination ? json.value(where) : json.null();
        json.field("kind", aac ? "adts" : "wav")
            .field("interrupted", wasInterrupted)
            .field("unplugged", unplug.gone().has_value())
            .endObject();
    } else {
        std::fprintf(results, "Captured %lld buffers, %.3f s, %.3f MB%s%s\n", static_cast<long long>(sink->mBuffers.load()),
                     frames / choice->rate, sink->mBytes.load() / 1e6,
                     destination ? (aac ? "; ADTS AAC in " : "; WAV (16-bit PCM) in ") : "", where.c_str());
    }
    if (sink->mPipeClosed) std::fprintf(err(), "orva capture-audio: the reader closed the pipe; the capture ended there\n");
    if (const auto gone = unplug.gone())
        return invocation.fail(kExitFailure, "%s was unplugged; what it sent before is kept", gone->c_str());
    if (sink->mBuffers.load() == 0) return invocation.fail(kExitFailure, "no audio came from the microphone");
    if (stopped != 0) return invocation.fail(kExitFailure, "the microphone did not stop cleanly (status %d)", stopped);
    return wasInterrupted ? kExitInterrupted : kExitOk;
}

} // namespace cli
