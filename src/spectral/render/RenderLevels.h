#pragma once
// Level steps the offline renders share.
#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>

namespace quorvalen::spectral
{

// Largest |sample| over every channel; 0 for a buffer flagged clear.
inline float peakOf (const juce::AudioBuffer<float>& b)
{
    if (b.hasBeenCleared())
        return 0.0f;
    float peak = 0.0f;
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
    {
        const float* x = b.getReadPointer (ch);
        for (int i = 0; i < b.getNumSamples(); ++i)
            peak = std::max (peak, std::abs (x[i]));
    }
    return peak;
}

// Scales down to `limit` when the peak lies above it; quieter audio is not raised.
inline void limitPeak (juce::AudioBuffer<float>& b, float limit)
{
    const float peak = peakOf (b);
    if (peak > limit)
        b.applyGain (limit / peak);
}

// Scales the peak to `target`; a silent buffer stays silent.
inline void normalisePeak (juce::AudioBuffer<float>& b, float target)
{
    const float peak = peakOf (b);
    if (peak > 0.0f)
        b.applyGain (target / peak);
}

} // namespace quorvalen::spectral
