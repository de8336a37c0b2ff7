#include "spectral/render/RenderEngineAccess.h"

#include "cache/AudioCache.h"

namespace quorvalen::spectral
{

bool engineReadyWithDevice (QuorvalenEngine& engine)
{
    return engineHasDevice (engine);
}

SourceLookup lookupSource (QuorvalenEngine& engine, std::uint32_t id, SourceAudio& out)
{
    CacheEntry* entry = nullptr;
    switch (findAudioEntry (engine, id, entry))
    {
        case EntryCheck::unknownId: return SourceLookup::unknownId;
        case EntryCheck::noBuffer: return SourceLookup::noBuffer;
        case EntryCheck::badRate: return SourceLookup::badRate;
        case EntryCheck::usable: break;
    }
    out = { entry->buffer.get(), entry->sampleRate };
    return SourceLookup::ok;
}

void noteSourceRead (QuorvalenEngine& engine, LongWorkWatch& watch, std::uint32_t id, EntryCopy& copy)
{
    noteEntryRead (watch, id, *findCacheEntry (engine, id), copy);
}

std::uint32_t insertRendered (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer,
                              double sampleRate, const char* name)
{
    return insertCacheEntry (engine, CacheEntry { std::move (buffer), sampleRate, name });
}

} // namespace quorvalen::spectral
