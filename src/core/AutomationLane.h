#pragma once
// A breakpoint curve over the length of a sound, shared by the rack's lanes and the
// Foundry's layer parameters, and a cursor for reading it in time order.
#include <cstddef>
#include <vector>

namespace quorvalen
{

// Times and values in 0..1, sorted by time (equal times allowed), at most 1024 points.
struct AutomationLane
{
    std::vector<float> times;
    std::vector<float> values;

    // An empty lane, or one whose arrays disagree, leaves its parameter alone.
    bool hasPoints() const noexcept { return ! times.empty() && times.size() == values.size(); }
};

// The lane at t in 0..1: the first value up to the first time, the last after the
// last time, linear in between (clamped to 0..1). The lane must have points.
float automationLaneValue (const AutomationLane& lane, float t) noexcept;

// Same values as automationLaneValue, but remembers where the last read landed:
// reads of one lane at non-decreasing t cost O(1) amortised; an earlier t or
// another lane starts over.
class AutomationLaneCursor
{
public:
    float valueAt (const AutomationLane& lane, float t) noexcept;
    void reset() noexcept
    {
        segment = 1;
        lastTime = -1.0f;
        lane = nullptr;
    }

private:
    std::size_t segment = 1; // first index i >= 1 with times[i] >= lastTime
    float lastTime = -1.0f;
    const AutomationLane* lane = nullptr;
};

} // namespace quorvalen
