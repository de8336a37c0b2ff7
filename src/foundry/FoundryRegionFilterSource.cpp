#include "foundry/FoundryRegionFilterSource.h"

#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryNonlinear.h"

#include <cmath>

namespace quorvalen
{

namespace
{
float heldTo (float v, float lo, float hi, float neutral) noexcept
{
    return std::isnan (v) ? neutral : std::clamp (v, lo, hi);
}
} // namespace

void FoundryRegionFilterSource::setFoundryMainPreviewRegionFilter (std::uint32_t slot, bool highPassOn,
                                                                   float highPassHz, float highPassResonance,
                                                                   bool lowPassOn, float lowPassHz,
                                                                   float lowPassResonance) noexcept
{
    if (slot >= (std::uint32_t) slotCount)
        return;
    auto& s = slots[slot];
    s.highPassOn.exchange (highPassOn);
    s.highPassHz.exchange (heldTo (highPassHz, 20.0f, 20000.0f, 20.0f));
    s.highPassResonance.exchange (heldTo (highPassResonance, 0.0f, 100.0f, 0.0f));
    s.lowPassOn.exchange (lowPassOn);
    s.lowPassHz.exchange (heldTo (lowPassHz, 20.0f, 20000.0f, 20000.0f));
    s.lowPassResonance.exchange (heldTo (lowPassResonance, 0.0f, 100.0f, 0.0f));
}

void FoundryRegionFilterSource::resetState() noexcept
{
    for (int i = 0; i < slotCount; ++i)
    {
        auto& st = state[(size_t) i];
        const auto& s = slots[(size_t) i];
        st.highPassHz = s.highPassHz.load();
        st.highPassResonance = s.highPassResonance.load();
        st.lowPassHz = s.lowPassHz.load();
        st.lowPassResonance = s.lowPassResonance.load();
        for (int c = 0; c < 2; ++c)
        {
            st.highPass[(size_t) c].reset();
            st.lowPass[(size_t) c].reset();
        }
    }
}

void FoundryRegionFilterSource::advancePosition (double p0, int samples) noexcept
{
    if (samples < 1 || ! (sampleRate > 0.0) || (transport != nullptr && ! transport->isPlaying()))
        return;
    const double length = previewLengthSeconds.load();
    double p = p0 + samples * playhead.speed.load() / sampleRate;
    if (playhead.looping.load() && length > 0.0)
        p = std::fmod (p, length);
    else if (length > 0.0)
        p = std::min (length, p);
    playhead.positionSeconds.store (std::max (p, 0.0));
}

void FoundryRegionFilterSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    juce::ScopedNoDenormals noDenormals;
    const double p0 = playhead.positionSeconds.load();
    if (! pullInput (info))
        return;
    advancePosition (p0, info.numSamples);

    if (! enabled.load() || info.numSamples < 1)
        return;
    if (resetRequested.exchange (false))
        reset();

    const int index = (region2On.load() && p0 >= region2Start.load()) ? 2
        : (region1On.load() && p0 >= region1Start.load())             ? 1
                                                                      : 0;
    const auto& target = slots[(size_t) index];
    const bool highPassOn = target.highPassOn.load();
    const bool lowPassOn = target.lowPassOn.load();
    if (! highPassOn && ! lowPassOn)
        return;
    if (std::min (info.buffer->getNumChannels(), 2) < 1)
        return;

    const double to[4] = { target.highPassHz.load(), target.highPassResonance.load(), target.lowPassHz.load(),
                           target.lowPassResonance.load() };
    const double rate = 4.0 * sampleRate;
    const double k = 1.0 - std::exp (-1.0 / (rate * 0.005)); // a 5 ms glide
    auto& st = state[(size_t) index];
    std::int64_t counter = 0;

    const auto filter = [&] (juce::dsp::AudioBlock<float>& up) {
        auto* channels0 = up.getChannelPointer (0);
        auto* channels1 = up.getChannelPointer (1);
        float* x[2] = { channels0, channels1 };
        for (size_t j = 0; j < up.getNumSamples(); ++j)
        {
            double* current[4] = { &st.highPassHz, &st.highPassResonance, &st.lowPassHz, &st.lowPassResonance };
            for (int v = 0; v < 4; ++v)
                *current[v] += (to[v] - *current[v]) * k;
            if (counter++ % 64 == 0)
            {
                // Coefficients follow the glide every 64 oversampled samples.
                if (highPassOn)
                {
                    const auto c =
                        foundry::makeRegionFilterBiquad (true, st.highPassHz, (float) st.highPassResonance, rate);
                    st.highPass[0].setCoefficients (c);
                    st.highPass[1].setCoefficients (c);
                }
                if (lowPassOn)
                {
                    const auto c =
                        foundry::makeRegionFilterBiquad (false, st.lowPassHz, (float) st.lowPassResonance, rate);
                    st.lowPass[0].setCoefficients (c);
                    st.lowPass[1].setCoefficients (c);
                }
            }
            for (int c = 0; c < 2; ++c)
            {
                double y = x[c][j];
                if (highPassOn)
                    y = foundry::foundrySoftClip (st.highPass[(size_t) c].process (y));
                if (lowPassOn)
                    y = foundry::foundrySoftClip (st.lowPass[(size_t) c].process (y));
                x[c][j] = (float) y;
            }
        }
    };

    runOversampled (*info.buffer, info.startSample, info.numSamples, filter);
}

} // namespace quorvalen
