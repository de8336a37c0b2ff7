#pragma once
// The body/tail join: the first sound up to a join point, then the second one,
// with a crossfade whose phase is made coherent (or, when the two overlaps are not
// coherent enough, morphed in the constant-Q domain) so that they do not cancel.
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

// Writes the phase-coherent crossfade of overlap samples (a from join, b from 0)
// into out and returns true, or returns false and writes nothing when the two are
// too short or not coherent enough.
bool findCoherentPhaseHandover (const float* a, std::int64_t aLength, std::int64_t join, const float* b,
                                std::int64_t bLength, std::int64_t overlap, double sampleRate, float* out);

// The constant-Q handover of two overlaps of n samples into out (n samples):
// magnitudes glide, the phase switches halfway, equal-power crossfades at both
// edges. False, with out untouched, once `stopped` (asked between its steps) says
// so. Throws on refusal of the analyser or memory exhaustion.
bool constantQHandover (const float* a, const float* b, std::int64_t n, double sampleRate, float* out,
                        const std::function<bool()>& stopped = {});

// Joins a (rate ra) and b (resampled to ra) at joinMs with a crossfade of
// crossfadeMs. Non-finite or negative times count as 0. Null when a time is past
// the Foundry's limit or the result would be longer than a buffer can hold, or
// when `stopped` (asked before each channel's steps) says so. Logs the coherent
// handovers.
std::unique_ptr<juce::AudioBuffer<float>> joinSounds (const juce::AudioBuffer<float>& a, double ra,
                                                      const juce::AudioBuffer<float>& b, double rb, float joinMs,
                                                      float crossfadeMs, const std::function<bool()>& stopped = {});

// The host's morph: joins two cached entries and, with play, plays the result as
// the engine's playback buffer. The entries are read under the engine mutex and
// joined on copies without it; the mutex is taken again to install the result.
// 0, or 1 not ready, 2/3 first/second id unknown, 4 no buffer, 5 bad rate, 6 no
// audio, 7 failed (a time past the Foundry's limit is refused so before playback
// stops). A join whose entries moved stops at its next step and installs nothing:
// 1 when the engine shut down, 2/3 when the first/second entry was unloaded or
// changed (or the cache cleared).
int playBodyTailMorph (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                       float crossfadeMs, bool play);

// The renderer's join: the same codes, the result into `out` (a buffer private to
// the render), the engine mutex held only to read and copy the two entries.
int joinFoundryLayers (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                       float crossfadeMs, std::unique_ptr<juce::AudioBuffer<float>>& out);

} // namespace quorvalen::foundry
