#include "core/AutomationLane.h"

#include <algorithm>

namespace quorvalen
{

namespace
{

// Value once `i` is the first index >= 1 whose time is not below t.
float valueFromSegment (const AutomationLane& lane, std::size_t i, float t) noexcept
{
    const auto& xs = lane.times;
    const auto& ys = lane.values;
    if (i == xs.size())
        return ys.back();
    const float dx = std::max (xs[i] - xs[i - 1], 1.0e-6f);
    return std::clamp (ys[i - 1] + (ys[i] - ys[i - 1]) * (t - xs[i - 1]) / dx, 0.0f, 1.0f);
}
} // namespace

float automationLaneValue (const AutomationLane& lane, float t) noexcept
{
    const auto& xs = lane.times;
    if (xs[0] >= t)
        return lane.values[0];
    std::size_t i = 1;
    while (i < xs.size() && ! (xs[i] >= t))
        ++i;
    return valueFromSegment (lane, i, t);
}

float AutomationLaneCursor::valueAt (const AutomationLane& points, float t) noexcept
{
    const auto& xs = points.times;
    if (! (t >= lastTime) || &points != lane || segment > xs.size())
        segment = 1;
    lastTime = t;
    lane = &points;
    if (xs[0] >= t)
        return points.values[0];
    while (segment < xs.size() && ! (xs[segment] >= t))
        ++segment;
    return valueFromSegment (points, segment, t);
}

} // namespace quorvalen
