#include "engine/CacheRemoval.h"

#include "engine/QuorvalenEngine.h"
#include "playback/Playback.h"

// Removal reaches past the cache: playback of what goes is stopped first, and a
// clear drops every session and the Foundry's preview with it.
namespace quorvalen
{

UnloadResult unloadCached (QuorvalenEngine& engine, std::int32_t id)
{
    std::lock_guard lock (engine.engineMutex);
    const auto key = (std::uint32_t) id;
    auto& cache = engine.cache;
    const auto it = cache.entries.find (key);
    if (it == cache.entries.end())
        return UnloadResult::unknownId;
    stopPlaybackOf (engine, key);
    // A trimmed entry carries the path as its name too: drop the key only when it is
    // this entry's own, or the untrimmed entry of that path would lose it.
    if (const auto hit = cache.pathIds.find (it->second.name); hit != cache.pathIds.end() && hit->second == key)
        cache.pathIds.erase (hit);
    cache.entries.erase (it);
    cache.removals.fetch_add (1);
    return UnloadResult::ok;
}

int clearCache (QuorvalenEngine& engine)
{
    std::lock_guard lock (engine.engineMutex);
    stopPlayback (engine);
    engine.foundry.previewCache.reset();
    ++engine.foundry.generation;
    engine.clearSessionsAndCache();
    return 0;
}

} // namespace quorvalen
