#include "rack/modules/TransientModule.h"

#include "rack/modules/OversampledModuleFrame.h"

#include <cmath>

namespace quorvalen
{

void resetTransientState (TransientState& transient)
{
    transient = {};
}

void processTransient (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                       const QuorvalenRackSettings& settings)
{
    juce::ScopedNoDenormals noDenormals;

    const auto at = rackAutomationPosition (state);
    const float attack = automationValue (settings, rackLane::transientAttack, settings.transientAttack, -10.0f, 10.0f,
                                          at, state.playLength, false);
    const float sustain = automationValue (settings, rackLane::transientSustain, settings.transientSustain, -10.0f,
                                           10.0f, at, state.playLength, false);
    const double r4 = 4.0 * state.sampleRate;
    const float fastCoefficient = (float) (1.0 - std::exp (-1.0 / (r4 * 0.003)));
    const float slowCoefficient = (float) (1.0 - std::exp (-1.0 / (r4 * 0.03)));
    const float attackDepth = 0.9f * (attack / 10.0f);
    const float sustainDepth = 0.6f * (sustain / 10.0f);

    auto& follow = state.transient;
    bool outputFinite = true;
    const bool ran = runOversampledModuleFrame (
        state, rackOversamplerTransient, buffer, start, n, outputFinite, [&] (juce::dsp::AudioBlock<float>& up) {
            auto* left = up.getChannelPointer (0);
            auto* right = up.getChannelPointer (1);
            const int samples = (int) up.getNumSamples();
            for (int j = 0; j < samples; ++j)
            {
                // A fast follower running ahead of a slow one marks an onset.
                const float level = (std::abs (left[j]) + std::abs (right[j])) * 0.5f;
                follow.fast += (level - follow.fast) * fastCoefficient;
                follow.slow += (level - follow.slow) * slowCoefficient;
                const float t = std::clamp ((follow.fast - follow.slow) / (follow.slow + 0.02f), 0.0f, 1.0f);
                const float gain = 1.0f + attackDepth * t + sustainDepth * (1.0f - t);
                left[j] = std::tanh (0.97f * gain * left[j]);
                right[j] = std::tanh (0.97f * gain * right[j]);
            }
        });

    if (! ran)
        return;
    const bool healthy = outputFinite && allFinite ({ follow.fast, follow.slow });
    jassert (healthy);
    if (! healthy)
    {
        resetTransientState (follow);
        state.oversamplers[rackOversamplerTransient]->reset();
    }
}

} // namespace quorvalen
