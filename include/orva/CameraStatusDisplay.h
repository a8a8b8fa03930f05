/// @file
/// Shows a camera status image in the host's OpenGL view: the image is loaded once and
/// converted into a 32-bit buffer with a fixed colour treatment, a rectangle texture is
/// made from it, and renderStatus clears the view to black and draws the image centred
/// at one pixel per view unit. An image that cannot be read leaves no buffer, and
/// renderStatus then does nothing.
///
/// Threads: construction, renderStatus and cleanup make OpenGL calls on the thread that
/// has the host's context current. The view size may be set from any thread; it is
/// read and written whole under its own lock.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/BezierPath.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orva {

/// The camera's status image as an OpenGL texture, drawn into the host's view.
class ORVA_EXPORT CameraStatusDisplay {
public:
    /// Loads the image at the path and makes its texture in the current context.
    explicit CameraStatusDisplay(const std::string& statusImagePath);
    /// Deletes the texture (see cleanup()).
    ~CameraStatusDisplay();
    CameraStatusDisplay(const CameraStatusDisplay&) = delete;
    CameraStatusDisplay& operator=(const CameraStatusDisplay&) = delete;

    /// Loads and converts the image into *rawData (allocated when empty); its size in
    /// pixels, 0 × 0 (and no buffer) when the file cannot be read.
    static Size getImage(const std::string& path, std::vector<uint8_t>& rawData);
    /// Makes the rectangle texture of a converted buffer of `size` pixels.
    void createTexture(const std::vector<uint8_t>& buffer, Size size);
    /// Clears the view to black and draws the image centred; nothing without an image.
    void renderStatus();
    /// Deletes the texture and lets the buffer go.
    void cleanup();

    /// The host view's size in view units (any thread).
    Size viewSize() const;
    /// Sets the view's size (any thread), e.g. when the host's view is resized.
    void setViewSize(Size size);

    /// Whether an image was loaded.
    bool hasImage() const { return !mImage.empty(); }
    /// The image's size in pixels (0 × 0 without an image).
    Size imageSize() const { return mSize; }
    /// The texture's name (0 before one is made).
    unsigned texture() const { return mTexture; }
    /// The converted pixels (A, B, G, R bytes each, rows from the bottom).
    const std::vector<uint8_t>& buffer() const { return mImage; }

private:
    std::vector<uint8_t> mImage; ///< empty: no image
    unsigned mTexture = 0;
    Size mSize;
    mutable std::mutex mViewSizeLock;
    Size mViewSize;
};

} // namespace orva
