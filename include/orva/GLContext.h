/// @file
/// The OpenGL context current on the calling thread (through EGL), remembered as a
/// handle so that work can be done in it later from the same thread while another
/// context is current (a texture deleted in the context it was made in). The Apple
/// texture-range and client-storage hints have no counterpart here and do nothing.
/// Everything acts on the calling thread's current context.
#pragma once

#include <orva/OrvaExport.h>

#include <cstddef>
#include <functional>

namespace orva {

/// The calling thread's current OpenGL context.
class ORVA_EXPORT GLContext {
public:
    /// A remembered context: the EGL display, context and surfaces.
    struct Handle {
        void* display = nullptr;     ///< the EGLDisplay
        void* context = nullptr;     ///< the EGLContext; null: no context
        void* drawSurface = nullptr; ///< the EGLSurface drawn to (may be none)
        void* readSurface = nullptr; ///< the EGLSurface read from (may be none)
        /// Whether it names a context.
        explicit operator bool() const { return context != nullptr; }
        /// Equal when all four are.
        bool operator==(const Handle&) const = default;
    };

    /// The current context, or an empty handle when none is current.
    static Handle current();
    /// Makes `context` current, runs `work`, makes the previous context current again;
    /// false (nothing run) when the context cannot be made current.
    static bool runInContext(const Handle& context, const std::function<void()>& work);

    /// @name Texture hints
    /// The texture-range hint (glTextureRangeAPPLE), the cached storage hint and client
    /// storage: no-ops, since the extension does not exist on this platform.
    ///@{
    static void textureRange(unsigned target, size_t length, const void* pointer); ///< no-op
    static void setStorageHintCached(unsigned target);                              ///< no-op
    static void setClientStorage(bool on);                                          ///< no-op
    ///@}
};

} // namespace orva
