#pragma once
// A session's STFT state (1024-point periodic Hann frames, hop 174) and the
// overlap-add resynthesis of the live audio from it. The caller holds engineMutex.
#include "spectral/stft/SampleSpans.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{

struct SpectralSession;

// (Re)builds the whole state from `buffer`, which must have the session's length
// and at least one channel; non-finite samples are read as 0. On false the state is left empty (0 frames, no bins),
// so the next stroke that needs it builds it again.
bool buildStftState (SpectralSession& session, const juce::AudioBuffer<float>& buffer);

// Recomputes only the frames that see samples [start, end); a full build when the
// state is missing or does not match the buffer. Same result as a full build.
bool refreshStftState (SpectralSession& session, const juce::AudioBuffer<float>& buffer, std::int64_t start,
                       std::int64_t end);
// The same for several sample spans; a frame that sees more than one is analysed once.
bool refreshStftState (SpectralSession& session, const juce::AudioBuffer<float>& buffer,
                       const std::vector<IndexSpan>& samples);

void clearStftState (SpectralSession& session);

// Rewrites samples [start, end) (clamped to the session) of `buffer` by windowed
// overlap-add of the frames that cover them; samples whose window energy is at
// most 1e-8 keep their value. 0, or -1 when the state is missing or the buffer
// does not match the session. Throws only std::bad_alloc, before writing.
int resynthesiseSessionStft (SpectralSession& session, juce::AudioBuffer<float>& buffer, std::int64_t start,
                             std::int64_t end);

} // namespace quorvalen
