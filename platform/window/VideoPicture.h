// A camera picture on the OpenGL view: 2vuy (UYVY) uploaded as it comes, half as wide
// in RGBA texels, and I420 as three planes, each turned into RGB by a fragment shader
// (BT.601, video range), drawn scaled into the view with its aspect kept. The thread
// with the view's context current makes, uploads and draws it.
#pragma once

#include <cstdint>
#include <string>

namespace orva {

class VideoPicture {
public:
    enum class Layout { UYVY, I420 };

    // Compiles the shaders in the current context; ok() tells whether that worked.
    VideoPicture();
    ~VideoPicture();
    VideoPicture(const VideoPicture&) = delete;
    VideoPicture& operator=(const VideoPicture&) = delete;

    bool ok() const { return mUyvyProgram != 0 && mI420Program != 0; }
    const std::string& error() const { return mError; }
    // Takes a picture of `width`x`height` (even sizes) laid out as `layout`.
    void upload(Layout layout, const uint8_t* bytes, uint32_t width, uint32_t height);
    // Whether a picture was uploaded.
    bool hasPicture() const { return mWidth != 0; }
    // Draws the picture centred in a view of `viewWidth`x`viewHeight` pixels (the
    // projection is the view's pixels, origin at the bottom left).
    void draw(int viewWidth, int viewHeight);

private:
    unsigned texture(int index, int width, int height, bool packed);

    unsigned mUyvyProgram = 0, mI420Program = 0;
    unsigned mTextures[3] = {0, 0, 0};
    int mTextureSize[3][2] = {};
    Layout mLayout = Layout::UYVY;
    uint32_t mWidth = 0, mHeight = 0;
    std::string mError;
};

} // namespace orva
