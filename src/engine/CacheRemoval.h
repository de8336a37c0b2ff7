#pragma once
// Unloading one cache entry and clearing the whole cache.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

enum class UnloadResult : std::int32_t
{
    ok = 0, // unloaded, its playback stopped
    unknownId = 1,
};

// Take engineMutex.
UnloadResult unloadCached (QuorvalenEngine& engine, std::int32_t id);
// Stops playback and frees the Foundry preview, every session and every entry. 0.
int clearCache (QuorvalenEngine& engine);

} // namespace quorvalen
