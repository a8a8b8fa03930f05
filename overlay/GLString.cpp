#include <orva/GLString.h>

#include "overlay/RoundRect.h"
#include "platform/foundation/SystemLog.h"
#include "platform/graphics/BitmapContext.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>

namespace orva {

namespace {
const Color kOpaqueWhite{1, 1, 1, 1};
const Color kClearWhite{1, 1, 1, 0};
} // namespace

GLString::GLString(AttributedString string, Color textColor, Color boxColor, Color borderColor)
    : mString(std::move(string)), mTextColor(textColor), mBoxColor(boxColor), mBorderColor(borderColor)
{
}

GLString::GLString(const std::string& string, const TextAttributes& attributes, Color textColor, Color boxColor,
                   Color borderColor)
    : GLString(AttributedString(string, attributes), textColor, boxColor, borderColor)
{
}

GLString::GLString(AttributedString string) : GLString(std::move(string), kOpaqueWhite, kClearWhite, kClearWhite) {}

GLString::GLString(const std::string& string, const TextAttributes& attributes)
    : GLString(AttributedString(string, attributes))
{
}

GLString::~GLString()
{
    deleteTexture();
}

void GLString::setString(AttributedString string)
{
    mString = std::move(string);
    if (!mStaticFrame) mFrameSize = {};
    mRequiresUpdate = true;
}

void GLString::setString(const std::string& string, const TextAttributes& attributes)
{
    setString(AttributedString(string, attributes));
}

void GLString::setTextColor(Color color)
{
    mTextColor = color;
    mRequiresUpdate = true;
}

void GLString::setBoxColor(Color color)
{
    mBoxColor = color;
    mRequiresUpdate = true;
}

void GLString::setBorderColor(Color color)
{
    mBorderColor = color;
    mRequiresUpdate = true;
}

void GLString::setMargins(Size margins)
{
    mMarginSize = margins;
    if (!mStaticFrame) mFrameSize = {};
    mRequiresUpdate = true;
}

void GLString::setAntialias(bool antialias)
{
    mAntialias = antialias;
    mRequiresUpdate = true;
}

void GLString::useStaticFrame(Size frame)
{
    mFrameSize = frame;
    mStaticFrame = true;
    mRequiresUpdate = true;
}

void GLString::useDynamicFrame()
{
    if (!mStaticFrame) return;
    mStaticFrame = false;
    mFrameSize = {};
    mRequiresUpdate = true;
}

Size GLString::frameSize()
{
    if (!mStaticFrame && mFrameSize.width == 0 && mFrameSize.height == 0) {
        const Size text = mString.size();
        mFrameSize = {text.width + 2 * mMarginSize.width, text.height + 2 * mMarginSize.height};
    }
    return mFrameSize;
}

void GLString::genTexture()
{
    const Size previousSize = mTexSize;
    const Size frame = frameSize();
    mContext = GLContext::current();
    if (!mContext) {
        SystemLog::write(kNoContextLine);
        mRequiresUpdate = false;
        return;
    }
    // The bitmap: one pixel per point (at least one pixel, so an empty text still
    // works), no larger than the largest texture the context takes: a longer label is
    // cut at that edge rather than drawing nothing.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE_ARB, &largest);
    if (largest <= 0) largest = 2048; // the least any context offers
    const int wanted = std::max(1, static_cast<int>(std::ceil(frame.width)));
    const int wantedHeight = std::max(1, static_cast<int>(std::ceil(frame.height)));
    const int width = std::min(wanted, static_cast<int>(largest));
    const int height = std::min(wantedHeight, static_cast<int>(largest));
    if (width != wanted || height != wantedHeight)
        SystemLog::log("GLString: the label is %dx%d pixels, larger than the largest texture (%d); it is cut to %dx%d",
                       wanted, wantedHeight, static_cast<int>(largest), width, height);
    auto image = BitmapContext::create(width, height);
    if (!image) {
        mRequiresUpdate = false;
        return;
    }
    image->setShouldAntialias(mAntialias);
    const Rect box{{0.5, 0.5}, {frame.width - 1.0, frame.height - 1.0}};
    if (mBoxColor.alpha != 0) {
        image->setColor(mBoxColor);
        image->fillPath(bezierPathWithRoundedRect(box, mCRadius));
    }
    if (mBorderColor.alpha != 0) {
        image->setColor(mBorderColor);
        image->strokePath(bezierPathWithRoundedRect(box, mCRadius), 1.0);
    }
    // Drawn upside down: the bitmap's first row goes to the quad's lower edge.
    image->saveGState();
    image->translate(0, height == wantedHeight ? frame.height : height);
    image->scale(1, -1);
    image->setColor(mTextColor);
    image->drawAttributedString(mString, {mMarginSize.width, mMarginSize.height});
    image->restoreGState();
    const std::vector<uint8_t> pixels = image->premultipliedRGBA();
    mTexSize = {static_cast<double>(width), static_cast<double>(height)};

    glPushAttrib(GL_TEXTURE_BIT);
    const bool generated = mTexName == 0;
    if (generated) glGenTextures(1, &mTexName);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexName);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    const auto w = static_cast<GLsizei>(mTexSize.width), h = static_cast<GLsizei>(mTexSize.height);
    if (!generated && mTexSize == previousSize) {
        glTexSubImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        ++mSubImageUploads;
    } else {
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        ++mFullUploads;
    }
    glPopAttrib();
    mRequiresUpdate = false;
}

void GLString::drawWithBounds(const Rect& bounds)
{
    if (mRequiresUpdate) genTexture();
    if (mTexName == 0) return;
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA); // premultiplied alpha
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexName);
    const auto x = static_cast<float>(bounds.origin.x), y = static_cast<float>(bounds.origin.y);
    const auto w = static_cast<float>(bounds.size.width), h = static_cast<float>(bounds.size.height);
    const auto tw = static_cast<float>(mTexSize.width), th = static_cast<float>(mTexSize.height);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(x, y);
    glTexCoord2f(0, th);
    glVertex2f(x, y + h);
    glTexCoord2f(tw, th);
    glVertex2f(x + w, y + h);
    glTexCoord2f(tw, 0);
    glVertex2f(x + w, y);
    glEnd();
    glPopAttrib();
}

void GLString::drawAtPoint(Point point)
{
    if (mRequiresUpdate) genTexture();
    if (mTexName == 0) return;
    Rect rect{point, mTexSize};
    rect = mParentView ? mParentView->convertRectFromBacking(rect) : Rect{};
    rect.origin.y = point.y;
    drawWithBounds(rect);
}

void GLString::deleteTexture()
{
    if (mTexName == 0 || !mContext) return;
    const unsigned name = mTexName;
    (void)GLContext::runInContext(mContext, [name] { glDeleteTextures(1, &name); });
    mTexName = 0;
    mContext = {};
}

} // namespace orva
