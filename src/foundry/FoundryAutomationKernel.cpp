#include "foundry/FoundryAutomationKernel.h"

#include "dsp/OfflineOversampler.h"
#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryNonlinear.h"

#include <cmath>

namespace quorvalen::foundry
{

namespace
{
// Cutoff and resonance of one filter at t: each from its lane when present.
dsp::BiquadCoefficients laneFilter (AutomatedLayerContext& k, bool highPass, double t) noexcept
{
    const auto& lanes = *k.lanes;
    const int cutoffLane = highPass ? lane::highPassCutoff : lane::lowPassCutoff;
    const int resonanceLane = highPass ? lane::highPassResonance : lane::lowPassResonance;
    const double f = lanes[(size_t) cutoffLane].hasPoints()
        ? laneCutoffHz (k.cursors[(size_t) cutoffLane].valueAt (t))
        : (highPass ? k.highPassHz : k.lowPassHz);
    const float r = lanes[(size_t) resonanceLane].hasPoints()
        ? 100.0f * k.cursors[(size_t) resonanceLane].valueAt (t)
        : (highPass ? k.highPassResonance : k.lowPassResonance);
    return makeFoundryFilterBiquad (highPass, k.oversampledRate, f, r);
}
} // namespace

void processAutomatedLayerBlock (AutomatedLayerContext& k, juce::dsp::AudioBlock<float>& block,
                                 std::int64_t position) noexcept
{
    const bool heat = (*k.lanes)[(size_t) lane::heat].hasPoints();
    if (k.cursorLanes != k.lanes)
    {
        k.cursorLanes = k.lanes;
        for (size_t p = 0; p < k.cursors.size(); ++p)
            k.cursors[p] = FoundryLaneCursor ((*k.lanes)[p]);
    }
    const size_t channels = std::min (block.getNumChannels(), k.channels.size());
    for (size_t j = 0; j < block.getNumSamples(); ++j)
    {
        const double p = (double) position + (double) j / 4.0;
        const double t = laneTime (p, k.timeBase);

        // Coefficients follow the lanes every 32 base-rate samples.
        const auto refresh = (std::int64_t) std::floor (std::max (p, 0.0) / 32.0);
        if (refresh != k.lastRefresh)
        {
            k.lastRefresh = refresh;
            if (k.highPassOn)
            {
                const auto c = laneFilter (k, true, t);
                for (auto& s : k.channels)
                    s.highPass.setCoefficients (c);
            }
            if (k.lowPassOn)
            {
                const auto c = laneFilter (k, false, t);
                for (auto& s : k.channels)
                    s.lowPass.setCoefficients (c);
            }
        }

        if (heat)
        {
            // The shaper's constants change only with the lane's value.
            const float a = k.cursors[(size_t) lane::heat].valueAt (t);
            if (a != k.heatAmount)
            {
                k.heatAmount = a;
                k.heatShaper = HeatShaper ({ k.heatVariant, a, k.heatMode });
            }
        }
        for (size_t c = 0; c < channels; ++c)
        {
            float& x = block.getChannelPointer (c)[j];
            double v = x;
            if (k.highPassOn)
                v = foundrySoftClip (k.channels[c].highPass.process (v));
            if (k.lowPassOn)
                v = foundrySoftClip (k.channels[c].lowPass.process (v));
            x = heat ? k.heatShaper ((float) v) : (float) v;
        }
    }
}

void automatedLayerOversampled (juce::AudioBuffer<float>& buffer, AutomatedLayerContext& context)
{
    if (context.lanes == nullptr)
        return;
    context.channels.assign ((size_t) std::max (buffer.getNumChannels(), 0), {});
    context.lastRefresh = -1;
    context.cursorLanes = nullptr;
    context.heatAmount = -1.0f;
    dsp::runOversampledOffline (buffer, [&] (juce::dsp::AudioBlock<float>& up, std::int64_t position) {
        processAutomatedLayerBlock (context, up, position);
    });
}

} // namespace quorvalen::foundry
