#include "spectral/RenderEngineAccess.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

namespace quorvalen::spectral
{

std::unique_lock<std::mutex> lockEngine (QuorvalenEngine& engine)
{
    return std::unique_lock<std::mutex> (engine.engineMutex);
}

bool engineReady (QuorvalenEngine& engine)
{
    return engine.isReady();
}

bool engineReadyWithDevice (QuorvalenEngine& engine)
{
    return engine.hasDevice();
}

std::uint64_t cacheGeneration (QuorvalenEngine& engine)
{
    return engine.cacheGeneration;
}

SourceLookup lookupSource (QuorvalenEngine& engine, std::uint32_t id, SourceAudio& out)
{
    const auto* entry = findCacheEntry (engine, id);
    if (entry == nullptr)
        return SourceLookup::unknownId;
    if (entry->buffer == nullptr)
        return SourceLookup::noBuffer;
    if (! (entry->sampleRate > 0.0))
        return SourceLookup::badRate;
    out = { entry->buffer.get(), entry->sampleRate };
    return SourceLookup::ok;
}

std::uint32_t insertRendered (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer,
                              double sampleRate, const char* name)
{
    return insertCacheEntry (engine, CacheEntry { std::move (buffer), sampleRate, name });
}

} // namespace quorvalen::spectral
