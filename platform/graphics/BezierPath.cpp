#include <orva/BezierPath.h>

#include <cmath>

namespace orva {

void BezierPath::moveToPoint(Point p)
{
    mElements.push_back({ElementType::MoveTo, {p}});
    mCurrentPoint = mSubpathStart = p;
    mHasCurrentPoint = true;
}

void BezierPath::lineToPoint(Point p)
{
    if (!mHasCurrentPoint) return moveToPoint(p);
    mElements.push_back({ElementType::LineTo, {p}});
    mCurrentPoint = p;
}

void BezierPath::curveToPoint(Point end, Point control1, Point control2)
{
    if (!mHasCurrentPoint) moveToPoint(control1);
    mElements.push_back({ElementType::CurveTo, {control1, control2, end}});
    mCurrentPoint = end;
}

void BezierPath::closePath()
{
    if (!mHasCurrentPoint) return;
    mElements.push_back({ElementType::ClosePath, {}});
    mCurrentPoint = mSubpathStart;
}

void BezierPath::appendBezierPathWithRect(const Rect& r)
{
    moveToPoint(r.origin);
    lineToPoint({r.origin.x + r.size.width, r.origin.y});
    lineToPoint({r.origin.x + r.size.width, r.origin.y + r.size.height});
    lineToPoint({r.origin.x, r.origin.y + r.size.height});
    closePath();
}

void BezierPath::appendBezierPathWithArcFromPoint(Point p1, Point p2, double radius)
{
    if (!mHasCurrentPoint) moveToPoint(p1);
    const Point p0 = mCurrentPoint;
    const double ax = p0.x - p1.x, ay = p0.y - p1.y, bx = p2.x - p1.x, by = p2.y - p1.y;
    const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    if (la == 0 || lb == 0 || radius <= 0) return lineToPoint(p1);
    const double ux = ax / la, uy = ay / la, vx = bx / lb, vy = by / lb; // from the corner along each line
    const double cross = ux * vy - uy * vx, dot = ux * vx + uy * vy;
    const double theta = std::atan2(std::fabs(cross), dot); // angle at the corner
    if (std::fabs(cross) < 1e-12 || theta < 1e-12) return lineToPoint(p1);
    const double toTangent = radius / std::tan(theta / 2);
    const Point t1{p1.x + ux * toTangent, p1.y + uy * toTangent};
    const Point t2{p1.x + vx * toTangent, p1.y + vy * toTangent};
    const double bisX = ux + vx, bisY = uy + vy, bisLen = std::hypot(bisX, bisY);
    const double toCenter = radius / std::sin(theta / 2);
    const Point c{p1.x + bisX / bisLen * toCenter, p1.y + bisY / bisLen * toCenter};

    if (std::hypot(t1.x - p0.x, t1.y - p0.y) > 1e-9) lineToPoint(t1);
    // The arc inside the corner, in pieces of at most a quarter turn.
    const double a0 = std::atan2(t1.y - c.y, t1.x - c.x);
    double sweep = std::atan2(t2.y - c.y, t2.x - c.x) - a0;
    while (sweep > M_PI) sweep -= 2 * M_PI;
    while (sweep < -M_PI) sweep += 2 * M_PI;
    const int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (M_PI / 2) - 1e-9)));
    const double step = sweep / pieces, k = 4.0 / 3.0 * std::tan(step / 4);
    double a = a0;
    for (int i = 0; i < pieces; ++i) {
        const double b = a + step;
        const Point s{c.x + radius * std::cos(a), c.y + radius * std::sin(a)};
        const Point e = i + 1 == pieces ? t2 : Point{c.x + radius * std::cos(b), c.y + radius * std::sin(b)};
        const Point c1{s.x - k * radius * std::sin(a), s.y + k * radius * std::cos(a)};
        const Point c2{e.x + k * radius * std::sin(b), e.y - k * radius * std::cos(b)};
        curveToPoint(e, c1, c2);
        a = b;
    }
}

} // namespace orva
