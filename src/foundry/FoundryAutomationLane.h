#pragma once
#include <vector>

namespace quorvalen
{

// One breakpoint curve: times and values in 0..1, sorted by time, at most 1024 points.
struct FoundryAutomationLane
{
    std::vector<float> times;
    std::vector<float> values;
};

inline constexpr int foundryLayerCount = 3;
inline constexpr int foundryParameterCount = 8;

} // namespace quorvalen
