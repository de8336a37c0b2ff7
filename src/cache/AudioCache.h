#pragma once
// The in-memory cache of decoded audio, addressed by 32-bit ids.
#include "cache/CacheEntry.h"
#include "core/FairMutex.h"

#include <cstdint>
#include <mutex>

namespace quorvalen
{

class QuorvalenEngine;

// The engine as the subsystems see it: an opaque handle with its one lock, its
// ready state and the cache's generation (advanced by every clear of the cache, so
// that work which copied an entry out and ran unlocked inserts nothing into a
// cleared cache). The composition root implements these.
std::unique_lock<FairMutex> lockEngine (QuorvalenEngine& engine);
bool engineReady (const QuorvalenEngine& engine);
// Ready and holding a device manager; the caller holds the engine lock.
bool engineHasDevice (const QuorvalenEngine& engine);
std::uint64_t cacheGeneration (const QuorvalenEngine& engine);

// Lookup and insertion for every subsystem; the caller holds engineMutex.
CacheEntry* findCacheEntry (QuorvalenEngine& engine, std::uint32_t id);
std::uint32_t insertCacheEntry (QuorvalenEngine& engine, CacheEntry entry);
// Why an entry cannot be read as audio at a rate: the same order for every reader.
enum class EntryCheck
{
    usable,
    unknownId,
    noBuffer,
    badRate, // not above 0
};
// The entry under `id` in `entry` when it holds a buffer and a rate above 0.
EntryCheck findAudioEntry (QuorvalenEngine& engine, std::uint32_t id, CacheEntry*& entry);

// Puts `entry` under `id`, replacing what was there; erasing a missing id is a no-op.
// Playback of the entry is the caller's to detach first.
void putCacheEntry (QuorvalenEngine& engine, std::uint32_t id, CacheEntry entry);
void eraseCacheEntry (QuorvalenEngine& engine, std::uint32_t id);
// Every writer of an entry's audio calls this (engine lock held) once it has
// changed it in place or given it a new buffer.
void markCacheEntryChanged (QuorvalenEngine& engine, CacheEntry& entry);
// Opening a session (edit or spectral) on a cached sound answers with the new
// session's id, or with one of these.
enum class SessionOpenCode : std::int32_t
{
    found = 0, // the source entry is usable (findSessionSource only)
    nullOutput = -1,
    notReady = -2,
    unknownId = -3,
    noAudio = -4,     // no buffer, or a rate not above 0
    empty = -5,       // no channels or no samples
    outOfMemory = -6, // or the session's own state could not be built
};

// The entry a session opens on: found with `source` set, or unknownId, noAudio, empty.
SessionOpenCode findSessionSource (QuorvalenEngine& engine, std::int32_t cacheId, CacheEntry*& source);

enum class CloneError : std::int32_t
{
    unknownId = -1,
    noAudio = -2,
    badRate = -3,
    outOfMemory = -4,
};
// The copy's new id, or a CloneError.

// Intakes: the new (or, for a cached path, existing) id, or one of these codes.
enum class CacheWavError : std::int32_t
{
    nullPath = -1,
    notReady = -2,
    missing = -3,
    notAudio = -4,
    badShape = -5,   // no channels or no frame
    readFailed = -6, // or out of memory
    badRate = -7,
};
enum class CacheMemoryError : std::int32_t
{
    nullBytes = -1, // or size 0
    notReady = -2,
    notAudio = -3, // or too large to address
    badShape = -4,
    readFailed = -5,
    badRate = -6,
};
// Both trimmed intakes.
enum class TrimmedIntakeError : std::int32_t
{
    nullSource = -1, // path null or empty, bytes null or size 0
    notReady = -2,
    notAudio = -3,
    badShapeOrRate = -4,
    readFailed = -5, // or out of memory
};
int cacheWav (QuorvalenEngine& engine, const char* path);
int cacheWavMemory (QuorvalenEngine& engine, const void* bytes, std::uint64_t size);
int cacheWavTrimmed (QuorvalenEngine& engine, const char* path, float trimStartMs, float fadeInMs);
int cacheWavMemoryTrimmed (QuorvalenEngine& engine, const void* bytes, std::uint64_t size, float trimStartMs,
                           float fadeInMs);

int cloneCached (QuorvalenEngine& engine, std::int32_t id);
enum class ExportResult : std::int32_t
{
    ok = 0,
    nullPath = -1,
    unknownId = -2,
    noAudio = -3,
    badRate = -4,
    streamFailed = -5, // the folder is missing or the path is a folder
    writerFailed = -6,
    writeFailed = -7, // the old file is kept
};
ExportResult exportCachedWav (QuorvalenEngine& engine, std::int32_t id, const char* path);

} // namespace quorvalen
