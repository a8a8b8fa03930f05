#include "overlay/RoundRect.h"

#include <algorithm>

namespace orva {

BezierPath bezierPathWithRoundedRect(const Rect& rect, float cornerRadius)
{
    BezierPath path;
    appendBezierPathWithRoundedRect(path, rect, cornerRadius);
    return path;
}

void appendBezierPathWithRoundedRect(BezierPath& path, const Rect& rect, float cornerRadius)
{
    const double x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;
    if (!(w > 0) || !(h > 0)) return;
    if (!(cornerRadius > 0)) return path.appendBezierPathWithRect(rect);
    const auto radius = static_cast<float>(std::min(static_cast<double>(cornerRadius), std::min(w, h) * 0.5));
    const double maxX = x + w, maxY = y + h, midX = x + w * 0.5;
    path.moveToPoint({midX, maxY});
    path.appendBezierPathWithArcFromPoint({x, maxY}, {x, y}, radius);
    path.appendBezierPathWithArcFromPoint({x, y}, {maxX, y}, radius);
    path.appendBezierPathWithArcFromPoint({maxX, y}, {maxX, maxY}, radius);
    path.appendBezierPathWithArcFromPoint({maxX, maxY}, {x, maxY}, radius);
    path.closePath();
}

} // namespace orva
