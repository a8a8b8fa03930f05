// Shows a camera status image in the host's OpenGL view: the image is loaded once and
// converted into a 32-bit buffer with a fixed colour treatment, a rectangle texture is
// made from it, and renderStatus clears the view to black and draws the image centred
// at one pixel per view unit. An image that cannot be read leaves no buffer, and
// renderStatus then does nothing.
//
// Threads: construction, renderStatus and cleanup make OpenGL calls on the thread that
// has the host's context current. The view size may be set from any thread; it is
// read and written whole under its own lock.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/BezierPath.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orva {

class ORVA_EXPORT CameraStatusDisplay {
public:
    explicit CameraStatusDisplay(const std::string& statusImagePath);
    ~CameraStatusDisplay();
    CameraStatusDisplay(const CameraStatusDisplay&) = delete;
    CameraStatusDisplay& operator=(const CameraStatusDisplay&) = delete;

    // Loads and converts the image into *rawData (allocated when empty); its size in
    // pixels, 0 × 0 (and no buffer) when the file cannot be read.
    static Size getImage(const std::string& path, std::vector<uint8_t>& rawData);
    void createTexture(const std::vector<uint8_t>& buffer, Size size);
    void renderStatus();
    void cleanup();

    Size viewSize() const;
    void setViewSize(Size size);

    bool hasImage() const { return !mImage.empty(); }
    Size imageSize() const { return mSize; }
    unsigned texture() const { return mTexture; }
    // The converted pixels (A, B, G, R bytes each, rows from the bottom).
    const std::vector<uint8_t>& buffer() const { return mImage; }

private:
    std::vector<uint8_t> mImage; // empty: no image
    unsigned mTexture = 0;
    Size mSize;
    mutable std::mutex mViewSizeLock;
    Size mViewSize;
};

} // namespace orva
