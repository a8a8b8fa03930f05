/// @file
/// A styled string drawn as an OpenGL rectangle texture: the text (optionally on a
/// filled and outlined rounded box) is rendered into a bitmap, uploaded, and drawn as
/// a quad. Every change only marks the texture for rebuilding; the next draw (or
/// genTexture) rebuilds it, reusing the texture's storage when the size is unchanged.
///
/// Threads: every operation that draws or rebuilds makes OpenGL calls and belongs to
/// the thread that has the host's OpenGL context current. The object has no locking.
#pragma once

#include <orva/OrvaExport.h>

#include <orva/AttributedString.h>
#include <orva/BezierPath.h>
#include <orva/Color.h>
#include <orva/GLContext.h>

#include <memory>

namespace orva {

/// The host's view, as far as drawing needs it: the backing scale (pixels per point).
class ORVA_EXPORT GLStringParentView {
public:
    /// A view is destroyed through this interface.
    virtual ~GLStringParentView() = default;
    /// A rectangle in backing pixels converted to the view's points.
    virtual Rect convertRectFromBacking(const Rect& rect) const = 0;
};

/// A text label as an OpenGL rectangle texture, optionally on a rounded box.
class ORVA_EXPORT GLString {
public:
    /// What genTexture() logs (standard output) when no OpenGL context is current.
    static constexpr const char* kNoContextLine = "StringTexture -genTexture: Failure to get current OpenGL context\n";

    /// Styled text with the colours of its text, box and border (alpha 0: not drawn).
    GLString(AttributedString string, Color textColor, Color boxColor, Color borderColor);
    /// Plain text with attributes, and the three colours.
    GLString(const std::string& string, const TextAttributes& attributes, Color textColor, Color boxColor,
             Color borderColor);
    /// Opaque white text, no box, no border.
    explicit GLString(AttributedString string);
    /// Plain text with attributes: opaque white, no box, no border.
    GLString(const std::string& string, const TextAttributes& attributes);
    /// Deletes the texture in the context it was made in.
    ~GLString();
    GLString(const GLString&) = delete;
    GLString& operator=(const GLString&) = delete;

    /// @name Changes
    /// Each change marks the texture for rebuilding at the next draw.
    ///@{
    void setString(AttributedString string);                                ///< new text
    void setString(const std::string& string, const TextAttributes& attributes); ///< new plain text
    void setTextColor(Color color);   ///< the text's colour (unless the text carries its own)
    void setBoxColor(Color color);    ///< the box's fill
    void setBorderColor(Color color); ///< the box's outline
    void setMargins(Size margins);    ///< space between text and box edge, in points
    void setAntialias(bool antialias); ///< smooth text and box edges
    void useStaticFrame(Size frame);  ///< a fixed frame size, in points
    void useDynamicFrame();           ///< a frame that fits the text and margins
    ///@}

    /// @name State
    ///@{
    unsigned texName() const { return mTexName; } ///< the texture's name (0 before the first build)
    Size texSize() const { return mTexSize; }     ///< the texture's size in pixels
    Color textColor() const { return mTextColor; }     ///< see setTextColor()
    Color boxColor() const { return mBoxColor; }       ///< see setBoxColor()
    Color borderColor() const { return mBorderColor; } ///< see setBorderColor()
    Size marginSize() const { return mMarginSize; }    ///< see setMargins()
    bool antialias() const { return mAntialias; }      ///< see setAntialias()
    bool staticFrame() const { return mStaticFrame; }  ///< whether useStaticFrame() is in force
    bool requiresUpdate() const { return mRequiresUpdate; } ///< whether the next draw rebuilds
    ///@}

    /// The frame in points; a dynamic 0 × 0 frame becomes the text's size plus the margins.
    Size frameSize();
    /// The view drawAtPoint() draws into (not owned).
    const GLStringParentView* parentView() const { return mParentView; }
    /// Sets the view drawAtPoint() draws into; the view must outlive its use here.
    void setParentView(const GLStringParentView* view) { mParentView = view; }

    /// Rebuilds the bitmap and the texture now (logs kNoContextLine without a context).
    void genTexture();
    /// The texture's whole pixel extent onto `bounds` (current GL coordinates).
    void drawWithBounds(const Rect& bounds);
    /// At `point` in the parent view's points. Without a parent view nothing is drawn
    /// (the rectangle is empty), as the view is what converts pixels to points.
    void drawAtPoint(Point point);
    /// Deletes the texture in the context it was made in.
    void deleteTexture();

    ///@{
    /// Uploads so far: whole images, and sub-image updates of an unchanged size.
    int fullUploads() const { return mFullUploads; }
    int subImageUploads() const { return mSubImageUploads; }
    ///@}

private:
    GLContext::Handle mContext; ///< cgl_ctx
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
