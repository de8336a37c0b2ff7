#include "foundry/FoundryAuditionCharacterSource.h"

#include "foundry/FoundryNonlinear.h"
#include "foundry/FoundryStageMath.h"

#include <cmath>

namespace quorvalen
{

namespace
{
// tanh(1.035 x) / tanh(1.035): about 1.334 times louder when quiet, a soft ceiling when loud.
const float ceilingNorm = 1.0f / std::tanh (1.035f);

// Every parameter a block uses, read once at its start.
struct CharacterParams
{
    int mode;
    float transient, body, tail, overtone, width, level;
};

// An infinity takes the nearer end, NaN the neutral 0.
float heldTo (float v, float lo, float hi) noexcept
{
    return std::isnan (v) ? 0.0f : std::clamp (v, lo, hi);
}
} // namespace

void FoundryAuditionCharacterSource::resetState() noexcept
{
    for (int c = 0; c < 2; ++c)
        fast[c] = slow[c] = 0.0;
}

void FoundryAuditionCharacterSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    juce::ScopedNoDenormals noDenormals;
    if (! pullInput (info))
        return;
    auto& buffer = *info.buffer;
    const int ch = std::min (buffer.getNumChannels(), 2);
    if (info.numSamples < 1 || ch < 1)
        return;

    CharacterParams p;
    p.mode = mode.load();
    p.transient = heldTo (transientAmount.load() / 100.0f, -1.0f, 1.0f);
    p.body = heldTo (bodyHeat.load() / 100.0f, 0.0f, 1.0f);
    p.tail = heldTo (tailHeat.load() / 100.0f, 0.0f, 1.0f);
    p.overtone = heldTo (overtoneDrive.load() / 100.0f, 0.0f, 1.0f);
    p.width = heldTo (width.load() / 100.0f, -1.0f, 1.0f);
    p.level = heldTo (level.load(), 0.0f, 1.5f);
    const foundry::HeatShaper bodyShape ({ true, p.body, 0 });
    const foundry::HeatShaper tailShape ({ false, p.tail, std::clamp (heatMode.load(), 0, 2) });
    const float overtoneDrive = 1.0f + 11.0f * p.overtone;
    const float overtoneNorm = 1.0f / std::tanh (overtoneDrive);
    const double rate = 4.0 * sampleRate;
    const double cf = std::exp (-1.0 / (rate * 0.0015));
    const double cs = std::exp (-1.0 / (rate * 0.025));

    const auto character = [&] (juce::dsp::AudioBlock<float>& up) {
        for (size_t c = 0; c < 2; ++c)
        {
            auto* x = up.getChannelPointer (c);
            for (size_t j = 0; j < up.getNumSamples(); ++j)
            {
                float v = x[j];
                if (p.mode == transientMode && std::abs (p.transient) > 0.0001f)
                {
                    const double a = std::abs (v);
                    fast[c] = cf * fast[c] + (1.0 - cf) * a;
                    slow[c] = (1.0 - cs) * a + cs * slow[c];
                    const double g = 1.0 + 1.5 * p.transient * std::max (fast[c] - slow[c], 0.0) / (slow[c] + 0.02);
                    v *= (float) std::clamp (g, 0.15, 3.0);
                }
                else if (p.mode == bodyMode && p.body > 0.0001f)
                    v = bodyShape (v);
                else if (p.mode == tailMode && p.tail > 0.0001f)
                    v = tailShape (v);
                else if (p.mode == overtoneMode && p.overtone > 0.0001f)
                    v = p.overtone * foundry::fastTanh (overtoneDrive * v) * overtoneNorm + (1.0f - p.overtone) * v;
                x[j] = foundry::fastTanh (1.035f * v) * ceilingNorm;
            }
        }
    };

    // The level follows the character on the processed channels only.
    runOversampled (buffer, info.startSample, info.numSamples, character);
    for (int c = 0; c < ch; ++c)
        buffer.applyGain (c, info.startSample, info.numSamples, p.level);

    if (p.mode == tailMode && ch >= 2 && std::abs (p.width) > 0.0001f)
    {
        const float s = std::clamp (p.width + 1.0f, 0.0f, 2.0f);
        auto* l = buffer.getWritePointer (0, info.startSample);
        auto* r = buffer.getWritePointer (1, info.startSample);
        for (int i = 0; i < info.numSamples; ++i)
            foundry::scaleSide (l[i], r[i], s);
    }
}

} // namespace quorvalen
