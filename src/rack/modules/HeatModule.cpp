#include "rack/modules/HeatModule.h"

#include <cmath>

namespace quorvalen
{

namespace
{
constexpr float twoOverPi = 0.63661975f;

bool heatStateFinite (const HeatState& heat) noexcept
{
    for (const auto& c : heat.channels)
        if (! allFinite ({ c.bleedLowPass.y, c.noiseA, c.noiseB, c.output1.y, c.output2.y, c.peakEnvelope }))
            return false;
    return true;
}
} // namespace

void HeatModule::prepare (const RackModuleSpec& spec)
{
    frame.prepare (spec.maxBlock);
    // One-pole corners capped below Nyquist but with no lower clamp (the 30 Hz and
    // 60 Hz poles need their exact corners).
    const double r4 = 4.0 * spec.sampleRate;
    c30 = dsp::onePoleCoefficientBelowNyquist (30.0, r4);
    c1800 = dsp::onePoleCoefficientBelowNyquist (1800.0, r4);
    c10500 = dsp::onePoleCoefficientBelowNyquist (10500.0, r4);
    c15500 = dsp::onePoleCoefficientBelowNyquist (15500.0, r4);
    c60 = dsp::onePoleCoefficientBelowNyquist (60.0, r4);
    attack = dsp::onePoleTimeCoefficient (0.004, r4);
    release = dsp::onePoleTimeCoefficient (0.08, r4);
    reset();
}

void HeatModule::reset()
{
    heat = {};
    frame.reset();
}

void HeatModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    if (! settings.heat.enabled)
        return;
    juce::ScopedNoDenormals noDenormals;

    const float d = lanes.read (rackParameter::heatDrive, settings.heat.drive) / 100.0f;
    const float m = lanes.read (rackParameter::heatMix, settings.heat.mix) / 100.0f;
    const float g = 1.0f + 5.0f * d;

    const float k1 = 5.5f * d + 1.4f;
    const float k2 = 3.0f * d + 1.0f;
    const float noiseAmp = 0.04f * d + 0.02f;
    const float outGain = 1.8f * d + 1.15f;
    const float ceiling = 1.0f / std::tanh (1.04f);
    const auto mode = settings.heat.mode;

    bool outputFinite = true;
    const bool ran = frame.run (block.buffer, block.start, block.count, outputFinite,
                                [&] (juce::dsp::AudioBlock<float>& up) {
        const int samples = (int) up.getNumSamples();
        // Channel by channel: the bleed mode's noise draws follow this order.
        for (int c = 0; c < 2; ++c)
        {
            auto& h = heat.channels[(size_t) c];
            auto* data = up.getChannelPointer ((size_t) c);
            for (int j = 0; j < samples; ++j)
            {
                const float x = data[j];
                const float u = g * x;
                float s;
                switch (mode)
                {
                    case HeatMode::tube: s = std::tanh (u); break;
                    case HeatMode::warm: s = std::atan (u) * twoOverPi; break;
                    case HeatMode::console: s = std::tanh ((u - u * u * u / 3.0f) * 1.04f) * ceiling; break;
                    case HeatMode::broken: s = 0.04f * std::sin (10.0f * u) + std::tanh (6.0f * u); break;
                    default:
                    {
                        // Bleed: the highs of the driven signal, shaped, with a hiss that
                        // opens with the level and a band-pass on the result.
                        const float high = u - h.bleedLowPass.lowPass (u, c30);
                        const float a = std::tanh (k1 * high);
                        const float b = std::atan (k2 * high);
                        const float level = std::abs (x);
                        h.peakEnvelope += (level - h.peakEnvelope) * (level > h.peakEnvelope ? attack : release);
                        const float r = noise.next() * noiseAmp;
                        h.noiseA += (2.0f * r - h.noiseA) * c1800;
                        h.noiseB += (2.0f * r - h.noiseA - h.noiseB) * c10500;
                        const float k = std::pow (std::clamp (4.0f * h.peakEnvelope, 0.0f, 1.0f), 1.15f);
                        const float t =
                            std::tanh (((0.99f * k + 0.01f) * h.noiseB + 0.28f * twoOverPi * b + 0.72f * a) * outGain);
                        const float first = h.output1.lowPass (t, c15500);
                        s = first - h.output2.lowPass (first, c60);
                        break;
                    }
                }
                data[j] = std::tanh (((1.0f - m) * x + m * s) * 1.04f) * ceiling;
            }
        }
    });

    if (! ran)
        return;
    const bool healthy = outputFinite && heatStateFinite (heat);
    jassert (healthy);
    if (! healthy)
    {
        // Start clean rather than feed NaN to every later block and module.
        heat = {};
        frame.filters().reset();
    }
}

} // namespace quorvalen
