#pragma once
// The in-memory cache of decoded audio, addressed by 32-bit ids.
#include "cache/CacheEntry.h"

#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Lookup and insertion for every subsystem; the caller holds engineMutex.
CacheEntry* findCacheEntry (QuorvalenEngine& engine, std::uint32_t id);
std::uint32_t insertCacheEntry (QuorvalenEngine& engine, CacheEntry entry);
// The entry a session opens on: 0 with `source` set, or -3 unknown id, -4 no
// buffer or a rate not above 0, -5 no channels or no samples.
int findSessionSource (QuorvalenEngine& engine, std::int32_t cacheId, CacheEntry*& source);

// Intakes: the new (or, for a cached path, existing) id, or a negative code.
int cacheWav (QuorvalenEngine& engine, const char* path);
int cacheWavMemory (QuorvalenEngine& engine, const void* bytes, std::uint64_t size);
int cacheWavTrimmed (QuorvalenEngine& engine, const char* path, float trimStartMs, float fadeInMs);
int cacheWavMemoryTrimmed (QuorvalenEngine& engine, const void* bytes, std::uint64_t size, float trimStartMs, float fadeInMs);

int cloneCached (QuorvalenEngine& engine, std::int32_t id);
int unloadCached (QuorvalenEngine& engine, std::int32_t id);
int clearCache (QuorvalenEngine& engine);
int exportCachedWav (QuorvalenEngine& engine, std::int32_t id, const char* path);

} // namespace quorvalen
