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
} // namespace

float evaluateFoundryAutomationLane (const LayerLanes& lanes, int parameter, double t) noexcept
{
    if (parameter < 0 || parameter >= foundryParameterCount)
        return 0.0f;
    const auto& T = lanes[(size_t) parameter].times;
    const auto& V = lanes[(size_t) parameter].values;
    const size_t n = std::min (T.size(), V.size());
    if (n == 0)
        return 0.0f;
    if (t <= T[0])
        return V[0];
    if (t >= T[n - 1])
        return V[n - 1];

    const size_t k = (size_t) (std::upper_bound (T.begin(), T.begin() + (std::ptrdiff_t) n, t,
                                                 [] (double x, float y) { return x < (double) y; })
                               - T.begin());
    const double u = (t - T[k - 1]) / std::max ((double) T[k] - (double) T[k - 1], 1.0e-6);
    const double dv = (double) V[k] - (double) V[k - 1];
    const int c = slopeSign (dv);
    const int p = k - 1 == 0 ? 0 : slopeSign ((double) V[k - 1] - (double) V[k - 2]);
    const int next = k == n - 1 ? 0 : slopeSign ((double) V[k + 1] - (double) V[k]);
    const bool turnIn = c != 0 && p != 0 && p != c;
    const bool turnOut = c != 0 && next != 0 && next != c;
    const double s = turnIn && turnOut ? u * u * (3.0 - 2.0 * u)
        : turnIn                       ? u * u * (2.0 - u)
        : turnOut                      ? u + u * u - u * u * u
                                       : u;
    return (float) ((double) V[k - 1] + (u + 0.18 * (s - u)) * dv);
}

} // namespace quorvalen::foundry
