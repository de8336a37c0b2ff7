#include "spectral/RenderEngineAccess.h"

#include "cache/AudioCache.h"

namespace quorvalen::spectral
{

bool engineReadyWithDevice (QuorvalenEngine& engine)
{
    return engineHasDevice (engine);
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
