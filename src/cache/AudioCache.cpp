#include "cache/AudioCache.h"

#include "cache/CacheState.h"
#include "core/Units.h"
#include "io/AudioDecode.h"
#include "io/AudioIntake.h"
#include "io/WavWriter.h"

#include <cmath>
#include <limits>

namespace quorvalen
{
namespace
{
constexpr const char* memoryLabel = "encrypted-memory-cache";
constexpr const char* cloneLabel = "__native_cache_clone__";

using io::DecodedAudio;
using Stage = io::DecodedAudio::Stage;

// The intake codes of one operation for each decode stage.
template <typename Code>
struct StageCodes
{
    Code notAudio, shape, read, rate;
    int of (Stage stage) const
    {
        switch (stage)
        {
            case Stage::notAudio: return (int) notAudio;
            case Stage::shape: return (int) shape;
            case Stage::read: return (int) read;
            case Stage::rate: return (int) rate;
            case Stage::ok: break;
        }
        return (int) read;
    }
};

// Shared by both trimmed intakes once decoded: the id or a TrimmedIntakeError.
int trimAndInsert (QuorvalenEngine& engine, DecodedAudio decoded, float trimStartMs, float fadeInMs, std::string name)
{
    if (decoded.stage != Stage::ok)
    {
        using E = TrimmedIntakeError;
        return StageCodes<E> { E::notAudio, E::badShapeOrRate, E::readFailed, E::badShapeOrRate }.of (decoded.stage);
    }
    const auto length = (juce::int64) decoded.buffer->getNumSamples();
    const double rate = decoded.sampleRate;

    const auto trim = msToSamplesAtMost (trimStartMs, rate, length - 1);
    const auto kept = length - trim;
    auto buffer = std::move (decoded.buffer);
    if (trim > 0)
    {
        auto tail = tryAllocateBuffer (buffer->getNumChannels(), kept);
        if (tail == nullptr)
            return (int) TrimmedIntakeError::readFailed;
        for (int ch = 0; ch < buffer->getNumChannels(); ++ch)
            tail->copyFrom (ch, 0, *buffer, ch, (int) trim, (int) kept);
        buffer = std::move (tail);
    }

    const auto fade = std::clamp<juce::int64> (msToSamplesAtMost (fadeInMs, rate, kept), 1, kept);
    if (fade >= 2)
        for (int ch = 0; ch < buffer->getNumChannels(); ++ch)
        {
            auto* x = buffer->getWritePointer (ch);
            for (juce::int64 i = 0; i < fade; ++i)
                x[i] *= (float) i / (float) (fade - 1);
        }

    const auto lock = lockEngine (engine);
    // A shutdown may have run while we decoded: nothing may appear after it.
    if (! engineHasDevice (engine))
        return (int) TrimmedIntakeError::notReady;
    return (int) insertCacheEntry (engine, CacheEntry { std::move (buffer), rate, std::move (name) });
}

// The id cached under `fullPath`, or 0; drops a stale key whose entry is gone.
// The caller holds engineMutex.
std::uint32_t cachedPathId (QuorvalenEngine& engine, const std::string& fullPath)
{
    auto& cache = cacheState (engine);
    const auto hit = cache.pathIds.find (fullPath);
    if (hit == cache.pathIds.end())
        return 0;
    if (cache.entries.count (hit->second) != 0)
        return hit->second;
    cache.pathIds.erase (hit);
    return 0;
}
} // namespace

CacheEntry* findCacheEntry (QuorvalenEngine& engine, std::uint32_t id)
{
    auto& entries = cacheState (engine).entries;
    const auto it = entries.find (id);
    return it != entries.end() ? &it->second : nullptr;
}

std::uint32_t insertCacheEntry (QuorvalenEngine& engine, CacheEntry entry)
{
    auto& cache = cacheState (engine);
    const auto id = cache.nextId;
    entry.revision = ++cache.revisions;
    cache.entries.emplace (id, std::move (entry));
    ++cache.nextId;
    return id;
}

EntryCheck findAudioEntry (QuorvalenEngine& engine, std::uint32_t id, CacheEntry*& entry)
{
    entry = findCacheEntry (engine, id);
    if (entry == nullptr)
        return EntryCheck::unknownId;
    if (entry->buffer == nullptr)
        return EntryCheck::noBuffer;
    if (! (entry->sampleRate > 0.0))
        return EntryCheck::badRate;
    return EntryCheck::usable;
}

void putCacheEntry (QuorvalenEngine& engine, std::uint32_t id, CacheEntry entry)
{
    auto& cache = cacheState (engine);
    entry.revision = ++cache.revisions;
    cache.entries[id] = std::move (entry);
}

void eraseCacheEntry (QuorvalenEngine& engine, std::uint32_t id)
{
    auto& cache = cacheState (engine);
    if (cache.entries.erase (id) != 0)
        cache.removals.fetch_add (1);
}

void markCacheEntryChanged (QuorvalenEngine& engine, CacheEntry& entry)
{
    entry.revision = ++cacheState (engine).revisions;
}

SessionOpenCode findSessionSource (QuorvalenEngine& engine, std::int32_t cacheId, CacheEntry*& source)
{
    source = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (source == nullptr)
        return SessionOpenCode::unknownId;
    if (source->buffer == nullptr || ! (source->sampleRate > 0.0))
        return SessionOpenCode::noAudio;
    if (source->buffer->getNumChannels() < 1 || source->buffer->getNumSamples() < 1)
        return SessionOpenCode::empty;
    return SessionOpenCode::found;
}

int cacheWav (QuorvalenEngine& engine, const char* path)
{
    if (path == nullptr)
        return (int) CacheWavError::nullPath;
    std::string fullPath;
    juce::File file;
    {
        const auto lock = lockEngine (engine);
        if (! engineHasDevice (engine))
            return (int) CacheWavError::notReady;
        file = juce::File (juce::String::fromUTF8 (path));
        if (! file.existsAsFile())
            return (int) CacheWavError::missing;
        fullPath = file.getFullPathName().toStdString();
        if (const auto id = cachedPathId (engine, fullPath); id != 0)
            return (int) id;
    }

    // Decoding runs without the engine mutex: a slow or hostile file (or a pipe whose
    // open blocks) must not freeze every other export.
    auto decoded = io::decodeAudioFile (file);
    if (decoded.stage != Stage::ok)
    {
        using E = CacheWavError;
        return StageCodes<E> { E::notAudio, E::badShape, E::readFailed, E::badRate }.of (decoded.stage);
    }

    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return (int) CacheWavError::notReady;
    // Another intake of the same path may have finished first: one path, one id.
    if (const auto id = cachedPathId (engine, fullPath); id != 0)
        return (int) id;
    const auto id = insertCacheEntry (engine, CacheEntry { std::move (decoded.buffer), decoded.sampleRate, fullPath });
    cacheState (engine).pathIds[fullPath] = id;
    return (int) id;
}

int cacheWavMemory (QuorvalenEngine& engine, const void* bytes, std::uint64_t size)
{
    if (bytes == nullptr || size == 0)
        return (int) CacheMemoryError::nullBytes;
    {
        const auto lock = lockEngine (engine);
        if (! engineHasDevice (engine))
            return (int) CacheMemoryError::notReady;
    }
    if (size > std::numeric_limits<std::size_t>::max())
        return (int) CacheMemoryError::notAudio;
    auto decoded = io::decodeAudioMemory (bytes, (std::size_t) size);
    if (decoded.stage != Stage::ok)
    {
        using E = CacheMemoryError;
        return StageCodes<E> { E::notAudio, E::badShape, E::readFailed, E::badRate }.of (decoded.stage);
    }

    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return (int) CacheMemoryError::notReady;
    return (int) insertCacheEntry (engine, CacheEntry { std::move (decoded.buffer), decoded.sampleRate, memoryLabel });
}

int cacheWavTrimmed (QuorvalenEngine& engine, const char* path, float trimStartMs, float fadeInMs)
{
    if (! engineReady (engine))
        return (int) TrimmedIntakeError::notReady;
    if (path == nullptr || *path == '\0')
        return (int) TrimmedIntakeError::nullSource;
    return trimAndInsert (engine, io::decodeAudioFile (juce::File (juce::String::fromUTF8 (path))), trimStartMs,
                          fadeInMs, path);
}

int cacheWavMemoryTrimmed (QuorvalenEngine& engine, const void* bytes, std::uint64_t size, float trimStartMs,
                           float fadeInMs)
{
    if (! engineReady (engine))
        return (int) TrimmedIntakeError::notReady;
    if (bytes == nullptr || size == 0)
        return (int) TrimmedIntakeError::nullSource;
    if (size > std::numeric_limits<std::size_t>::max())
        return (int) TrimmedIntakeError::notAudio;
    return trimAndInsert (engine, io::decodeAudioMemory (bytes, (std::size_t) size), trimStartMs, fadeInMs,
                          memoryLabel);
}

int cloneCached (QuorvalenEngine& engine, std::int32_t id)
{
    const auto lock = lockEngine (engine);
    CacheEntry* entry = nullptr;
    switch (findAudioEntry (engine, (std::uint32_t) id, entry))
    {
        case EntryCheck::unknownId: return (int) CloneError::unknownId;
        case EntryCheck::noBuffer: return (int) CloneError::noAudio;
        case EntryCheck::badRate: return (int) CloneError::badRate;
        case EntryCheck::usable: break;
    }
    try
    {
        auto copy = std::make_unique<juce::AudioBuffer<float>> (*entry->buffer);
        return (int) insertCacheEntry (engine, CacheEntry { std::move (copy), entry->sampleRate, cloneLabel });
    }
    catch (...)
    {
        return (int) CloneError::outOfMemory;
    }
}

ExportResult exportCachedWav (QuorvalenEngine& engine, std::int32_t id, const char* path)
{
    if (path == nullptr)
        return ExportResult::nullPath;
    const auto lock = lockEngine (engine);
    CacheEntry* entry = nullptr;
    switch (findAudioEntry (engine, (std::uint32_t) id, entry))
    {
        case EntryCheck::unknownId: return ExportResult::unknownId;
        case EntryCheck::noBuffer: return ExportResult::noAudio;
        case EntryCheck::badRate: return ExportResult::badRate;
        case EntryCheck::usable: break;
    }
    switch (writeWav24 (juce::File (juce::String::fromUTF8 (path)), *entry->buffer, entry->sampleRate))
    {
        case WavWriteResult::ok: return ExportResult::ok;
        case WavWriteResult::streamFailed: return ExportResult::streamFailed;
        case WavWriteResult::writerFailed: return ExportResult::writerFailed;
        case WavWriteResult::writeFailed: return ExportResult::writeFailed;
    }
    return ExportResult::writeFailed;
}

} // namespace quorvalen
