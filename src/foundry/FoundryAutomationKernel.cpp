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

// The loops below run four samples at a time on pointers that do not alias, so that
// the compiler vectorises their divisions at any optimisation level.

// 1 / tanh(drive) in place, given exp(2 drive).
void normalisersFromExp (float* __restrict e, size_t n) noexcept
{
    size_t j = 0;
    for (; j + 4 <= n; j += 4)
        for (size_t q = j; q < j + 4; ++q)
            e[q] = 1.0f / tanhFromExp2x (e[q]);
    for (; j < n; ++j)
        e[j] = 1.0f / tanhFromExp2x (e[j]);
}

// The tanh form of the heat curve, given exp(2 drive x) for every sample.
void tanhHeatBlock (float* __restrict x, const float* __restrict expInput, const float* __restrict norm,
                    const float* __restrict mix, size_t n) noexcept
{
    size_t j = 0;
    for (; j + 4 <= n; j += 4)
        for (size_t q = j; q < j + 4; ++q)
            x[q] = heatBlend (x[q], tanhFromExp2x (expInput[q]) * norm[q], mix[q]);
    for (; j < n; ++j)
        x[j] = heatBlend (x[j], tanhFromExp2x (expInput[j]) * norm[j], mix[j]);
}
} // namespace

void processAutomatedLayerBlock (AutomatedLayerContext& k, juce::dsp::AudioBlock<float>& block, std::int64_t position)
{
    const bool heat = (*k.lanes)[(size_t) lane::heat].hasPoints();
    if (k.cursorLanes != k.lanes)
    {
        k.cursorLanes = k.lanes;
        for (size_t p = 0; p < k.cursors.size(); ++p)
            k.cursors[p] = FoundryLaneCursor ((*k.lanes)[p]);
    }
    const size_t samples = block.getNumSamples();
    if (heat && k.drive.size() < samples)
        for (auto* v : { &k.drive, &k.mix, &k.norm, &k.expInput })
            v->resize (samples);

    // First what the lanes say for each sample, shared by every channel: the filter
    // coefficients every 32 base-rate samples and the heat curve per sample.
    k.refreshes.clear();
    auto& heatCursor = k.cursors[(size_t) lane::heat];
    float amount = k.heatAmount;
    HeatDriveMix curve = k.heatCurve;
    float expDrive = k.heatExpDrive;
    for (size_t j = 0; j < samples; ++j)
    {
        const double p = (double) position + (double) j / 4.0;
        const double t = laneTime (p, k.timeBase);

        // floor(p / 32) in integers where the runner's positions allow it.
        const auto refresh = position >= 0 ? (4 * position + (std::int64_t) j) / 128
                                           : (std::int64_t) std::floor (std::max (p, 0.0) / 32.0);
        if (refresh != k.lastRefresh)
        {
            k.lastRefresh = refresh;
            AutomatedLayerContext::Refresh r { j, {}, {} };
            if (k.highPassOn)
                r.highPass = laneFilter (k, true, t);
            if (k.lowPassOn)
                r.lowPass = laneFilter (k, false, t);
            k.refreshes.push_back (r);
        }

        if (heat)
        {
            // The curve's constants change only with the lane's value.
            const float a = heatCursor.valueAt (t);
            if (a != amount)
            {
                amount = a;
                curve = HeatDriveMix ({ k.heatVariant, a, k.heatMode });
                expDrive = curve.hardClip ? 1.0f : std::exp (2.0f * curve.drive);
            }
            k.drive[j] = curve.drive;
            k.mix[j] = curve.mix;
            k.norm[j] = expDrive;
        }
    }
    k.heatAmount = amount;
    k.heatCurve = curve;
    k.heatExpDrive = expDrive;
    // The divisions run over the whole block at once (1 / tanh(drive)).
    const bool tanhHeat = heat && ! curve.hardClip;
    if (tanhHeat)
        normalisersFromExp (k.norm.data(), samples);

    // Then the filters, sample by sample across the channels so that their
    // recursions overlap, with the coefficients in force from each refresh on.
    const size_t channels = std::min (block.getNumChannels(), k.channels.size());
    if (k.highPassOn || k.lowPassOn)
        for (size_t from = 0, next = 0; from < samples;)
        {
            if (next < k.refreshes.size() && k.refreshes[next].sample == from)
            {
                for (auto& state : k.channels)
                {
                    if (k.highPassOn)
                        state.highPass.setCoefficients (k.refreshes[next].highPass);
                    if (k.lowPassOn)
                        state.lowPass.setCoefficients (k.refreshes[next].lowPass);
                }
                ++next;
            }
            const size_t to = next < k.refreshes.size() ? k.refreshes[next].sample : samples;
            for (size_t j = from; j < to; ++j)
                for (size_t c = 0; c < channels; ++c)
                {
                    auto& state = k.channels[c];
                    float& x = block.getChannelPointer (c)[j];
                    double v = x;
                    if (k.highPassOn)
                        v = foundrySoftClip (state.highPass.process (v));
                    if (k.lowPassOn)
                        v = foundrySoftClip (state.lowPass.process (v));
                    x = (float) v;
                }
            from = to;
        }

    // Then the heat curve, channel by channel.
    for (size_t c = 0; c < channels && heat; ++c)
    {
        float* x = block.getChannelPointer (c);
        if (tanhHeat)
        {
            for (size_t j = 0; j < samples; ++j)
                k.expInput[j] = std::exp (2.0f * (k.drive[j] * x[j]));
            tanhHeatBlock (x, k.expInput.data(), k.norm.data(), k.mix.data(), samples);
        }
        else
            for (size_t j = 0; j < samples; ++j)
                x[j] = heatBlend (x[j], heatHardClip (x[j], k.drive[j]), k.mix[j]);
    }
}

void automatedLayerOversampled (juce::AudioBuffer<float>& buffer, AutomatedLayerContext& context)
{
    if (context.lanes == nullptr)
        return;
    context.channels.assign ((size_t) std::max (buffer.getNumChannels(), 0), {});
    context.lastRefresh = -1;
    context.cursorLanes = nullptr;
    context.heatAmount = std::numeric_limits<float>::quiet_NaN();
    dsp::runOversampledOffline (buffer, [&] (juce::dsp::AudioBlock<float>& up, std::int64_t position) {
        processAutomatedLayerBlock (context, up, position);
    });
}

} // namespace quorvalen::foundry
