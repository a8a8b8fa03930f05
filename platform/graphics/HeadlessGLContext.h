// An OpenGL context with no display, for tests and the command-line host: Mesa
// through EGL's surfaceless platform, the compatibility profile, and a framebuffer
// object of the given size (RGBA8 colour and a depth buffer) as the drawing target,
// with a projection of one unit per pixel, origin at the lower left. Made current on
// the creating thread; used from that thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orva {

class HeadlessGLContext {
public:
    // Null, with the reason in `error`, when no such context can be made here.
    static std::unique_ptr<HeadlessGLContext> create(int width, int height, std::string* error = nullptr);
    ~HeadlessGLContext();
    HeadlessGLContext(const HeadlessGLContext&) = delete;
    HeadlessGLContext& operator=(const HeadlessGLContext&) = delete;

    // The current context's viewport and projection set to pixels of a width x height
    // surface, (0, 0) at the lower left: how the overlay draws (here and in a window).
    static void usePixelCoordinates(int width, int height);

    int width() const { return mWidth; }
    int height() const { return mHeight; }
    void makeCurrent();
    // Releases the context from this thread (no context current afterwards).
    void release();
    // The framebuffer's pixels as RGBA bytes, rows from the top (as an image file has them).
    std::vector<uint8_t> readPixelsTopDown();
    // The RGBA of one pixel, with (0, 0) at the lower left.
    std::array<uint8_t, 4> pixel(int x, int y);
    std::string renderer() const;

private:
    HeadlessGLContext() = default;
    void* mDisplay = nullptr;
    void* mContext = nullptr;
    unsigned mFramebuffer = 0, mColor = 0, mDepth = 0;
    int mWidth = 0, mHeight = 0;
};

} // namespace orva
