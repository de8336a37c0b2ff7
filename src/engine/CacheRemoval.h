#pragma once
// Unloading one cache entry and clearing the whole cache.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Take engineMutex. 0 unloaded (its playback stopped); 1 unknown id.
int unloadCached (QuorvalenEngine& engine, std::int32_t id);
// Stops playback and frees the Foundry preview, every session and every entry. 0.
int clearCache (QuorvalenEngine& engine);

} // namespace quorvalen
