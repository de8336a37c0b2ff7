#pragma once
// The spectral session store: opening a session on a private copy of a cached
// sound, finding it again, and ending it.
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;
template <typename Session>
class SessionTable;

// The engine's spectral sessions; the caller holds the engine lock.
SessionTable<SpectralSession>& spectralSessionTable (QuorvalenEngine& engine);

// Copies the source in a short hold of engineMutex and builds the STFT state
// without it. Session id, or -1 output null, -2 not ready (also when the engine
// shut down meanwhile), -3 unknown id (also when the source went meanwhile), -4 no
// buffer or rate not above 0, -5 no channels or samples, -6 STFT state not built
// or out of memory (nothing inserted).
int beginCqtSpectralSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outLiveCacheId,
                             float* outSeconds);
// Takes engineMutex only. ok: ended (its live copy removed, playback of it
// stopped; an operation of the session in flight stops and fails).
enum class EndSpectralResult : std::int32_t
{
    ok = 0,
    unknownSession = 1,
};
EndSpectralResult endCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId);

// The live copy's buffer while it still has the session's length and at least one
// channel; null when it is gone or another operation reshaped it. engineMutex held.
juce::AudioBuffer<float>* sessionLiveBuffer (QuorvalenEngine& engine, const SpectralSession& session);

// The session's source entry's buffer while it has the live copy's length and at
// least one channel; null otherwise. engineMutex held.
const juce::AudioBuffer<float>* sessionSourceBuffer (QuorvalenEngine& engine, const SpectralSession& session);

// A cached entry as the spectral renders read it. Ids below 1 are unknown: the
// reserved temporaries are never reached by a negative id's bit pattern.
struct SpectralEntry
{
    const juce::AudioBuffer<float>* buffer = nullptr;
    double sampleRate = 0.0;
};
// False for an unknown id. engineMutex held.
bool findSpectralEntry (QuorvalenEngine& engine, std::int32_t cacheId, SpectralEntry& entry);

} // namespace quorvalen
