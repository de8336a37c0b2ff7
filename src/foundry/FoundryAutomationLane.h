#pragma once
#include "core/AutomationLane.h"

namespace quorvalen
{

// The Foundry's layer parameters use the shared breakpoint lane.
using FoundryAutomationLane = AutomationLane;

inline constexpr int foundryLayerCount = 3;
inline constexpr int foundryParameterCount = 8;

} // namespace quorvalen
