// The rounded-rectangle extension of the bezier path: a rectangle whose corners are
// arcs of one radius, clamped to half the shorter side. Pure functions; any thread.
#pragma once

#include <orva/BezierPath.h>

namespace orva {

// A new path holding the rounded rectangle.
BezierPath bezierPathWithRoundedRect(const Rect& rect, float cornerRadius);
// Appends the rounded rectangle: nothing for an empty rectangle, the plain rectangle
// for a radius not above 0; otherwise from the top edge's middle, counter-clockwise
// round the corners (top-left, bottom-left, bottom-right, top-right), closed.
void appendBezierPathWithRoundedRect(BezierPath& path, const Rect& rect, float cornerRadius);

} // namespace orva
