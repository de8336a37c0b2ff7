#pragma once
// How an operation on a spectral session runs beside the rest of the engine. It
// holds the session (alive even when the session is ended, the cache cleared or
// the engine shut down meanwhile) and the session's own lock, which keeps one
// session's strokes, undos, redos and images in order. It copies what it reads
// of the live copy in short holds of the engine lock, works on the session's
// state and on its copies without that lock, and writes its result to the live
// copy in one more short hold, only when nothing it read has changed meanwhile.
// Lock order: the session's lock, then the engine lock; never the other way round.
#include "cache/LongWork.h"
#include "core/FairMutex.h"
#include "spectral/stft/SampleWindow.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// Why an operation cannot go on: each operation turns this into its own code.
enum class LiveState
{
    ok,
    sessionGone, // ended, the cache cleared or the engine shut down
    liveGone,    // the live copy was unloaded, or reshaped by another operation
    liveChanged, // another operation wrote the live copy meanwhile
};

class SessionWork
{
public:
    // Finds the session (a short hold) and waits for its turn.
    SessionWork (QuorvalenEngine& engine, std::uint32_t sessionId);

    SessionWork (const SessionWork&) = delete;
    SessionWork& operator= (const SessionWork&) = delete;

    // Null when the id is unknown or the session ended before its turn came.
    SpectralSession* session() const noexcept { return open ? held.get() : nullptr; }

    // A short hold: the session is open and its live copy usable (the session's
    // length, at least one channel) and, after the first read, as it was then.
    // Copies samples `span` (clamped to the copy) of min(live, session) channels
    // into `out`, which is sized and written before the hold. An empty span
    // only checks (and sets out.channels).
    LiveState read (IndexSpan span, SampleWindow& out);
    // The live copy's own buffer, copied whole (a short hold).
    LiveState readBuffer (juce::AudioBuffer<float>& out);
    // The session's source entry, copied whole when it has the live copy's length
    // (false otherwise), for work that compares against the untouched sound.
    bool readSource (juce::AudioBuffer<float>& out);

    // Without the lock, costing an atomic load or two: true once the work should
    // stop (the session ended, the live copy unloaded, the cache cleared, the
    // engine shut down).
    bool stopped();
    // Why the work stopped, or why an install failed (a short hold).
    LiveState state();

    // A short hold: when the session is open and the live copy as it was read,
    // detaches playback of it, writes the spans of `audio` (which holds them;
    // outside them it holds the live copy as read), marks the entry changed and
    // resumes playback where it was. Else nothing is written. Nothing else of the
    // operation happens in this hold: a copy of the whole sound becomes the live
    // copy's buffer rather than being copied into it.
    LiveState install (SampleWindow audio, const std::vector<IndexSpan>& spans);

private:
    LiveState liveState (juce::AudioBuffer<float>*& live); // engine lock held

    QuorvalenEngine& engine;
    std::shared_ptr<SpectralSession> held;
    std::unique_lock<FairMutex> turn; // released before `held`
    bool open = false;
    std::optional<LongWorkWatch> watch; // from the first read
};

// The session's STFT state built, for `channels` channels (any when 0); when it
// is not (emptied by a failure), it is built from a whole copy of the live copy.
// ok, or why the copy could not be read; throws std::bad_alloc when the state
// cannot be built.
LiveState ensureSessionStft (SessionWork& work, SpectralSession& session, int channels = 0);

} // namespace quorvalen
