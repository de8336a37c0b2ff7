#include "spectral/SessionWork.h"

#include "cache/AudioCache.h"
#include "cache/SessionTable.h"
#include "playback/Playback.h"
#include "spectral/SpectralPlayback.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/stft/SpectralStft.h"

#include <algorithm>
#include <new>

namespace quorvalen
{
namespace
{
// Samples of a channel copied in one hold at most (1 MB): a copy of a long sound
// takes many short holds rather than one long one.
constexpr std::int64_t copyPiece = std::int64_t { 1 } << 18;

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
    // Sized and touched before the holds: they only copy.
    const int most = std::max (1, std::min (held->numChannels, 2));
    prepare (out.audio, most, (int) out.length);
    out.channels = 0;

    // One hold at least (an empty span only checks), each piece in a hold of its own.
    auto at = out.start;
    do
    {
        const auto lock = lockEngine (engine);
        juce::AudioBuffer<float>* live = nullptr;
        if (const auto s = liveState (live); s != LiveState::ok)
            return s;
        if (! watch)
        {
            watch.emplace (engine);
            watch->read (held->liveCacheId);
        }
        const int channels = std::min ({ live->getNumChannels(), held->numChannels, most });
        if (out.channels != 0 && channels != out.channels)
            return LiveState::liveGone; // reshaped unmarked between two pieces
        out.channels = channels;
        const auto count = std::min (copyPiece, out.start + out.length - at);
        for (int c = 0; c < out.channels; ++c)
            std::copy_n (live->getReadPointer (c) + at, count, out.channel (c) + (at - out.start));
        at += count;
    } while (at < out.start + out.length);
    out.audio.setSize (out.channels, (int) out.length, true, false, true);
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
    const auto n = (std::int64_t) held->numSamples;
    prepare (out, channels, (int) n);
    for (std::int64_t at = 0; at < n; at += copyPiece)
    {
        const auto lock = lockEngine (engine);
        juce::AudioBuffer<float>* live = nullptr;
        if (const auto s = liveState (live); s != LiveState::ok)
            return s;
        if (live->getNumChannels() != channels)
            return LiveState::liveGone; // reshaped meanwhile
        if (! watch)
        {
            watch.emplace (engine);
            watch->read (held->liveCacheId);
        }
        for (int c = 0; c < channels; ++c)
            std::copy_n (live->getReadPointer (c) + at, std::min (copyPiece, n - at), out.getWritePointer (c) + at);
    }
    return LiveState::ok;
}

bool SessionWork::readSource (juce::AudioBuffer<float>& out)
{
    int channels = 0;
    std::uint64_t revision = 0;
    {
        const auto lock = lockEngine (engine);
        const auto* source = sessionSourceBuffer (engine, *held);
        if (source == nullptr)
            return false;
        channels = source->getNumChannels();
        revision = findCacheEntry (engine, held->sourceCacheId)->revision;
    }
    const auto n = (std::int64_t) held->numSamples;
    prepare (out, channels, (int) n);
    for (std::int64_t at = 0; at < n; at += copyPiece)
    {
        const auto lock = lockEngine (engine);
        const auto* source = sessionSourceBuffer (engine, *held);
        // Gone or changed between two pieces: as if it were not there.
        if (source == nullptr || source->getNumChannels() != channels
            || findCacheEntry (engine, held->sourceCacheId)->revision != revision)
            return false;
        for (int c = 0; c < channels; ++c)
            std::copy_n (source->getReadPointer (c) + at, std::min (copyPiece, n - at), out.getWritePointer (c) + at);
    }
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

LiveState SessionWork::install (SampleWindow audio, const std::vector<IndexSpan>& spans)
{
    // A result over the whole sound goes in as the live copy's new buffer: the
    // hold then swaps buffers rather than copying the sound. Declared before the
    // lock, so that the buffer it replaces is freed after the hold.
    const auto n = (std::int64_t) held->numSamples;
    std::unique_ptr<juce::AudioBuffer<float>> whole;
    if (audio.start == 0 && audio.length == n && audio.channels >= 1 && ! spans.empty()
        && audio.audio.getNumChannels() == audio.channels)
        whole = std::make_unique<juce::AudioBuffer<float>> (std::move (audio.audio));
    const auto& samples = whole != nullptr ? *whole : audio.audio;

    const auto lock = lockEngine (engine);
    juce::AudioBuffer<float>* live = nullptr;
    if (const auto s = liveState (live); s != LiveState::ok)
        return s;
    // The audio thread may be reading the live copy: it stops reading first, and
    // starts again where it was once the samples are in.
    const auto playback = stopLivePlayback (engine, *held);
    auto& entry = *findCacheEntry (engine, held->liveCacheId);
    const int channels = std::min (audio.channels, live->getNumChannels());
    // A playback that ran to its end still holds the buffer (though it reads
    // nothing): the samples are then written into it.
    const bool attached = playingEntry (engine) == held->liveCacheId;
    if (whole != nullptr && ! attached && live->getNumChannels() == audio.channels)
        std::swap (entry.buffer, whole);
    else
        for (int c = 0; c < channels && ! spans.empty(); ++c)
        {
            float* x = live->getWritePointer (c);
            for (const auto& span : spans)
                std::copy_n (samples.getReadPointer (c) + (span.start - audio.start), span.end - span.start,
                             x + span.start);
        }
    if (channels > 0 && ! spans.empty())
        markCacheEntryChanged (engine, entry);
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
