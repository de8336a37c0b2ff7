#pragma once
// What the cache holds: its entries under their ids, the ids of cached paths, the
// next id and the generation. The engine owns it; the cache reaches it through
// `cacheState` (the caller holds the engine lock).
#include "cache/CacheEntry.h"

#include <atomic>
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
    // The last revision handed to an entry.
    std::uint64_t revisions = 0;
    // Advanced by every removal of entries (unload, erase, clear, shutdown) and
    // read without the lock: long work looks again only when it moved.
    std::atomic<std::uint64_t> removals { 0 };
};

CacheState& cacheState (QuorvalenEngine& engine);

} // namespace quorvalen
