#pragma once
// Offline constant-Q spectral edit: brush edits drawn on a cached sound's
// constant-Q picture render into a new cache entry; the source stays as it was.
#include "spectral/CqtBrushMask.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::spectral
{

inline constexpr int maxSpectralEdits = 20000;

// The new id, or -1 null array or count < 1; -2 count above 20000; -3 not ready;
// -4 unknown id (or the cache was cleared during the render); -5 no buffer or bad
// rate; -6 no channels or samples; -7 failure while copying or rendering.
int createCqtSpectralEdit (QuorvalenEngine& engine, std::uint32_t cacheId, const float* edits,
                           const std::uint32_t* modes, int count);

// The render on a private copy: every channel analysed, masked and resynthesised,
// the 8 ms edges crossfaded back to the input, the peak held to 0.98. Throws on
// allocation or analysis failure.
std::unique_ptr<juce::AudioBuffer<float>> renderCqtSpectralEdit (const juce::AudioBuffer<float>& input,
                                                                 double sampleRate, std::vector<BrushRecord> brushes);

} // namespace quorvalen::spectral
