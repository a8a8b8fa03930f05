#include <orva/CameraStatusDisplay.h>

#include "platform/graphics/BitmapContext.h"
#include <orva/GLContext.h>
#include "platform/graphics/ImageReader.h"

#include <GL/gl.h>
#include <GL/glext.h>

namespace orva {

CameraStatusDisplay::CameraStatusDisplay(const std::string& statusImagePath)
{
    mSize = getImage(statusImagePath, mImage);
    if (!mImage.empty()) createTexture(mImage, mSize);
}

CameraStatusDisplay::~CameraStatusDisplay()
{
    cleanup();
}

Size CameraStatusDisplay::getImage(const std::string& path, std::vector<uint8_t>& rawData)
{
    const auto image = ImageReader::read(path);
    if (!image) return {};
    const int w = image->width, h = image->height;
    auto context = BitmapContext::create(w, h);
    if (!context) return {};
    // Flipped so that the image's top row lands at the end of the buffer.
    context->translate(0, h);
    context->scale(1, -1);
    context->drawImage(*image, {{0, 0}, {static_cast<double>(w), static_cast<double>(h)}}, /*copy*/ true);
    // The context's rows run from the top of its own space, which the flip has made
    // the image's bottom: the buffer holds the image bottom-up.
    std::vector<uint8_t> pixels = context->premultipliedABGR();
    const size_t bytes = static_cast<size_t>(w) * h * 4;
    for (size_t i = 0; i < bytes; i += 4) {
        pixels[i] = pixels[i + 1] > 0x80 ? 0xFF : 0x00;
        pixels[i + 3] = 0xFF;
    }
    if (rawData.size() < bytes) rawData.resize(bytes);
    std::copy(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(bytes), rawData.begin());
    return {static_cast<double>(w), static_cast<double>(h)};
}

void CameraStatusDisplay::createTexture(const std::vector<uint8_t>& buffer, Size size)
{
    glGenTextures(1, &mTexture);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    GLContext::textureRange(GL_TEXTURE_RECTANGLE_ARB, static_cast<size_t>(size.width * size.height * 4), buffer.data());
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexture);
    GLContext::setStorageHintCached(GL_TEXTURE_RECTANGLE_ARB);
    GLContext::setClientStorage(true);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGBA8, static_cast<GLsizei>(size.width),
                 static_cast<GLsizei>(size.height), 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, buffer.data());
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
}

void CameraStatusDisplay::renderStatus()
{
    if (mImage.empty()) return;
    const Size view = viewSize();
    const double W = view.width, H = view.height, w = mSize.width, h = mSize.height;
    auto half = [](double v) { return static_cast<float>(v) * 0.5f; };
    const GLfloat vertices[] = {half(W - w), half(H - h), 0, half(W - w), half(H + h), 0,
                                half(W + w), half(H + h), 0, half(W + w), half(H - h), 0};
    const auto fw = static_cast<GLfloat>(w), fh = static_cast<GLfloat>(h);
    const GLfloat texCoords[] = {0, 0, 0, fh, fw, fh, fw, 0};
    glColor4f(1, 1, 1, 1);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, mTexture);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glDrawArrays(GL_QUADS, 0, 4);
    glPopMatrix();
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
    glFlush();
}

void CameraStatusDisplay::cleanup()
{
    if (mTexture != 0) {
        glDeleteTextures(1, &mTexture);
        mTexture = 0;
    }
    mImage.clear();
    mImage.shrink_to_fit();
}

Size CameraStatusDisplay::viewSize() const
{
    std::lock_guard lock(mViewSizeLock);
    return mViewSize;
}

void CameraStatusDisplay::setViewSize(Size size)
{
    std::lock_guard lock(mViewSizeLock);
    mViewSize = size;
}

} // namespace orva
