#include "rack/modules/HeatModule.h"

#include "rack/modules/OversampledModuleFrame.h"

#include <cmath>

namespace quorvalen
{

namespace
{
constexpr float twoOverPi = 0.63661975f;

// One-pole coefficient at the oversampled rate, capped below Nyquist but with no
// lower clamp (the 30 Hz and 60 Hz poles here need their exact corners).
float heatCoefficient (float frequency, double rate4) noexcept
{
    const double f = std::min ((double) frequency, 0.45 * rate4);
    return (float) (1.0 - std::exp (-2.0 * juce::MathConstants<double>::pi * f / rate4));
}

bool heatStateFinite (const HeatState& heat) noexcept
{
    for (const auto& c : heat.channels)
        if (! allFinite ({ c.bleedLowPass, c.noiseA, c.noiseB, c.output1, c.output2, c.peakEnvelope }))
            return false;
    return true;
}
} // namespace

void resetHeatState (HeatState& heat)
{
    heat = {};
}

void processHeat (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                  const QuorvalenRackSettings& settings)
{
    juce::ScopedNoDenormals noDenormals;

    const auto at = rackAutomationPosition (state);
    const float d = automationValue (settings, rackLane::heatDrive, settings.heatDrive, 0.0f, 100.0f, at,
                                     state.playLength, false) / 100.0f;
    const float m = automationValue (settings, rackLane::heatMix, settings.heatMix, 0.0f, 100.0f, at,
                                     state.playLength, false) / 100.0f;
    const float g = 1.0f + 5.0f * d;

    const double r4 = 4.0 * state.sampleRate;
    const float c30 = heatCoefficient (30.0f, r4);
    const float c1800 = heatCoefficient (1800.0f, r4);
    const float c10500 = heatCoefficient (10500.0f, r4);
    const float c15500 = heatCoefficient (15500.0f, r4);
    const float c60 = heatCoefficient (60.0f, r4);
    const float attack = (float) (1.0 - std::exp (-1.0 / (r4 * 0.004)));
    const float release = (float) (1.0 - std::exp (-1.0 / (r4 * 0.08)));

    const float k1 = 5.5f * d + 1.4f;
    const float k2 = 3.0f * d + 1.0f;
    const float noiseAmp = 0.04f * d + 0.02f;
    const float outGain = 1.8f * d + 1.15f;
    const float ceiling = 1.0f / std::tanh (1.04f);
    const int mode = settings.heatMode;

    bool outputFinite = true;
    const bool ran = runOversampledModuleFrame (
        state, rackOversamplerHeat, buffer, start, n, outputFinite, [&] (juce::dsp::AudioBlock<float>& up) {
            const int samples = (int) up.getNumSamples();
            // Channel by channel: the bleed mode's noise draws follow this order.
            for (int c = 0; c < 2; ++c)
            {
                auto& h = state.heat.channels[(size_t) c];
                auto* data = up.getChannelPointer ((size_t) c);
                for (int j = 0; j < samples; ++j)
                {
                    const float x = data[j];
                    const float u = g * x;
                    float s;
                    switch (mode)
                    {
                        case (int) HeatMode::tube:
                            s = std::tanh (u);
                            break;
                        case (int) HeatMode::warm:
                            s = std::atan (u) * twoOverPi;
                            break;
                        case (int) HeatMode::console:
                            s = std::tanh ((u - u * u * u / 3.0f) * 1.04f) * ceiling;
                            break;
                        case (int) HeatMode::broken:
                            s = 0.04f * std::sin (10.0f * u) + std::tanh (6.0f * u);
                            break;
                        default:
                        {
                            // Bleed: the highs of the driven signal, shaped, with a hiss that
                            // opens with the level and a band-pass on the result.
                            h.bleedLowPass += (u - h.bleedLowPass) * c30;
                            const float high = u - h.bleedLowPass;
                            const float a = std::tanh (k1 * high);
                            const float b = std::atan (k2 * high);
                            const float level = std::abs (x);
                            h.peakEnvelope += (level - h.peakEnvelope) * (level > h.peakEnvelope ? attack : release);
                            const float r = rackNoise (state) * noiseAmp;
                            h.noiseA += (2.0f * r - h.noiseA) * c1800;
                            h.noiseB += (2.0f * r - h.noiseA - h.noiseB) * c10500;
                            const float k = std::pow (std::clamp (4.0f * h.peakEnvelope, 0.0f, 1.0f), 1.15f);
                            const float t = std::tanh (((0.99f * k + 0.01f) * h.noiseB + 0.28f * twoOverPi * b + 0.72f * a)
                                                       * outGain);
                            h.output1 += (t - h.output1) * c15500;
                            h.output2 += (h.output1 - h.output2) * c60;
                            s = h.output1 - h.output2;
                            break;
                        }
                    }
                    data[j] = std::tanh (((1.0f - m) * x + m * s) * 1.04f) * ceiling;
                }
            }
        });

    if (! ran)
        return;
    const bool healthy = outputFinite && heatStateFinite (state.heat);
    jassert (healthy);
    if (! healthy)
    {
        // Start clean rather than feed NaN to every later block and module.
        resetHeatState (state.heat);
        state.oversamplers[rackOversamplerHeat]->reset();
    }
}

} // namespace quorvalen
