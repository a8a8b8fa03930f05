// A styled string drawn as an OpenGL rectangle texture: the text (optionally on a
// filled and outlined rounded box) is rendered into a bitmap, uploaded, and drawn as
// a quad. Every change only marks the texture for rebuilding; the next draw (or
// genTexture) rebuilds it, reusing the texture's storage when the size is unchanged.
//
// Threads: every operation that draws or rebuilds makes OpenGL calls and belongs to
// the thread that has the host's OpenGL context current. The object has no locking.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/AttributedString.h>
#include <orva/BezierPath.h>
#include <orva/Color.h>
#include <orva/GLContext.h>

#include <memory>

namespace orva {

// The host's view, as far as drawing needs it: the backing scale (pixels per point).
class ORVA_EXPORT GLStringParentView {
public:
    virtual ~GLStringParentView() = default;
    // A rectangle in backing pixels converted to the view's points.
    virtual Rect convertRectFromBacking(const Rect& rect) const = 0;
};

class ORVA_EXPORT GLString {
public:
    static constexpr const char* kNoContextLine = "StringTexture -genTexture: Failure to get current OpenGL context\n";

    GLString(AttributedString string, Color textColor, Color boxColor, Color borderColor);
    GLString(const std::string& string, const TextAttributes& attributes, Color textColor, Color boxColor,
             Color borderColor);
    // Opaque white text, no box, no border.
    explicit GLString(AttributedString string);
    GLString(const std::string& string, const TextAttributes& attributes);
    ~GLString();
    GLString(const GLString&) = delete;
    GLString& operator=(const GLString&) = delete;

    void setString(AttributedString string);
    void setString(const std::string& string, const TextAttributes& attributes);
    void setTextColor(Color color);
    void setBoxColor(Color color);
    void setBorderColor(Color color);
    void setMargins(Size margins);
    void setAntialias(bool antialias);
    void useStaticFrame(Size frame);
    void useDynamicFrame();

    unsigned texName() const { return mTexName; }
    Size texSize() const { return mTexSize; }
    Color textColor() const { return mTextColor; }
    Color boxColor() const { return mBoxColor; }
    Color borderColor() const { return mBorderColor; }
    Size marginSize() const { return mMarginSize; }
    bool antialias() const { return mAntialias; }
    bool staticFrame() const { return mStaticFrame; }
    bool requiresUpdate() const { return mRequiresUpdate; }
    // The frame in points; a dynamic 0 × 0 frame becomes the text's size plus the margins.
    Size frameSize();
    const GLStringParentView* parentView() const { return mParentView; }
    void setParentView(const GLStringParentView* view) { mParentView = view; } // not owned

    // Rebuilds the bitmap and the texture now (logs kNoContextLine without a context).
    void genTexture();
    // The texture's whole pixel extent onto `bounds` (current GL coordinates).
    void drawWithBounds(const Rect& bounds);
    // At `point` in the parent view's points. Without a parent view nothing is drawn
    // (the rectangle is empty), as the view is what converts pixels to points.
    void drawAtPoint(Point point);
    // Deletes the texture in the context it was made in.
    void deleteTexture();

    // Uploads so far: whole images, and sub-image updates of an unchanged size.
    int fullUploads() const { return mFullUploads; }
    int subImageUploads() const { return mSubImageUploads; }

private:
    GLContext::Handle mContext; // cgl_ctx
    unsigned mTexName = 0;
    Size mTexSize;
    AttributedString mString;
    Color mTextColor, mBoxColor, mBorderColor;
    bool mStaticFrame = false;
    bool mAntialias = true;
    Size mMarginSize{4.0, 2.0};
    Size mFrameSize;
    float mCRadius = 4.0f;
    bool mRequiresUpdate = true;
    const GLStringParentView* mParentView = nullptr;
    int mFullUploads = 0, mSubImageUploads = 0;
};

} // namespace orva
