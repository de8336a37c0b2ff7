#include "foundry/FoundryAutomation.h"

#include "foundry/FoundryEngineAccess.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quorvalen::foundry
{

int setFoundryAutomation (QuorvalenEngine& engine, std::uint32_t layer, std::uint32_t parameter, const float* times,
                          const float* values, std::int32_t count)
{
    if (layer >= (std::uint32_t) foundryLayerCount || parameter >= (std::uint32_t) foundryParameterCount)
        return badLayer;

    const auto lock = lockEngine (engine);
    advanceFoundryGeneration (engine);
    auto& l = layerLanes (engine, layer)[parameter];
    l.times.clear();
    l.values.clear();
    if (count <= 0)
        return done;
    if (times == nullptr || values == nullptr || count > maxLanePoints)
        return badLayer;

    std::vector<std::pair<float, float>> points;
    points.reserve ((size_t) count);
    for (std::int32_t i = 0; i < count; ++i)
        if (std::isfinite (times[i]) && std::isfinite (values[i]))
            points.emplace_back (std::clamp (times[i], 0.0f, 1.0f), std::clamp (values[i], 0.0f, 1.0f));
    std::stable_sort (points.begin(), points.end(), [] (const auto& a, const auto& b) { return a.first < b.first; });

    for (const auto& [t, v] : points)
    {
        // A cluster of near-equal times keeps the first time and the last value.
        if (! l.times.empty() && std::abs (l.times.back() - t) < 1.0e-5f)
            l.values.back() = v;
        else
        {
            l.times.push_back (t);
            l.values.push_back (v);
        }
    }
    return done;
}

bool hasFoundryAutomationLane (QuorvalenEngine& engine, std::uint32_t layer, std::uint32_t parameter)
{
    if (layer >= (std::uint32_t) foundryLayerCount || parameter >= (std::uint32_t) foundryParameterCount)
        return false;
    const auto lock = lockEngine (engine);
    return layerLanes (engine, layer)[parameter].hasPoints();
}

namespace
{
int slopeSign (double d) noexcept
{
    return std::abs (d) < 1.0e-6 ? 0 : (d > 0.0 ? 1 : -1);
}

// The value a lane holds outside its segments (0 without points, the first value up
// to the first point, the last from the last point on), or null when t lies between.
const float* heldValue (const float* T, const float* V, std::size_t n, double t) noexcept
{
    static constexpr float none = 0.0f;
    if (n == 0)
        return &none;
    if (t <= T[0])
        return V;
    if (t >= T[n - 1])
        return V + n - 1;
    return nullptr;
}

// Between points, the segment that ends at the first point after t.
float searchLane (const float* T, const float* V, std::size_t n, double t) noexcept
{
    if (const float* held = heldValue (T, V, n, t))
        return *held;
    const size_t k = (size_t) (std::upper_bound (T, T + n, t, [] (double x, float y) { return x < (double) y; }) - T);
    return FoundryLaneSegment (T, V, n, k).valueAt (t);
}

std::size_t pointCount (const FoundryAutomationLane& lane) noexcept
{
    return std::min (lane.times.size(), lane.values.size());
}
} // namespace

FoundryLaneSegment::FoundryLaneSegment (const float* T, const float* V, std::size_t n, std::size_t k) noexcept
        : start (T[k - 1]), span (std::max ((double) T[k] - (double) T[k - 1], 1.0e-6)), base (V[k - 1]),
          rise ((double) V[k] - (double) V[k - 1])
{
    const int c = slopeSign (rise);
    const int p = k - 1 == 0 ? 0 : slopeSign ((double) V[k - 1] - (double) V[k - 2]);
    const int next = k == n - 1 ? 0 : slopeSign ((double) V[k + 1] - (double) V[k]);
    turnIn = c != 0 && p != 0 && p != c;
    turnOut = c != 0 && next != 0 && next != c;
}

float evaluateFoundryAutomationLane (const LayerLanes& lanes, int parameter, double t) noexcept
{
    if (parameter < 0 || parameter >= foundryParameterCount)
        return 0.0f;
    const auto& l = lanes[(size_t) parameter];
    return searchLane (l.times.data(), l.values.data(), pointCount (l), t);
}

FoundryLaneCursor::FoundryLaneCursor (const FoundryAutomationLane& l) noexcept
        : times (l.times.data()), values (l.values.data()), n (pointCount (l))
{
    // The walk below finds the search's segment only when the times are numbers that
    // never go back.
    for (std::size_t i = 0; i < n; ++i)
        ordered = ordered && ! std::isnan (times[i]) && (i == 0 || times[i] >= times[i - 1]);
}

float FoundryLaneCursor::walk (double t) noexcept
{
    if (! ordered)
        return searchLane (times, values, n, t);
    if (const float* held = heldValue (times, values, n, t))
        return *held;
    if (! (t >= lastT))
        k = 0;
    lastT = t;
    std::size_t next = k == 0 ? 1 : k;
    while ((double) times[next] <= t)
        ++next;
    if (next != k)
    {
        k = next;
        end = times[k];
        segment = FoundryLaneSegment (times, values, n, k);
    }
    return segment.valueAt (t);
}

} // namespace quorvalen::foundry
