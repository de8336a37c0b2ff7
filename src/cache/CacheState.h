#pragma once
// What the cache holds: its entries under their ids, the ids of cached paths, the
// next id and the generation. The engine owns it; the cache reaches it through
// `cacheState` (the caller holds the engine lock).
#include "cache/CacheEntry.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace quorvalen
{

class QuorvalenEngine;

struct CacheState
{
    std::unordered_map<std::uint32_t, CacheEntry> entries;
    std::unordered_map<std::string, std::uint32_t> pathIds;
    std::uint32_t nextId = 1;
    // Advanced by every clear of the cache (clear and shutdown), so that work which
    // copied an entry out and ran unlocked inserts nothing into a cleared cache.
    std::uint64_t generation = 0;
};

CacheState& cacheState (QuorvalenEngine& engine);

} // namespace quorvalen
