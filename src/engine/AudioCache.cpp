#include "engine/AudioCache.h"

#include "engine/AudioDecode.h"
#include "engine/QuorvalenEngine.h"
#include "engine/WavWriter.h"

#include <cmath>
#include <limits>

namespace quorvalen
{
namespace
{
constexpr const char* memoryLabel = "encrypted-memory-cache";
constexpr const char* cloneLabel = "__native_cache_clone__";

std::unique_ptr<juce::AudioFormatReader> memoryReader (juce::AudioFormatManager& formats, const void* bytes,
                                                       std::uint64_t size)
{
    // The caller's block is read in place, never copied.
    return std::unique_ptr<juce::AudioFormatReader> (formats.createReaderFor (
        std::make_unique<juce::MemoryInputStream> (bytes, (size_t) size, false)));
}

// Decoded audio or a failure stage, shared by the whole-file intakes.
struct WholeDecode
{
    enum Stage { ok, shape, read, rate } stage = ok;
    std::unique_ptr<juce::AudioBuffer<float>> buffer;
    double sampleRate = 0.0;
};

WholeDecode decodeWhole (juce::AudioFormatReader& reader, juce::int64 sourceBytes)
{
    WholeDecode d;
    if (reader.numChannels < 1 || ! hasPlausibleLength (reader, sourceBytes))
    {
        d.stage = WholeDecode::shape;
        return d;
    }
    d.buffer = tryAllocateBuffer ((int) reader.numChannels, reader.lengthInSamples);
    if (d.buffer == nullptr || ! readFrames (reader, *d.buffer, d.buffer->getNumSamples(), 0))
    {
        d.buffer.reset();
        d.stage = WholeDecode::read;
        return d;
    }
    if (! (reader.sampleRate > 0.0))
    {
        d.buffer.reset();
        d.stage = WholeDecode::rate;
        return d;
    }
    d.sampleRate = reader.sampleRate;
    return d;
}

// Milliseconds to samples, clamped in double so NaN, infinities and huge values
// cannot overflow the rounding (NaN counts as 0).
juce::int64 msToSamples (float ms, double rate, juce::int64 upper)
{
    const double samples = std::isnan (ms) ? 0.0 : std::max ((double) ms, 0.0) * rate / 1000.0;
    return (juce::int64) std::llround (std::min (samples, (double) upper));
}

// Shared by both trimmed intakes once they have a reader: -4 shape, -5 read, else the id.
int decodeTrimmedAndInsert (QuorvalenEngine& engine, juce::AudioFormatReader& reader, juce::int64 sourceBytes,
                            float trimStartMs, float fadeInMs, std::string name)
{
    if (! (reader.sampleRate > 0.0) || reader.numChannels < 1 || ! hasPlausibleLength (reader, sourceBytes))
        return -4;
    const auto length = reader.lengthInSamples;
    const double rate = reader.sampleRate;

    const auto trim = msToSamples (trimStartMs, rate, length - 1);
    const auto kept = length - trim;
    auto buffer = tryAllocateBuffer ((int) reader.numChannels, kept);
    if (buffer == nullptr || ! readFrames (reader, *buffer, (int) kept, trim))
        return -5;

    const auto fade = std::clamp<juce::int64> (msToSamples (fadeInMs, rate, kept), 1, kept);
    if (fade >= 2)
        for (int ch = 0; ch < buffer->getNumChannels(); ++ch)
        {
            auto* x = buffer->getWritePointer (ch);
            for (juce::int64 i = 0; i < fade; ++i)
                x[i] *= (float) i / (float) (fade - 1);
        }

    std::lock_guard lock (engine.engineMutex);
    // A shutdown may have run while we decoded: nothing may appear after it.
    if (! engine.hasDevice())
        return -2;
    return (int) insertCacheEntry (engine, CacheEntry { std::move (buffer), rate, std::move (name) });
}
} // namespace

CacheEntry* findCacheEntry (QuorvalenEngine& engine, std::uint32_t id)
{
    const auto it = engine.cacheMap.find (id);
    return it != engine.cacheMap.end() ? &it->second : nullptr;
}

std::uint32_t insertCacheEntry (QuorvalenEngine& engine, CacheEntry entry)
{
    const auto id = engine.cacheIdCounter;
    engine.cacheMap.emplace (id, std::move (entry));
    ++engine.cacheIdCounter;
    return id;
}

int findSessionSource (QuorvalenEngine& engine, std::int32_t cacheId, CacheEntry*& source)
{
    source = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (source == nullptr)
        return -3;
    if (source->buffer == nullptr || ! (source->sampleRate > 0.0))
        return -4;
    if (source->buffer->getNumChannels() < 1 || source->buffer->getNumSamples() < 1)
        return -5;
    return 0;
}

int cacheWav (QuorvalenEngine& engine, const char* path)
{
    if (path == nullptr)
        return -1;
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return -2;
    const juce::File file (juce::String::fromUTF8 (path));
    if (! file.existsAsFile())
        return -3;

    const auto fullPath = file.getFullPathName().toStdString();
    if (const auto hit = engine.pathMap.find (fullPath); hit != engine.pathMap.end())
    {
        if (engine.cacheMap.count (hit->second) != 0)
            return (int) hit->second;
        engine.pathMap.erase (hit); // stale key: its entry is gone, decode again
    }

    std::unique_ptr<juce::AudioFormatReader> reader (engine.formatManager.createReaderFor (file));
    if (reader == nullptr)
        return -4;
    auto decoded = decodeWhole (*reader, file.getSize());
    switch (decoded.stage)
    {
        case WholeDecode::shape: return -5;
        case WholeDecode::read: return -6;
        case WholeDecode::rate: return -7;
        case WholeDecode::ok: break;
    }
    const auto id = insertCacheEntry (engine, CacheEntry { std::move (decoded.buffer), decoded.sampleRate, fullPath });
    engine.pathMap[fullPath] = id;
    return (int) id;
}

int cacheWavMemory (QuorvalenEngine& engine, const void* bytes, std::uint64_t size)
{
    if (bytes == nullptr || size == 0)
        return -1;
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return -2;
    auto reader = memoryReader (engine.formatManager, bytes, size);
    if (reader == nullptr)
        return -3;
    auto decoded = decodeWhole (*reader, (juce::int64) std::min<std::uint64_t> (size, std::numeric_limits<juce::int64>::max()));
    switch (decoded.stage)
    {
        case WholeDecode::shape: return -4;
        case WholeDecode::read: return -5;
        case WholeDecode::rate: return -6;
        case WholeDecode::ok: break;
    }
    return (int) insertCacheEntry (engine, CacheEntry { std::move (decoded.buffer), decoded.sampleRate, memoryLabel });
}

int cacheWavTrimmed (QuorvalenEngine& engine, const char* path, float trimStartMs, float fadeInMs)
{
    if (! engine.isReady())
        return -2;
    if (path == nullptr || *path == '\0')
        return -1;
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    const juce::File file (juce::String::fromUTF8 (path));
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    if (reader == nullptr)
        return -3;
    return decodeTrimmedAndInsert (engine, *reader, file.getSize(), trimStartMs, fadeInMs, path);
}

int cacheWavMemoryTrimmed (QuorvalenEngine& engine, const void* bytes, std::uint64_t size, float trimStartMs,
                           float fadeInMs)
{
    if (! engine.isReady())
        return -2;
    if (bytes == nullptr || size == 0)
        return -1;
    // The engine's format manager is filled once by init and only read afterwards.
    auto reader = memoryReader (engine.formatManager, bytes, size);
    if (reader == nullptr)
        return -3;
    return decodeTrimmedAndInsert (engine, *reader,
                                   (juce::int64) std::min<std::uint64_t> (size, std::numeric_limits<juce::int64>::max()),
                                   trimStartMs, fadeInMs, memoryLabel);
}

int cloneCached (QuorvalenEngine& engine, std::int32_t id)
{
    std::lock_guard lock (engine.engineMutex);
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return -1;
    if (entry->buffer == nullptr)
        return -2;
    if (! (entry->sampleRate > 0.0))
        return -3;
    try
    {
        auto copy = std::make_unique<juce::AudioBuffer<float>> (*entry->buffer);
        return (int) insertCacheEntry (engine, CacheEntry { std::move (copy), entry->sampleRate, cloneLabel });
    }
    catch (...)
    {
        return -4;
    }
}

int unloadCached (QuorvalenEngine& engine, std::int32_t id)
{
    std::lock_guard lock (engine.engineMutex);
    const auto key = (std::uint32_t) id;
    const auto it = engine.cacheMap.find (key);
    if (it == engine.cacheMap.end())
        return 1;
    if (engine.playingCacheId == key)
        engine.stopPlayback();
    engine.pathMap.erase (it->second.name);
    engine.cacheMap.erase (it);
    return 0;
}

int clearCache (QuorvalenEngine& engine)
{
    std::lock_guard lock (engine.engineMutex);
    engine.stopPlayback();
    engine.resetFoundryPreviewCache (nullptr);
    ++engine.foundryGeneration;
    engine.clearSessionsAndCache();
    return 0;
}

int exportCachedWav (QuorvalenEngine& engine, std::int32_t id, const char* path)
{
    if (path == nullptr)
        return -1;
    std::lock_guard lock (engine.engineMutex);
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return -2;
    if (entry->buffer == nullptr)
        return -3;
    if (! (entry->sampleRate > 0.0))
        return -4;
    switch (writeWav24 (juce::File (juce::String::fromUTF8 (path)), *entry->buffer, entry->sampleRate))
    {
        case WavWriteResult::ok: return 0;
        case WavWriteResult::streamFailed: return -5;
        case WavWriteResult::writerFailed: return -6;
        case WavWriteResult::writeFailed: return -7;
    }
    return -7;
}

} // namespace quorvalen
