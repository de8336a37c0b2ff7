#include "spectral/SessionWork.h"

#include "cache/AudioCache.h"
#include "cache/SessionTable.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"

#include <algorithm>
#include <new>

namespace quorvalen
{
namespace
{
// Sized and every page written before a hold, so that the hold itself only copies.
void prepare (juce::AudioBuffer<float>& out, int channels, int samples)
{
    out.setSize (channels, samples, false, false, false);
    for (int c = 0; c < channels; ++c)
        juce::FloatVectorOperations::clear (out.getWritePointer (c), samples);
}
} // namespace

SessionWork::SessionWork (QuorvalenEngine& e, std::uint32_t sessionId) : engine (e)
{
    {
        const auto lock = lockEngine (engine);
        held = spectralSessionTable (engine).share (sessionId);
    }
    if (held == nullptr)
        return;
    turn = std::unique_lock<FairMutex> (held->turn.lock);
    open = ! held->turn.ended;
}

LiveState SessionWork::liveState (juce::AudioBuffer<float>*& live)
{
    live = nullptr;
    if (held->turn.ended)
        return LiveState::sessionGone;
    live = sessionLiveBuffer (engine, *held);
    if (live == nullptr)
        return LiveState::liveGone;
    if (watch && ! watch->unchanged())
        return LiveState::liveChanged;
    return LiveState::ok;
}

LiveState SessionWork::read (IndexSpan span, SampleWindow& out)
{
    const auto n = (std::int64_t) held->numSamples;
    out.start = std::clamp<std::int64_t> (span.start, 0, n);
    out.length = std::clamp<std::int64_t> (span.end, out.start, n) - out.start;
    // Sized and touched before the hold: the hold only copies.
    const int most = std::max (1, std::min (held->numChannels, 2));
    out.samples.assign ((std::size_t) most * (std::size_t) out.length, 0.0f);

    const auto lock = lockEngine (engine);
    juce::AudioBuffer<float>* live = nullptr;
    if (const auto s = liveState (live); s != LiveState::ok)
        return s;
    if (! watch)
    {
        watch.emplace (engine);
        watch->read (held->liveCacheId);
    }
    out.channels = std::min ({ live->getNumChannels(), held->numChannels, most });
    for (int c = 0; c < out.channels; ++c)
        std::copy_n (live->getReadPointer (c) + out.start, out.length, out.channel (c));
    out.samples.resize ((std::size_t) out.channels * (std::size_t) out.length);
    return LiveState::ok;
}

LiveState SessionWork::readBuffer (juce::AudioBuffer<float>& out)
{
    int channels = 0;
    {
        const auto lock = lockEngine (engine);
        juce::AudioBuffer<float>* live = nullptr;
        if (const auto s = liveState (live); s != LiveState::ok)
            return s;
        channels = live->getNumChannels();
    }
    // A reshape meanwhile is caught below.
    prepare (out, channels, held->numSamples);
    const auto lock = lockEngine (engine);
    juce::AudioBuffer<float>* live = nullptr;
    if (const auto s = liveState (live); s != LiveState::ok)
        return s;
    if (live->getNumChannels() != channels)
        return LiveState::liveGone;
    if (! watch)
    {
        watch.emplace (engine);
        watch->read (held->liveCacheId);
    }
    out.makeCopyOf (*live, true);
    return LiveState::ok;
}

bool SessionWork::readSource (juce::AudioBuffer<float>& out)
{
    int channels = 0;
    {
        const auto lock = lockEngine (engine);
        const auto* source = sessionSourceBuffer (engine, *held);
        if (source == nullptr)
            return false;
        channels = source->getNumChannels();
    }
    prepare (out, channels, held->numSamples);
    const auto lock = lockEngine (engine);
    const auto* source = sessionSourceBuffer (engine, *held);
    if (source == nullptr || source->getNumChannels() != channels)
        return false;
    out.makeCopyOf (*source, true);
    return true;
}

bool SessionWork::stopped()
{
    return held->turn.ended || (watch && watch->stopped());
}

LiveState SessionWork::state()
{
    const auto lock = lockEngine (engine);
    juce::AudioBuffer<float>* live = nullptr;
    return liveState (live);
}

LiveState SessionWork::install (const SampleWindow& audio, const std::vector<IndexSpan>& spans)
{
    const auto lock = lockEngine (engine);
    juce::AudioBuffer<float>* live = nullptr;
    if (const auto s = liveState (live); s != LiveState::ok)
        return s;
    // The audio thread may be reading the live copy: it stops reading first, and
    // starts again where it was once the samples are in.
    const auto playback = stopLivePlayback (engine, *held);
    const int channels = std::min (audio.channels, live->getNumChannels());
    for (int c = 0; c < channels && ! spans.empty(); ++c)
    {
        float* x = live->getWritePointer (c);
        for (const auto& span : spans)
            std::copy_n (audio.channel (c) + (span.start - audio.start), span.end - span.start, x + span.start);
    }
    if (channels > 0 && ! spans.empty())
        markCacheEntryChanged (engine, *findCacheEntry (engine, held->liveCacheId));
    resumeSpectralLoop (engine, *held, playback);
    return LiveState::ok;
}

LiveState ensureSessionStft (SessionWork& work, SpectralSession& session, int channels)
{
    const bool built = channels > 0
        ? stftStateBuilt (session, channels)
        : session.stftFrames >= 1 && ! session.stftBins.empty() && session.stftWindow.size() == (std::size_t) stftSize;
    if (built)
        return LiveState::ok;
    juce::AudioBuffer<float> whole;
    if (const auto s = work.readBuffer (whole); s != LiveState::ok)
        return s;
    if (! buildStftState (session, whole))
        throw std::bad_alloc();
    return LiveState::ok;
}

} // namespace quorvalen
