#pragma once
// Editing a live copy while it plays: the playback state is captured and the
// playback detached before the buffer is written, and restarted in place (through
// the rack when it ran through the rack) after the last write. This is the only
// place the spectral editor touches the transport and the playing state.
#include "playback/Playback.h"

#include <cstdint>
#include <memory>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

using LivePlayback = RunningPlayback;

// When the session's live copy is playing: its state, and playback stopped.
// Otherwise wasPlaying is false and nothing changes. engineMutex held.
LivePlayback stopLivePlayback (QuorvalenEngine& engine, const SpectralSession& session);

// Restarts captured playback over the live copy at the captured sample (wrapped
// into the sound when looping, clamped to it otherwise) and at the captured rate,
// so a pitched playback keeps its pitch.
// Nothing when it was not playing or the live copy is gone. engineMutex held.
void resumeSpectralLoop (QuorvalenEngine& engine, const SpectralSession& session,
                         const LivePlayback& playback) noexcept;

// Plays `buffer` from its start at `sampleRate` with gain 1, no loop and no
// cache id (as file playback does); it becomes the engine's playback buffer.
// Whatever played is detached first. engineMutex held.
void playSpectralRender (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer, double sampleRate);

// Start position of a resume: negative gives 0; looping wraps into [0, length).
double spectralResumePosition (double position, double lengthSeconds, bool loops);

} // namespace quorvalen
