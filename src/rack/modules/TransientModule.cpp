#include "rack/modules/TransientModule.h"

#include <cmath>

namespace quorvalen
{

void TransientModule::prepare (const RackModuleSpec& spec)
{
    frame.prepare (spec.maxBlock);
    const double r4 = 4.0 * spec.sampleRate;
    fastCoefficient = dsp::onePoleTimeCoefficient (0.003, r4);
    slowCoefficient = dsp::onePoleTimeCoefficient (0.03, r4);
    reset();
}

void TransientModule::reset()
{
    follow = {};
    frame.reset();
}

void TransientModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    if (! settings.transient.enabled)
        return;
    juce::ScopedNoDenormals noDenormals;

    const float attack = lanes.read (rackParameter::transientAttack, settings.transient.attack);
    const float sustain = lanes.read (rackParameter::transientSustain, settings.transient.sustain);
    const float attackDepth = 0.9f * (attack / 10.0f);
    const float sustainDepth = 0.6f * (sustain / 10.0f);

    bool outputFinite = true;
    const bool ran =
        frame.run (block.buffer, block.start, block.count, outputFinite, [&] (juce::dsp::AudioBlock<float>& up) {
            auto* left = up.getChannelPointer (0);
            auto* right = up.getChannelPointer (1);
            const int samples = (int) up.getNumSamples();
            for (int j = 0; j < samples; ++j)
            {
                // A fast follower running ahead of a slow one marks an onset.
                const float level = (std::abs (left[j]) + std::abs (right[j])) * 0.5f;
                const float fast = follow.fast.lowPass (level, fastCoefficient);
                const float slow = follow.slow.lowPass (level, slowCoefficient);
                const float t = std::clamp ((fast - slow) / (slow + 0.02f), 0.0f, 1.0f);
                const float gain = 1.0f + attackDepth * t + sustainDepth * (1.0f - t);
                left[j] = std::tanh (0.97f * gain * left[j]);
                right[j] = std::tanh (0.97f * gain * right[j]);
            }
        });

    if (! ran)
        return;
    const bool healthy = outputFinite && allFinite ({ follow.fast.y, follow.slow.y });
    jassert (healthy);
    if (! healthy)
    {
        follow = {};
        frame.filters().reset();
    }
}

} // namespace quorvalen
