#pragma once
// Render surprise: randomised damage of a cached sound for happy accidents. A tone
// stage (chops, reversals, stutters, echo, drive, smoothing) of intensity A and a
// stretch and crush stage (slow-down and bit-depth reduction) of intensity B; the
// result is clipped to +-0.97 and normalised to a 0.95 peak. Every call draws a
// fresh seed.
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <functional>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

// In place on `audio` (its length may grow up to five times). False for an
// empty buffer, a bad rate or a failing stage (the buffer may then be partly
// done), or once `stopped` (asked between stages and inside the stretch) says so.
bool renderSurprise (juce::AudioBuffer<float>& audio, double sampleRate, float intensityA, float intensityB,
                     std::int32_t stretchMode, std::int32_t order, const std::function<bool()>& stopped = {});

// Reads the entry under the engine mutex, renders a copy without it and takes it
// again to swap the result in, stopping playback of the entry first. 0, -2
// unknown id, -3 no buffer, -4 bad rate, -5 failed (the entry is unchanged; a
// result past the Foundry's limit is refused before anything, the generation
// included, changes). A render whose entry moved stops at its next stage and
// changes nothing: -2 when the entry was unloaded (or the cache cleared, or the
// engine shut down), -5 when another writer changed it.
int applyRenderSurprise (QuorvalenEngine& engine, std::int32_t id, float intensityA, float intensityB,
                         std::int32_t stretchMode, std::int32_t order);

} // namespace quorvalen::foundry
