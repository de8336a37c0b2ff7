#pragma once
// A session's STFT state (1024-point periodic Hann frames, hop 174) and the
// overlap-add resynthesis of audio from it. The caller holds the session.
#include "spectral/stft/SampleSpans.h"
#include "spectral/stft/SampleWindow.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace quorvalen
{

struct SpectralSession;

// (Re)builds the whole state from `buffer`, which must have the session's length
// and at least one channel; non-finite samples are read as 0. On false the state is left empty (0 frames, no bins),
// so the next stroke that needs it builds it again.
bool buildStftState (SpectralSession& session, const juce::AudioBuffer<float>& buffer);

// The state has frames and one channel of bins for each of `channels` (at most
// the session's): refreshStftFrames can bring it up to date.
bool stftStateBuilt (const SpectralSession& session, int channels);

// The frames that see samples [start, end) (clamped to the session), and the
// samples [start, end) that frames [start, end) read.
IndexSpan stftFramesSeeing (const SpectralSession& session, IndexSpan samples);
IndexSpan stftSamplesRead (const SpectralSession& session, IndexSpan frames);
// The frames that see any of the spans, sorted and merged.
std::vector<IndexSpan> stftFramesSeeing (const SpectralSession& session, const std::vector<IndexSpan>& samples);

// Analyses the frames again from `audio` (the same values as a full build of
// audio holding these samples). False, nothing done, when the state is not built
// for audio's channels or audio does not hold what the frames read; false, the
// frames part done, once `stop` (asked every few thousand frames) says so. Throws
// only std::bad_alloc, before the state changes.
bool refreshStftFrames (SpectralSession& session, const SampleWindow& audio, const std::vector<IndexSpan>& frames,
                        const std::function<bool()>& stop = {});

void clearStftState (SpectralSession& session);

// Rewrites samples [start, end) (clamped to the session) of `buffer` by windowed
// overlap-add of the frames that cover them; samples whose window energy is at
// most 1e-8 keep their value. 0, or -1 when the state is missing or the buffer
// does not match the session. Throws only std::bad_alloc, before writing.
int resynthesiseSessionStft (SpectralSession& session, juce::AudioBuffer<float>& buffer, std::int64_t start,
                             std::int64_t end);

} // namespace quorvalen
