// Region window and edge fades of a layer entry.
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryStageMath.h"

namespace quorvalen::foundry
{

int applyFoundryRegionWindow (QuorvalenEngine& engine, std::int32_t id, float fadeInPercent, float fadeOutPercent)
{
    const float s = unitFraction (fadeInPercent);
    const float e = unitFraction (fadeOutPercent);
    if (s == 0.0f && e == 0.0f)
        return done;
    return withEntryForWriting (engine, id, Needs::buffer, [&] (CacheEntry& entry) {
        auto& b = *entry.buffer;
        const std::int64_t n = b.getNumSamples();
        const std::int64_t in = std::llroundf ((float) n * s);
        const std::int64_t out = std::llroundf ((float) n * e);
        for (int c = 0; c < b.getNumChannels(); ++c)
        {
            auto* x = b.getWritePointer (c);
            for (std::int64_t i = 0; i < n; ++i)
                x[i] *= regionWindowGain (i, n, in, out);
        }
        return done;
    });
}

int applyFoundryEdgeFades (QuorvalenEngine& engine, std::int32_t id, float fadeMs)
{
    return withEntryForWriting (engine, id, Needs::audio, [&] (CacheEntry& entry) {
        auto& b = *entry.buffer;
        const std::int64_t samples = b.getNumSamples();
        const std::int64_t n = std::clamp<std::int64_t> (
            samplesFromMs (std::max (finiteOr (fadeMs, 0.0f), 0.0f), entry.sampleRate, samples), 1, samples);
        for (int c = 0; c < b.getNumChannels(); ++c)
        {
            auto* x = b.getWritePointer (c);
            for (std::int64_t i = 0; i < n; ++i)
            {
                // A single-sample fade silences both ends rather than dividing by zero.
                const float g = n > 1 ? (float) i / (float) (n - 1) : 0.0f;
                x[i] *= g;
                x[samples - 1 - i] *= g;
            }
        }
        return done;
    });
}

} // namespace quorvalen::foundry
