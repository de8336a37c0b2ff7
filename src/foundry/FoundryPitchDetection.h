#pragma once
// Fundamental frequency of a cached sound from a start time, by normalised
// autocorrelation of its first channel.
#include <cstdint>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

// Hz, or 0 when none is found (also when the entry is unloaded or the engine shuts
// down during the search). Copies the window under the engine mutex and searches
// without it; needs no device.
float detectFoundryPitch (QuorvalenEngine& engine, std::int32_t id, float startMs);

} // namespace quorvalen::foundry
