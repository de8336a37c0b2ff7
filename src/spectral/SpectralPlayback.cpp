#include "spectral/SpectralPlayback.h"

#include "cache/AudioCache.h"
#include "chain/EngineMemorySource.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/SpectralSession.h"

#include <cmath>

namespace quorvalen
{
namespace
{
void restartLivePlayback (QuorvalenEngine& engine, const SpectralSession& session, const LivePlayback& playback)
{
    auto* live = findCacheEntry (engine, session.liveCacheId);
    if (live == nullptr || live->buffer == nullptr || live->buffer->getNumSamples() != session.numSamples)
        return;

    // No pitch: the live copy restarts at its own rate.
    attachCurrentSource (engine, std::make_unique<EngineMemorySource> (*live->buffer, playback.loops), session.sampleRate);
    engine.transportSource.setGain (playback.gain);
    const double length = session.numSamples / session.sampleRate;
    const double start = spectralResumePosition (playback.positionSeconds, length, playback.loops);
    engine.transportSource.setPosition (start);
    engine.playingCacheId = session.liveCacheId;
    engine.playingLoops = playback.loops;
    engine.playingThroughRack = playback.throughRack;

    if (playback.throughRack)
    {
        // The rack counts samples after the chain's resampling, at the device's rate.
        const double rate = outputDeviceRate (engine, session.sampleRate);
        const auto n = std::max<std::int64_t> (1, std::llround (session.numSamples * rate / session.sampleRate));
        engine.rackSource.prepareRackPlayback (n, playback.loops, n, false);
        // Rack automation and loop pieces follow the transport, which resumes mid-sound.
        engine.rackSource.seekRack (std::llround (start * rate));
        engine.rackSource.setProcessingEnabled (true);
    }
    else
        engine.rackSource.setProcessingEnabled (false);
    engine.transportSource.start();

    logLine ("[QUORVALEN SPECTRAL LOOP RESUME 1.4.4] cache %d resumed at %.3fs (loop %d, processing %d)\n",
             (int) session.liveCacheId, start, playback.loops ? 1 : 0, playback.throughRack ? 1 : 0);
}
} // namespace

double spectralResumePosition (double position, double lengthSeconds, bool loops)
{
    if (! std::isfinite (position))
        position = 0.0;
    if (loops && lengthSeconds > 0.0)
    {
        const double p = std::fmod (std::max (position, 0.0), lengthSeconds);
        return p < 0.0 ? p + lengthSeconds : p;
    }
    return position < 0.0 ? 0.0 : std::min (position, lengthSeconds);
}

LivePlayback stopLivePlayback (QuorvalenEngine& engine, const SpectralSession& session)
{
    LivePlayback state;
    auto& transport = engine.transportSource;
    if (engine.playingCacheId != session.liveCacheId || ! transport.isPlaying())
        return state;
    state.wasPlaying = true;
    state.positionSeconds = transport.getCurrentPosition();
    state.gain = transport.getGain();
    state.loops = engine.playingLoops;
    state.throughRack = engine.playingThroughRack;
    engine.stopPlayback();
    return state;
}

void resumeSpectralLoop (QuorvalenEngine& engine, const SpectralSession& session, const LivePlayback& playback) noexcept
{
    if (! playback.wasPlaying)
        return;
    try
    {
        restartLivePlayback (engine, session, playback);
    }
    catch (...)
    {
        // Out of memory for the source: the edit stands, playback stays stopped.
        engine.stopPlayback();
    }
}


} // namespace quorvalen
