#include <orva/GLContext.h>

#include <EGL/egl.h>

namespace orva {

GLContext::Handle GLContext::current()
{
    Handle h;
    h.context = eglGetCurrentContext();
    if (h.context == EGL_NO_CONTEXT) return {};
    h.display = eglGetCurrentDisplay();
    h.drawSurface = eglGetCurrentSurface(EGL_DRAW);
    h.readSurface = eglGetCurrentSurface(EGL_READ);
    return h;
}

bool GLContext::runInContext(const Handle& context, const std::function<void()>& work)
{
    if (!context) return false;
    const Handle previous = current();
    if (previous == context) {
        work();
        return true;
    }
    if (!eglMakeCurrent(static_cast<EGLDisplay>(context.display), static_cast<EGLSurface>(context.drawSurface),
                        static_cast<EGLSurface>(context.readSurface), static_cast<EGLContext>(context.context)))
        return false;
    work();
    if (previous)
        eglMakeCurrent(static_cast<EGLDisplay>(previous.display), static_cast<EGLSurface>(previous.drawSurface),
                       static_cast<EGLSurface>(previous.readSurface), static_cast<EGLContext>(previous.context));
    else
        eglMakeCurrent(static_cast<EGLDisplay>(context.display), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    return true;
}

// The Apple enums raise GL_INVALID_ENUM on Mesa, and no entry point says reliably
// whether the extension exists, so these are never sent.
void GLContext::textureRange(unsigned, size_t, const void*) {}
void GLContext::setStorageHintCached(unsigned) {}
void GLContext::setClientStorage(bool) {}

} // namespace orva
