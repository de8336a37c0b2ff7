#pragma once
// The engine's 3 x 8 Foundry automation lanes: the setter, the presence query and
// the eased evaluation of a lane at a normalised time.
#include "foundry/FoundryAutomationLane.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

namespace lane
{
inline constexpr int pitch = 0, level = 1, highPassCutoff = 2, lowPassCutoff = 3, heat = 4, width = 5,
                     highPassResonance = 6, lowPassResonance = 7;
}

using LayerLanes = std::array<FoundryAutomationLane, foundryParameterCount>;

inline constexpr int maxLanePoints = 1024;

// 0, or 8 for a bad layer or parameter (nothing changes), a count above 1024 or a
// null array with points (the lane is left empty). Takes the engine mutex.
int setFoundryAutomation (QuorvalenEngine& engine, std::uint32_t layer, std::uint32_t parameter, const float* times,
                          const float* values, std::int32_t count);

// Takes the engine mutex.
bool hasFoundryAutomationLane (QuorvalenEngine& engine, std::uint32_t layer, std::uint32_t parameter);

// The value of lane `parameter` at t (0 for an empty lane): linear between points,
// eased by 18 % towards a flat slope where the movement turns.
float evaluateFoundryAutomationLane (const LayerLanes& lanes, int parameter, double t) noexcept;

// One segment of a lane, from point k - 1 to point k, with the shape its
// neighbours give it.
struct FoundryLaneSegment
{
    double start = 0.0, span = 1.0e-6, base = 0.0, rise = 0.0;
    bool turnIn = false, turnOut = false;

    FoundryLaneSegment() = default;
    // times/values hold at least n points and 1 <= k < n.
    FoundryLaneSegment (const float* times, const float* values, std::size_t n, std::size_t k) noexcept;
    float valueAt (double t) const noexcept
    {
        const double u = (t - start) / span;
        const double s = turnIn && turnOut ? u * u * (3.0 - 2.0 * u)
            : turnIn                       ? u * u * (2.0 - u)
            : turnOut                      ? u + u * u - u * u * u
                                           : u;
        return (float) (base + (u + 0.18 * (s - u)) * rise);
    }
};

// Reads one lane with exactly the values of evaluateFoundryAutomationLane, keeping
// the segment of the last read: reads at non-decreasing t cost O(1) amortised. An
// earlier t, or a lane whose times are out of order, is searched as usual. The lane
// must not change while the cursor reads it.
class FoundryLaneCursor
{
public:
    FoundryLaneCursor() = default; // reads as an empty lane
    explicit FoundryLaneCursor (const FoundryAutomationLane& lane) noexcept;
    float valueAt (double t) noexcept
    {
        // Still inside the segment of the last read (which lay between the first and
        // the last point).
        if (k != 0 && t >= lastT && t < end)
        {
            lastT = t;
            return segment.valueAt (t);
        }
        return walk (t);
    }

private:
    float walk (double t) noexcept;

    const float* times = nullptr;
    const float* values = nullptr;
    std::size_t n = 0;
    bool ordered = true;
    std::size_t k = 0; // 0: no segment yet
    double lastT = 0.0;
    double end = 0.0; // time of point k
    FoundryLaneSegment segment;
};

// Normalised lane time of base-rate position p over a time base of `timeBase` samples.
inline double laneTime (double p, std::int64_t timeBase) noexcept
{
    if (timeBase <= 1)
        return 1.0;
    const double t = p / (double) (timeBase - 1);
    return t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
}

// Lane value mappings.
inline double laneCutoffHz (float v) noexcept
{
    return 20.0 * std::pow (1000.0, (double) v);
}
inline double lanePitchRatio (float v) noexcept
{
    return std::exp2 ((48.0 * v - 24.0) / 12.0);
}
inline float laneLevelGain (float v) noexcept
{
    return std::pow (10.0f, (60.0f * v - 60.0f) / 20.0f);
}

} // namespace quorvalen::foundry
