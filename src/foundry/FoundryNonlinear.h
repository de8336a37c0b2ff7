#pragma once
// The Foundry's nonlinear curves and its offline runners at four times the rate.
#include "dsp/Biquad.h"

#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>

namespace quorvalen::foundry
{

// After every Foundry biquad.
inline double foundrySoftClip (double y) noexcept
{
    return y / (1.0 + 0.028 * std::abs (y));
}

struct HeatParams
{
    bool variant = false; // the body layer's curve
    float amount = 0.0f;  // 0..1
    int mode = 0;         // 0..2, mode form only
};

// Variant: a mix of 0.15 + 0.7a of tanh(d x)/tanh(d), d = 1 + 7a (15 % even at a = 0).
// Mode form: drive 2.2/5/10 and mix 0.35/0.62/0.86 by mode; at a = 0 the output is x.
inline float heatCurve (float x, const HeatParams& p) noexcept
{
    const float a = p.amount;
    if (p.variant)
    {
        const float d = 1.0f + 7.0f * a;
        const float m = 0.15f + 0.7f * a;
        return m * std::tanh (d * x) / std::tanh (d) + (1.0f - m) * x;
    }
    static constexpr float drives[] = { 2.2f, 5.0f, 10.0f };
    static constexpr float mixes[] = { 0.35f, 0.62f, 0.86f };
    const int mode = std::clamp (p.mode, 0, 2);
    const float d = (drives[mode] - 1.0f) * a + 1.0f;
    const float y = mode == 2 ? std::clamp (d * x, -1.0f, 1.0f) * (1.0f - 0.12f * std::abs (x))
                              : std::tanh (d * x) / std::tanh (d);
    const float m = a * mixes[mode];
    return (1.0f - m) * x + m * y;
}

// The heat curve on every sample of every channel of an oversampled block.
void heatWaveshape (const HeatParams& params, juce::dsp::AudioBlock<float>& block) noexcept;

struct SoftClipFilterParams
{
    bool highPassOn = false;
    dsp::BiquadCoefficients highPass;
    bool lowPassOn = false;
    dsp::BiquadCoefficients lowPass;
};

// Offline runners: 4x, latency compensated, in place; a buffer without channels or
// samples is left alone. Filter states start at zero for every call.
void softClipOversampled (juce::AudioBuffer<float>& buffer, const SoftClipFilterParams& params);
void heatOversampled (juce::AudioBuffer<float>& buffer, const HeatParams& params);
// y = (1 - mix) x + mix tanh(drive x) / normaliser
void tanhDriveMixOversampled (juce::AudioBuffer<float>& buffer, float drive, float normaliser, float mix);
// y = tanh(drive x)
void tanhDriveOversampled (juce::AudioBuffer<float>& buffer, float drive);

} // namespace quorvalen::foundry
