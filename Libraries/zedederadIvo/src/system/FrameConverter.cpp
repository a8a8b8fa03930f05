#include "FrameConverter.h"

#include <turbojpeg.h>

#include <cstring>

namespace zi::sys {

void swapBytePairs(const uint8_t* in, uint8_t* out, size_t bytes)
{
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t word;
        std::memcpy(&word, in + i, 8);
        word = ((word & 0x00FF00FF00FF00FFull) << 8) | ((word >> 8) & 0x00FF00FF00FF00FFull);
        std::memcpy(out + i, &word, 8);
    }
    for (; i + 2 <= bytes; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
}

size_t rewriteShortStartCodes(const uint8_t* in, size_t length, uint8_t* out)
{
    size_t written = 0, copiedUpTo = 0;
    bool rewriting = false;
    const uint8_t* p = in + (length > 2 ? 2 : length);
    const uint8_t* end = in + length;
    while (p < end) {
        const void* hit = std::memchr(p, 0x01, static_cast<size_t>(end - p));
        if (!hit) break;
        const auto* one = static_cast<const uint8_t*>(hit);
        const size_t at = static_cast<size_t>(one - in);
        p = one + 1;
        if (one[-1] != 0 || one[-2] != 0) continue;
        if (at >= 3 && one[-3] == 0) continue; // already four bytes
        // A 3-byte code starts at at - 2: copy what lies before it, then one more zero.
        rewriting = true;
        std::memcpy(out + written, in + copiedUpTo, at - 2 - copiedUpTo);
        written += at - 2 - copiedUpTo;
        out[written++] = 0;
        copiedUpTo = at - 2;
    }
    if (!rewriting) return 0;
    std::memcpy(out + written, in + copiedUpTo, length - copiedUpTo);
    return written + length - copiedUpTo;
}

MjpegDecoder::MjpegDecoder() : mHandle(tjInitDecompress()) {}

MjpegDecoder::~MjpegDecoder()
{
    if (mHandle) tjDestroy(static_cast<tjhandle>(mHandle));
}

bool MjpegDecoder::prepare(uint32_t width, uint32_t height)
{
    if (!mHandle || width == 0 || height == 0 || width % 2) return false;
    mWidth = width;
    mHeight = height;
    // Room for the largest planes any subsampling gives (4:4:4).
    for (auto& plane : mPlanes) plane.assign(static_cast<size_t>(width) * height, 128);
    return true;
}

namespace {

// One row of 2vuy from a luma row and the chroma rows that cover it; `step` is how
// many luma pixels share one chroma sample horizontally (1, 2 or 4).
void packRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, uint32_t width, uint32_t step)
{
    if (step == 2) {
        for (uint32_t x = 0; x < width / 2; ++x) {
            out[4 * x] = u[x];
            out[4 * x + 1] = y[2 * x];
            out[4 * x + 2] = v[x];
            out[4 * x + 3] = y[2 * x + 1];
        }
        return;
    }
    for (uint32_t x = 0; x < width / 2; ++x) {
        const uint32_t c = 2 * x / step;
        out[4 * x] = u[c];
        out[4 * x + 1] = y[2 * x];
        out[4 * x + 2] = v[c];
        out[4 * x + 3] = y[2 * x + 1];
    }
}

} // namespace

bool MjpegDecoder::decode(const uint8_t* jpeg, size_t length, uint8_t* out)
{
    if (!mHandle || mWidth == 0 || jpeg == nullptr || length < 4) return false;
    auto handle = static_cast<tjhandle>(mHandle);
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg, static_cast<unsigned long>(length), &width, &height, &subsampling,
                            &colorspace) != 0)
        return false;
    if (width != static_cast<int>(mWidth) || height != static_cast<int>(mHeight)) return false;
    const bool gray = subsampling == TJSAMP_GRAY;
    const int chromaWidth = gray ? 0 : tjPlaneWidth(1, width, subsampling);
    const int chromaHeight = gray ? 0 : tjPlaneHeight(1, height, subsampling);
    if (!gray && (chromaWidth <= 0 || chromaHeight <= 0 || chromaWidth > width || chromaHeight > height)) return false;
    unsigned char* planes[3] = {mPlanes[0].data(), mPlanes[1].data(), mPlanes[2].data()};
    int strides[3] = {width, chromaWidth, chromaWidth};
    if (tjDecompressToYUVPlanes(handle, jpeg, static_cast<unsigned long>(length), planes, width, strides, height,
                                TJFLAG_FASTDCT) != 0 &&
        tjGetErrorCode(handle) == TJERR_FATAL)
        return false;
    static const uint8_t neutral[2] = {128, 128};
    const uint32_t step = gray ? 0 : (static_cast<uint32_t>(width) + chromaWidth - 1) / chromaWidth;
    for (uint32_t row = 0; row < mHeight; ++row) {
        const uint8_t* y = planes[0] + static_cast<size_t>(row) * width;
        uint8_t* line = out + static_cast<size_t>(row) * mWidth * 2;
        if (gray) {
            for (uint32_t x = 0; x < mWidth / 2; ++x) {
                line[4 * x] = neutral[0];
                line[4 * x + 1] = y[2 * x];
                line[4 * x + 2] = neutral[1];
                line[4 * x + 3] = y[2 * x + 1];
            }
            continue;
        }
        const size_t chromaRow = static_cast<size_t>(row) * chromaHeight / mHeight;
        packRow(y, planes[1] + chromaRow * chromaWidth, planes[2] + chromaRow * chromaWidth, line, mWidth,
                step == 0 ? 1 : step);
    }
    return true;
}

} // namespace zi::sys
