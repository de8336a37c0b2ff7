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
    const auto it = engine.cacheMap.find (key);
    if (it == engine.cacheMap.end())
        return UnloadResult::unknownId;
    stopPlaybackOf (engine, key);
    // A trimmed entry carries the path as its name too: drop the key only when it is
    // this entry's own, or the untrimmed entry of that path would lose it.
    if (const auto hit = engine.pathMap.find (it->second.name); hit != engine.pathMap.end() && hit->second == key)
        engine.pathMap.erase (hit);
    engine.cacheMap.erase (it);
    return UnloadResult::ok;
}

int clearCache (QuorvalenEngine& engine)
{
    std::lock_guard lock (engine.engineMutex);
    stopPlayback (engine);
    engine.resetFoundryPreviewCache (nullptr);
    ++engine.foundryGeneration;
    engine.clearSessionsAndCache();
    return 0;
}

} // namespace quorvalen
