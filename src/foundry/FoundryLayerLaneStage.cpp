// A layer's automation lanes rendered into it: pitch by resampling, filters and
// heat through the oversampled kernel, then level and width per sample.
#include "foundry/FoundryAutomationKernel.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryStageMath.h"

namespace quorvalen::foundry
{

namespace
{
// Reads the layer at a speed the pitch lane sets, keeping its length.
void applyPitchLane (juce::AudioBuffer<float>& b, const LayerLanes& lanes, std::int64_t timeBase)
{
    const juce::AudioBuffer<float> copy (b);
    const std::int64_t samples = b.getNumSamples();
    FoundryLaneCursor pitch (lanes[(size_t) lane::pitch]);
    double x = 0.0;
    for (std::int64_t i = 0; i < samples; ++i)
    {
        const double ratio = lanePitchRatio (pitch.valueAt (laneTime ((double) i, timeBase)));
        for (int c = 0; c < b.getNumChannels(); ++c)
            b.setSample (c, (int) i,
                         x >= (double) (samples - 1) ? 0.0f
                                                     : linearSampleAt (copy.getReadPointer (c), 0, samples - 1, x));
        x += ratio;
    }
}
} // namespace

int renderFoundryLayerStage (QuorvalenEngine& engine, std::int32_t id, std::uint32_t layer, int heatMode,
                             bool bodyVariant, const LayerFilterSettings& filters, float timeBaseMs)
{
    if (layer >= (std::uint32_t) foundryLayerCount)
        return badLayer;
    const auto lock = lockEngine (engine);
    const auto found = lookupEntry (engine, id, Needs::audio);
    if (found.entry == nullptr)
        return found.code;
    const auto& lanes = layerLanes (engine, layer);
    const auto has = [&] (int p) { return lanes[(size_t) p].hasPoints(); };
    bool any = false;
    for (int p = 0; p < foundryParameterCount; ++p)
        any = any || has (p);
    if (! any)
        return done;
    detachPlaybackOf (engine, id);
    markCacheEntryChanged (engine, *found.entry);

    auto& b = *found.entry->buffer;
    const double r = found.entry->sampleRate;
    const std::int64_t samples = b.getNumSamples();
    const float ms = finiteOr (timeBaseMs, 0.0f);
    const std::int64_t timeBase =
        ms > 0.0f ? std::clamp<std::int64_t> (samplesFromMs (ms, r, samples), 1, samples) : samples;

    if (has (lane::pitch))
        applyPitchLane (b, lanes, timeBase);

    AutomatedLayerContext k;
    k.lanes = &lanes;
    k.timeBase = timeBase;
    k.highPassOn = filters.highPassOn && (has (lane::highPassCutoff) || has (lane::highPassResonance));
    k.highPassHz = filters.highPassHz;
    k.highPassResonance = filters.highPassResonance;
    k.lowPassOn = filters.lowPassOn && (has (lane::lowPassCutoff) || has (lane::lowPassResonance));
    k.lowPassHz = filters.lowPassHz;
    k.lowPassResonance = filters.lowPassResonance;
    k.oversampledRate = 4.0 * r;
    k.heatVariant = bodyVariant;
    k.heatMode = std::clamp (heatMode, 0, 2);
    if (k.highPassOn || k.lowPassOn || has (lane::heat))
        automatedLayerOversampled (b, k);

    const bool level = has (lane::level);
    const bool width = has (lane::width) && b.getNumChannels() >= 2;
    FoundryLaneCursor levelCursor (lanes[(size_t) lane::level]), widthCursor (lanes[(size_t) lane::width]);
    if (level || width)
        for (std::int64_t i = 0; i < samples; ++i)
        {
            const double t = laneTime ((double) i, timeBase);
            if (level)
            {
                const float g = laneLevelGain (levelCursor.valueAt (t));
                for (int c = 0; c < b.getNumChannels(); ++c)
                    b.getWritePointer (c)[i] *= g;
            }
            if (width)
                scaleSide (b.getWritePointer (0)[i], b.getWritePointer (1)[i],
                           std::clamp (2.0f * widthCursor.valueAt (t), 0.0f, 2.0f));
        }
    return done;
}

} // namespace quorvalen::foundry
