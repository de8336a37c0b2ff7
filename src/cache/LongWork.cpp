#include "cache/LongWork.h"

#include "cache/AudioCache.h"
#include "cache/CacheState.h"

namespace quorvalen
{

LongWorkWatch::LongWorkWatch (QuorvalenEngine& e)
        : engine (e), generation (cacheGeneration (e)), removalsSeen (cacheState (e).removals.load()),
          needsReady (engineReady (e))
{}

void LongWorkWatch::read (std::uint32_t id)
{
    if (const auto* entry = findCacheEntry (engine, id))
        reads.push_back ({ id, entry->revision });
}

bool LongWorkWatch::stopped()
{
    if (stop)
        return true;
    const auto removals = cacheState (engine).removals.load();
    if (removals == removalsSeen && (engineReady (engine) || ! needsReady))
        return false;
    const auto lock = lockEngine (engine);
    removalsSeen = cacheState (engine).removals.load();
    stop = (needsReady && ! engineReady (engine)) || cacheGeneration (engine) != generation;
    for (const auto& r : reads)
        stop = stop || findCacheEntry (engine, r.id) == nullptr;
    return stop;
}

bool LongWorkWatch::unchanged() const
{
    if ((needsReady && ! engineReady (engine)) || cacheGeneration (engine) != generation)
        return false;
    for (const auto& r : reads)
    {
        const auto* entry = findCacheEntry (engine, r.id);
        if (entry == nullptr || entry->revision != r.revision)
            return false;
    }
    return true;
}

} // namespace quorvalen
