// The finish of a preview: final pitch, length, character and the end fade.
#include "foundry/FoundryPreview.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"
#include "playback/Playback.h"

#include <cmath>

namespace quorvalen::foundry
{

std::unique_ptr<juce::AudioBuffer<float>> finaliseFoundryPreview (const juce::AudioBuffer<float>& in, double r,
                                                                  float lengthMs, float minimumFadeMs,
                                                                  float finalSemitones, float characterPercent)
{
    const std::int64_t samples = in.getNumSamples();
    if (samples < 1 || in.getNumChannels() < 1 || ! (r > 0.0) || ! std::isfinite (r))
        return nullptr;
    if (beyondFoundryLimit (lengthMs))
        return nullptr;
    const double ratio = pitchRatio (finalSemitones);
    // A length that is not a number (infinite included) leaves the sound's own.
    const bool lengthSet = std::isfinite (lengthMs) && lengthMs > 0.0f;
    const double lExact =
        lengthSet ? std::round (std::max ((double) lengthMs, 1.0) * r / 1000.0) : std::round ((double) samples / ratio);
    if (! (lExact <= (double) maxBufferSamples))
        return nullptr; // a length no buffer can hold
    const auto l = std::max<std::int64_t> ((std::int64_t) lExact, 1);

    const double c = std::isnan (characterPercent) ? 0.0 : std::clamp ((double) characterPercent / 100.0, 0.0, 1.0);
    const double u = std::clamp ((c - 0.3) / 0.7, 0.0, 1.0);
    const double k = c > 0.3 ? 1.0 - std::pow (u, 1.35) * 0.7 : 1.0;
    const auto n = std::max<std::int64_t> (1, std::llround ((float) l * (float) k));

    auto out = tryAllocateBuffer (in.getNumChannels(), n);
    if (out == nullptr)
        return nullptr;
    out->clear();
    for (int ch = 0; ch < in.getNumChannels(); ++ch)
    {
        const float* s = in.getReadPointer (ch);
        float* y = out->getWritePointer (ch);
        for (std::int64_t i = 0; i < n; ++i)
        {
            const double x = (double) i * ratio;
            if (x >= (double) samples)
                break;
            const auto j = (std::int64_t) x;
            y[i] = s[j] + (s[std::min (samples - 1, j + 1)] - s[j]) * (float) (x - (double) j);
        }
    }

    const double minimumFade = finiteOr (minimumFadeMs, 5.0f);
    const double fadeMs =
        c > 0.0 ? std::max (std::pow (c, 1.6) * ((double) n * 1000.0 / r) * 0.72, minimumFade) : minimumFade;
    const auto fade = std::clamp<std::int64_t> (std::llround (fadeMs * r / 1000.0), 1, n);
    const double e5 = std::exp (5.0) - 1.0;
    for (int ch = 0; ch < out->getNumChannels(); ++ch)
    {
        float* y = out->getWritePointer (ch) + (n - fade);
        if (fade == 1)
        {
            y[0] = 0.0f;
            continue;
        }
        for (std::int64_t i = 0; i < fade; ++i)
            y[i] *= (float) ((std::exp (5.0 * (1.0 - (double) i / (double) (fade - 1))) - 1.0) / e5);
    }
    return out;
}

} // namespace quorvalen::foundry
