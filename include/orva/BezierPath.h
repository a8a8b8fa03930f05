/// @file
/// A path of move, line, cubic curve and close elements in a y-up coordinate space
/// (the platform's bezier path), drawn by BitmapContext. Plain value; any thread.
#pragma once

#include <orva/OrvaExport.h>

#include <array>
#include <cstddef>
#include <vector>

namespace orva {

/// A point in points (y up).
struct Point {
    double x = 0; ///< across
    double y = 0; ///< up
    /// Equal when both coordinates are.
    bool operator==(const Point&) const = default;
};

/// A size in points.
struct Size {
    double width = 0;  ///< across
    double height = 0; ///< up
    /// Equal when both are.
    bool operator==(const Size&) const = default;
};

/// A rectangle: its lower left corner and its size.
struct Rect {
    Point origin; ///< the lower left corner
    Size size;    ///< width and height
    /// Equal when origin and size are.
    bool operator==(const Rect&) const = default;
};

/// A path of straight and curved segments, built element by element.
class ORVA_EXPORT BezierPath {
public:
    /// What one element of the path does.
    enum class ElementType { MoveTo, LineTo, CurveTo, ClosePath };
    /// One element and its points.
    struct Element {
        ElementType type; ///< move, line, curve or close
        std::array<Point, 3> points{}; ///< MoveTo/LineTo: [0]; CurveTo: control 1, control 2, end
    };

    /// Starts a new subpath at `p`.
    void moveToPoint(Point p);
    /// A straight segment from the current point to `p`.
    void lineToPoint(Point p);
    /// A cubic curve from the current point to `end` with two control points.
    void curveToPoint(Point end, Point control1, Point control2);
    /// A segment back to the subpath's start, which closes it.
    void closePath();
    /// A closed subpath around the rectangle, counterclockwise from its origin.
    void appendBezierPathWithRect(const Rect& rect);
    /// An arc of `radius` tangent to the line from the current point to `fromPoint` and to
    /// the line from `fromPoint` to `toPoint`: a line to the first tangent point, then the
    /// arc (as cubic curves) to the second. With no current point the path starts at
    /// `fromPoint`; collinear points give a line to `fromPoint`.
    void appendBezierPathWithArcFromPoint(Point fromPoint, Point toPoint, double radius);

    /// Whether the path has no element.
    bool isEmpty() const { return mElements.empty(); }
    /// How many elements the path has.
    size_t elementCount() const { return mElements.size(); }
    /// One element; `index` must be below elementCount().
    const Element& elementAtIndex(size_t index) const { return mElements.at(index); }
    /// Every element, in order.
    const std::vector<Element>& elements() const { return mElements; }
    ///@{
    /// The end of the last element (the subpath's start after a close).
    bool hasCurrentPoint() const { return mHasCurrentPoint; }
    Point currentPoint() const { return mCurrentPoint; }
    ///@}

private:
    std::vector<Element> mElements;
    Point mCurrentPoint;
    Point mSubpathStart;
    bool mHasCurrentPoint = false;
};

} // namespace orva
