#include "spectral/SpectralPlayback.h"

#include "cache/AudioCache.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "rack/QuorvalenProcessingRackSource.h"
#include "rack/RackPlayback.h"
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

    const double length = session.numSamples / session.sampleRate;
    SourceStart resume;
    resume.audio = live->buffer.get();
    // No pitch: the live copy restarts at its own rate.
    resume.sourceRate = session.sampleRate;
    resume.gain = playback.gain;
    resume.positionSeconds = spectralResumePosition (playback.positionSeconds, length, playback.loops);
    resume.loop = playback.loops;
    resume.throughRack = playback.throughRack;
    resume.cacheId = session.liveCacheId;
    const double start = resume.positionSeconds;
    startSource (engine, resume, [&] {
        if (playback.throughRack)
        {
            // The rack counts samples after the chain's resampling, at the device's rate.
            const double rate = outputDeviceRate (engine, session.sampleRate);
            const auto n = std::max<std::int64_t> (1, std::llround (session.numSamples * rate / session.sampleRate));
            liveRack (engine).prepareRackPlayback (n, playback.loops, n, false);
            // Rack automation and loop pieces follow the transport, which resumes mid-sound.
            liveRack (engine).seekRack (std::llround (start * rate));
            liveRack (engine).setProcessingEnabled (true);
        }
        else
            liveRack (engine).setProcessingEnabled (false);
    });

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
    const auto running = runningPlayback (engine);
    if (playingEntry (engine) != session.liveCacheId || ! running.wasPlaying)
        return {};
    stopPlayback (engine);
    return running;
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
        stopPlayback (engine);
    }
}

void playSpectralRender (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer, double sampleRate)
{
    stopPlayback (engine);
    replacePlaybackBuffer (engine, std::move (buffer));
    SourceStart start;
    start.audio = playbackBuffer (engine);
    start.sourceRate = sampleRate;
    start.gain = 1.0f;
    startSource (engine, start); // stopPlayback left no cache id, loop or rack
}

} // namespace quorvalen
