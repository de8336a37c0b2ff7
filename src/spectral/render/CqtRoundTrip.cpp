#include "spectral/render/CqtRoundTrip.h"

#include "cache/AudioCache.h"
#include "cache/EntryCopy.h"
#include "playback/Playback.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralSessions.h"

#include <optional>

namespace quorvalen
{
namespace
{
// Null when `watch` tells the work to stop (it looks before each transform).
std::unique_ptr<juce::AudioBuffer<float>> roundTrip (const juce::AudioBuffer<float>& audio, double rate,
                                                     LongWorkWatch& watch)
{
    const int n = audio.getNumSamples();
    auto out = std::make_unique<juce::AudioBuffer<float>> (audio.getNumChannels(), n);
    out->clear();
    // Reference at half the sample rate: the band plan reaches up to the Nyquist frequency.
    const cqt::Analyzer analyzer (spectralCqtParams (rate, 0.7, 0.5 * rate));
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        if (watch.stopped())
            return nullptr;
        cqt::CoefStore store (analyzer);
        analyzer.analyze ({ audio.getReadPointer (c), (std::size_t) n }, store);
        if (watch.stopped())
            return nullptr;
        analyzer.synthesize (store, 0, { out->getWritePointer (c), (std::size_t) n });
    }
    return out;
}

// The code of a round trip whose entry moved under it (the engine lock held).
RoundTripResult movedEntryCode (QuorvalenEngine& engine)
{
    return engineHasDevice (engine) ? RoundTripResult::unknownId : RoundTripResult::notReady;
}
} // namespace

RoundTripResult playCachedGaboratorRoundtrip (QuorvalenEngine& engine, std::int32_t cacheId)
{
    // Read under the lock; the copy and the transform run without it.
    std::optional<LongWorkWatch> watch;
    EntryCopy copy;
    {
        const auto lock = lockEngine (engine);
        if (! engineHasDevice (engine))
            return RoundTripResult::notReady;
        SpectralEntry entry;
        if (! findSpectralEntry (engine, cacheId, entry))
            return RoundTripResult::unknownId;
        if (entry.buffer == nullptr)
            return RoundTripResult::noBuffer;
        if (! (entry.sampleRate > 0.0))
            return RoundTripResult::badRate;
        if (entry.buffer->getNumChannels() < 1 || entry.buffer->getNumSamples() < 1)
            return RoundTripResult::empty;
        stopPlayback (engine);
        watch.emplace (engine);
        noteEntryRead (*watch, (std::uint32_t) cacheId, *findCacheEntry (engine, (std::uint32_t) cacheId), copy);
    }
    std::unique_lock<FairMutex> lock;
    try
    {
        if (! copyEntryAudio (engine, *watch, copy, copy.channels, 0, copy.samples))
        {
            lock = lockEngine (engine);
            return movedEntryCode (engine);
        }
        auto out = roundTrip (copy.audio, copy.sampleRate, *watch);
        copy.audio = {};
        lock = lockEngine (engine);
        if (out == nullptr || ! watch->unchanged())
            return movedEntryCode (engine);
        playSpectralRender (engine, std::move (out), copy.sampleRate);
        return RoundTripResult::playing;
    }
    catch (...)
    {
        if (! lock.owns_lock())
            lock = lockEngine (engine);
        stopPlayback (engine);
        return RoundTripResult::outOfMemory;
    }
}

} // namespace quorvalen
