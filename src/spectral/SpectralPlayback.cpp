#include "spectral/SpectralPlayback.h"

#include "cache/AudioCache.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "rack/QuorvalenProcessingRackSource.h"
#include "rack/RackPlayback.h"
#include "spectral/SpectralSession.h"

#include <algorithm>
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
    // The rate playback read the live copy at, a pitch included: the resume keeps it.
    const double sourceRate =
        std::isfinite (playback.sourceRate) && playback.sourceRate > 0.0 ? playback.sourceRate : session.sampleRate;
    // Seconds of the sound itself, whatever speed it played at.
    const double start =
        spectralResumePosition ((double) playback.readPosition / session.sampleRate, length, playback.loops);
    const auto startSample =
        std::clamp<juce::int64> (std::llround (start * session.sampleRate), 0, (juce::int64) session.numSamples);
    SourceStart resume;
    resume.audio = live->buffer.get();
    resume.sourceRate = sourceRate;
    resume.gain = playback.gain;
    resume.positionSample = startSample;
    resume.loop = playback.loops;
    resume.throughRack = playback.throughRack;
    resume.cacheId = session.liveCacheId;
    startSource (engine, resume, [&] {
        if (playback.throughRack)
        {
            // The rack counts samples after the chain's resampling, at the device's rate.
            const double rate = outputDeviceRate (engine, sourceRate);
            const auto n = std::max<std::int64_t> (1, std::llround (session.numSamples * rate / sourceRate));
            liveRack (engine).prepareRackPlayback (n, playback.loops, n, false);
            // Rack automation and loop pieces follow the transport, which resumes mid-sound.
            liveRack (engine).seekRack (std::llround ((double) startSample * rate / sourceRate));
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
