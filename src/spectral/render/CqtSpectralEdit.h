#pragma once
// Offline constant-Q spectral edit: brush edits drawn on a cached sound's
// constant-Q picture render into a new cache entry; the source stays as it was.
#include "spectral/render/CqtBrushMask.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <functional>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::spectral
{

inline constexpr int maxSpectralEdits = 20000;
// The most coefficients of one channel that the brushes of one edit may span,
// summed over the distinct brushes (CqtBrushMask::cells): about 7.5 times every
// coefficient of a minute at 48 kHz, so that realistic drawing fits and more
// than 16 distinct brushes over the whole of a minute are refused before any
// analysis.
inline constexpr std::int64_t maxSpectralEditCells = std::int64_t { 1 } << 28;

// The new id, or one of these.
enum class SpectralEditError : std::int32_t
{
    badArrays = -1,    // a null array or a count below 1
    tooManyEdits = -2, // above maxSpectralEdits, or (once the sound is known) above maxSpectralEditCells
    notReady = -3,
    unknownId = -4,    // or the cache was cleared during the render
    noAudio = -5,      // no buffer or a bad rate
    empty = -6,        // no channels or samples
    renderFailed = -7, // while copying or rendering
};
int createCqtSpectralEdit (QuorvalenEngine& engine, std::uint32_t cacheId, const float* edits,
                           const std::uint32_t* modes, int count);

// The render on a private copy: every channel analysed, masked and resynthesised,
// the 8 ms edges crossfaded back to the input, the peak held to 0.98. The mask
// was made for the analyzer's band count. Null once `stop` (asked between the
// stages of each channel) says so. Throws on allocation or analysis failure.
std::unique_ptr<juce::AudioBuffer<float>> renderCqtSpectralEdit (const juce::AudioBuffer<float>& input,
                                                                 double sampleRate, const cqt::Analyzer& analyzer,
                                                                 const CqtBrushMask& mask,
                                                                 const std::function<bool()>& stop);

} // namespace quorvalen::spectral
