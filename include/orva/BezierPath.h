// A path of move, line, cubic curve and close elements in a y-up coordinate space
// (the platform's bezier path), drawn by BitmapContext. Plain value; any thread.
#pragma once

#include <orva/OrvaExport.h>

#include <array>
#include <cstddef>
#include <vector>

namespace orva {

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;
    bool operator==(const Rect&) const = default;
};

class ORVA_EXPORT BezierPath {
public:
    enum class ElementType { MoveTo, LineTo, CurveTo, ClosePath };
    struct Element {
        ElementType type;
        std::array<Point, 3> points{}; // MoveTo/LineTo: [0]; CurveTo: control 1, control 2, end
    };

    void moveToPoint(Point p);
    void lineToPoint(Point p);
    void curveToPoint(Point end, Point control1, Point control2);
    void closePath();
    void appendBezierPathWithRect(const Rect& rect);
    // An arc of `radius` tangent to the line from the current point to `fromPoint` and to
    // the line from `fromPoint` to `toPoint`: a line to the first tangent point, then the
    // arc (as cubic curves) to the second. With no current point the path starts at
    // `fromPoint`; collinear points give a line to `fromPoint`.
    void appendBezierPathWithArcFromPoint(Point fromPoint, Point toPoint, double radius);

    bool isEmpty() const { return mElements.empty(); }
    size_t elementCount() const { return mElements.size(); }
    const Element& elementAtIndex(size_t index) const { return mElements.at(index); }
    const std::vector<Element>& elements() const { return mElements; }
    // The end of the last element (the subpath's start after a close).
    bool hasCurrentPoint() const { return mHasCurrentPoint; }
    Point currentPoint() const { return mCurrentPoint; }

private:
    std::vector<Element> mElements;
    Point mCurrentPoint;
    Point mSubpathStart;
    bool mHasCurrentPoint = false;
};

} // namespace orva
