#pragma once
// The Foundry's nonlinear curves and its offline runners at four times the rate.
#include "dsp/Biquad.h"

#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>

namespace quorvalen::foundry
{

// tanh(x) given exp(2x).
inline float tanhFromExp2x (float e) noexcept
{
    return 1.0f - 2.0f / (e + 1.0f);
}

// tanh through one exponential: within about 1e-7 of std::tanh, several times
// cheaper, and the Foundry's curves run it for every sample at four times the rate.
inline float fastTanh (float x) noexcept
{
    return tanhFromExp2x (std::exp (2.0f * x));
}

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

// Drive and mix of the heat curve for one amount.
// Variant: a mix of 0.15 + 0.7a of tanh(d x)/tanh(d), d = 1 + 7a (15 % even at a = 0).
// Mode form: drive 2.2/5/10 and mix 0.35/0.62/0.86 by mode; at a = 0 the output is x.
struct HeatDriveMix
{
    float drive = 1.0f, mix = 0.0f;
    bool hardClip = false; // mode 2: clamp(d x) (1 - 0.12 |x|) instead of tanh(d x)/tanh(d)

    explicit HeatDriveMix (const HeatParams& p) noexcept
    {
        const float a = p.amount;
        if (p.variant)
        {
            drive = 1.0f + 7.0f * a;
            mix = 0.15f + 0.7f * a;
        }
        else
        {
            static constexpr float drives[] = { 2.2f, 5.0f, 10.0f };
            static constexpr float mixes[] = { 0.35f, 0.62f, 0.86f };
            const int mode = std::clamp (p.mode, 0, 2);
            hardClip = mode == 2;
            drive = (drives[mode] - 1.0f) * a + 1.0f;
            mix = a * mixes[mode];
        }
    }
};

inline float heatHardClip (float x, float drive) noexcept
{
    return std::clamp (drive * x, -1.0f, 1.0f) * (1.0f - 0.12f * std::abs (x));
}

inline float heatBlend (float x, float shaped, float mix) noexcept
{
    return (1.0f - mix) * x + mix * shaped;
}

// The heat curve for one amount, with its constants worked out once.
class HeatShaper
{
public:
    explicit HeatShaper (const HeatParams& p) noexcept : curve (p), norm (1.0f / fastTanh (curve.drive)) {}

    float operator() (float x) const noexcept
    {
        const float y = curve.hardClip ? heatHardClip (x, curve.drive) : fastTanh (curve.drive * x) * norm;
        return heatBlend (x, y, curve.mix);
    }

private:
    HeatDriveMix curve;
    float norm = 1.0f;
};

inline float heatCurve (float x, const HeatParams& p) noexcept
{
    return HeatShaper (p) (x);
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
