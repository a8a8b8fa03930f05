#include "platform/graphics/HeadlessGLContext.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

namespace orva {

std::unique_ptr<HeadlessGLContext> HeadlessGLContext::create(int width, int height, std::string* error)
{
    auto fail = [&](const char* why) -> std::unique_ptr<HeadlessGLContext> {
        if (error) *error = why;
        return nullptr;
    };
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return fail("the size is not usable");
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = getPlatformDisplay ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                                            : EGL_NO_DISPLAY;
    if (display == EGL_NO_DISPLAY) return fail("no surfaceless EGL display (Mesa's EGL is needed)");
    if (!eglInitialize(display, nullptr, nullptr)) return fail("EGL did not initialise");
    if (!eglBindAPI(EGL_OPENGL_API)) return fail("EGL has no desktop OpenGL");
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) return fail("no OpenGL compatibility context");
    std::unique_ptr<HeadlessGLContext> gl(new HeadlessGLContext);
    gl->mDisplay = display;
    gl->mContext = context;
    gl->mWidth = width;
    gl->mHeight = height;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return fail("the context cannot be made current");

    glGenFramebuffers(1, &gl->mFramebuffer);
    glGenRenderbuffers(1, &gl->mColor);
    glGenRenderbuffers(1, &gl->mDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, gl->mColor);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, gl->mDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, gl->mFramebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, gl->mColor);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, gl->mDepth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return fail("the framebuffer is incomplete");
    usePixelCoordinates(width, height);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return gl;
}

void HeadlessGLContext::usePixelCoordinates(int width, int height)
{
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

HeadlessGLContext::~HeadlessGLContext()
{
    auto display = static_cast<EGLDisplay>(mDisplay);
    if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, static_cast<EGLContext>(mContext))) {
        if (mFramebuffer) glDeleteFramebuffers(1, &mFramebuffer);
        if (mColor) glDeleteRenderbuffers(1, &mColor);
        if (mDepth) glDeleteRenderbuffers(1, &mDepth);
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, static_cast<EGLContext>(mContext));
}

void HeadlessGLContext::makeCurrent()
{
    eglMakeCurrent(static_cast<EGLDisplay>(mDisplay), EGL_NO_SURFACE, EGL_NO_SURFACE, static_cast<EGLContext>(mContext));
    glBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
}

void HeadlessGLContext::release()
{
    eglMakeCurrent(static_cast<EGLDisplay>(mDisplay), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

std::vector<uint8_t> HeadlessGLContext::readPixelsTopDown()
{
    std::vector<uint8_t> bottomUp(static_cast<size_t>(mWidth) * mHeight * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, mWidth, mHeight, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    std::vector<uint8_t> topDown(bottomUp.size());
    const size_t row = static_cast<size_t>(mWidth) * 4;
    for (int y = 0; y < mHeight; ++y)
        std::copy_n(bottomUp.data() + static_cast<size_t>(y) * row, row,
                    topDown.data() + static_cast<size_t>(mHeight - 1 - y) * row);
    return topDown;
}

std::array<uint8_t, 4> HeadlessGLContext::pixel(int x, int y)
{
    std::array<uint8_t, 4> rgba{};
    if (x < 0 || y < 0 || x >= mWidth || y >= mHeight) return rgba;
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

std::string HeadlessGLContext::renderer() const
{
    const auto* text = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return text ? text : "?";
}

} // namespace orva
