#include "TestPattern.h"

#include <algorithm>
#include <cstdlib>

namespace zi {

namespace {

struct Yuv {
    uint8_t y, u, v;
};

// Eight bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[8] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                          {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
constexpr Yuv kWhite{235, 128, 128};

// One frame's layout: scrolling bars, a bouncing square, a counter strip at the bottom.
struct Layout {
    std::vector<Yuv> barRow, stripRow;
    uint32_t squareX, squareY, side, stripTop;

    Layout(uint32_t w, uint32_t h, int64_t frame) : barRow(w), stripRow(w)
    {
        side = std::max<uint32_t>(h / 6, 8);
        const int64_t spanX = std::max<int64_t>(static_cast<int64_t>(w) - side, 1);
        const int64_t spanY = std::max<int64_t>(static_cast<int64_t>(h) - side, 1);
        squareX = static_cast<uint32_t>(std::llabs((frame * 7) % (2 * spanX) - spanX));
        squareY = static_cast<uint32_t>(std::llabs((frame * 5) % (2 * spanY) - spanY));
        stripTop = h - h / 12;
        for (uint32_t x = 0; x < w; ++x) {
            barRow[x] = kBars[static_cast<uint32_t>((x + static_cast<uint64_t>(frame) * 4) * 8 / w) % 8];
            const uint32_t cell = x * 16 / w;
            stripRow[x] = ((frame >> (15 - cell)) & 1) ? Yuv{200, 128, 128} : Yuv{40, 128, 128};
        }
    }
    Yuv at(uint32_t x, uint32_t y) const
    {
        if (x >= squareX && x < squareX + side && y >= squareY && y < squareY + side) return kWhite;
        return y > stripTop ? stripRow[x] : barRow[x];
    }
};

} // namespace

void drawPattern420(std::vector<uint8_t>& out, uint32_t w, uint32_t h, int64_t frame)
{
    out.resize(static_cast<size_t>(w) * h * 3 / 2);
    const Layout layout(w, h, frame);
    uint8_t* yPlane = out.data();
    uint8_t* uPlane = yPlane + static_cast<size_t>(w) * h;
    uint8_t* vPlane = uPlane + static_cast<size_t>(w / 2) * (h / 2);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = yPlane + static_cast<size_t>(y) * w;
        for (uint32_t x = 0; x < w; ++x) row[x] = layout.at(x, y).y;
        if (y & 1) continue;
        uint8_t* u = uPlane + static_cast<size_t>(y / 2) * (w / 2);
        uint8_t* v = vPlane + static_cast<size_t>(y / 2) * (w / 2);
        for (uint32_t x = 0; x + 1 < w; x += 2) {
            const Yuv p = layout.at(x, y);
            u[x / 2] = p.u;
            v[x / 2] = p.v;
        }
    }
}

void drawPattern2vuy(std::vector<uint8_t>& out, uint32_t w, uint32_t h, int64_t frame)
{
    out.assign(static_cast<size_t>(w) * h * 2, 0);
    const Layout layout(w, h, frame);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* p = out.data() + static_cast<size_t>(y) * w * 2;
        for (uint32_t x = 0; x + 1 < w; x += 2) {
            const Yuv a = layout.at(x, y);
            const Yuv b = layout.at(x + 1, y);
            *p++ = a.u;
            *p++ = a.y;
            *p++ = a.v;
            *p++ = b.y;
        }
    }
}

} // namespace zi
