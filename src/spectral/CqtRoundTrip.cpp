#include "spectral/CqtRoundTrip.h"

#include "cache/AudioCache.h"
#include "playback/Playback.h"
#include "spectral/SpectralCqt.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralSessions.h"

namespace quorvalen
{
namespace
{
std::unique_ptr<juce::AudioBuffer<float>> roundTrip (const juce::AudioBuffer<float>& audio, double rate)
{
    const int n = audio.getNumSamples();
    auto out = std::make_unique<juce::AudioBuffer<float>> (audio.getNumChannels(), n);
    out->clear();
    // Reference at half the sample rate: the band plan reaches up to the Nyquist frequency.
    const cqt::Analyzer analyzer (spectralCqtParams (rate, 0.7, 0.5 * rate));
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        cqt::CoefStore store (analyzer);
        analyzer.analyze ({ audio.getReadPointer (c), (std::size_t) n }, store);
        analyzer.synthesize (store, 0, { out->getWritePointer (c), (std::size_t) n });
    }
    return out;
}
} // namespace

RoundTripResult playCachedGaboratorRoundtrip (QuorvalenEngine& engine, std::int32_t cacheId)
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
    try
    {
        stopPlayback (engine);
        playSpectralRender (engine, roundTrip (*entry.buffer, entry.sampleRate), entry.sampleRate);
        return RoundTripResult::playing;
    }
    catch (...)
    {
        stopPlayback (engine);
        return RoundTripResult::outOfMemory;
    }
}

} // namespace quorvalen
