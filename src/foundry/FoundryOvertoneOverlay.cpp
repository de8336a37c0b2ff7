// The overtone layer: cut, shaped and driven in its reserved entry, then mixed
// into the finished preview over the overlay span.
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryNonlinear.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"

namespace quorvalen::foundry
{

namespace
{
int renderOvertoneLayer (QuorvalenEngine& engine, const OvertoneOverlay& o)
{
    if (const int code = renderFoundryProcessedRegion (engine, o.sourceId, overtoneLayerId, o.semitones, o.levelPercent,
                                                       o.sourceStartMs, false))
        return code;
    if (const int code = applyFoundryMonoInvert (engine, overtoneLayerId, o.mono, o.invert))
        return code;
    if (const int code = applyFoundryLayerFilters (
            engine, overtoneLayerId, { o.highPassOn, o.highPassHz, 0.0f, o.lowPassOn, o.lowPassHz, 0.0f }))
        return code;

    const float a = clampOr (o.drivePercent / 100.0f, -1.0f, 1.0f, 0.0f);
    if (a > 0.0001f)
    {
        const int code = withEntryForWriting (engine, overtoneLayerId, Needs::buffer, [&] (CacheEntry& entry) {
            const float d = 1.0f + 11.0f * a;
            tanhDriveMixOversampled (*entry.buffer, d, std::tanh (d), a);
            return done;
        });
        if (code != done)
            return code;
    }
    return applyFoundryEdgeFades (engine, overtoneLayerId, 3.0f);
}
} // namespace

namespace
{
// Renders the overtone layer and takes a copy of it out of its reserved entry.
int takeOvertoneLayer (QuorvalenEngine& engine, const OvertoneOverlay& o, double r, juce::AudioBuffer<float>& overtone,
                       double& rO)
{
    if (const int code = renderOvertoneLayer (engine, o))
        return code;
    {
        const auto lock = lockEngine (engine);
        const auto found = lookupEntry (engine, overtoneLayerId, Needs::buffer);
        if (found.entry != nullptr)
        {
            overtone.makeCopyOf (*found.entry->buffer);
            rO = found.entry->sampleRate;
        }
        eraseEntry (engine, overtoneLayerId);
        if (found.entry == nullptr)
            return unknownId;
    }
    if (overtone.getNumSamples() < 1 || overtone.getNumChannels() < 1)
        return noBuffer;
    if (! (r > 0.0) || ! (rO > 0.0) || ! std::isfinite (r))
        return badRate;
    return done;
}

// Mixes the overtone into the preview over the overlay span, lengthening the
// preview to the span's end.
int mixOvertone (std::unique_ptr<juce::AudioBuffer<float>>& slot, const juce::AudioBuffer<float>& overtone, double rO,
                 const OvertoneOverlay& o, double r)
{
    auto* preview = slot.get();
    if (preview == nullptr || preview->getNumSamples() < 1)
        return noPreviewBuffer;
    if (beyondFoundryLimit (o.overlayStartMs) || beyondFoundryLimit (o.overlayEndMs))
        return noPreviewBuffer; // a preview lengthened past the limit
    const float startMs = std::max (finiteOr (o.overlayStartMs, 0.0f), 0.0f);
    const float endMs = std::max (finiteOr (o.overlayEndMs, startMs), startMs);
    std::int64_t p0 = samplesFromMs (startMs, r, maxBufferSamples + 1);
    p0 = p0 < 1 ? 0 : p0;
    const std::int64_t pe = samplesFromMs (endMs, r, maxBufferSamples + 1);
    const std::int64_t need = std::max (p0, pe);
    if (need > maxBufferSamples)
        return noPreviewBuffer; // a preview that long cannot be held
    if (need > preview->getNumSamples())
    {
        auto longer = tryAllocateBuffer (preview->getNumChannels(), need);
        if (longer == nullptr)
            return noPreviewBuffer;
        for (int c = 0; c < preview->getNumChannels(); ++c)
            longer->copyFrom (c, 0, *preview, c, 0, preview->getNumSamples());
        slot = std::move (longer);
        preview = slot.get();
    }

    const double step = rO / r;
    const std::int64_t overtoneLength = std::llround ((double) overtone.getNumSamples() / step);
    const std::int64_t n = std::min (
        { (std::int64_t) preview->getNumSamples() - p0, std::max<std::int64_t> (overtoneLength, 1), need - p0 });
    if (n < 1)
        return done;
    const std::int64_t in = std::llroundf (unitFraction (o.fadeInPercent) * (float) n);
    const std::int64_t out = std::llroundf (unitFraction (o.fadeOutPercent) * (float) n);
    const std::int64_t last = overtone.getNumSamples() - 1;
    for (int c = 0; c < preview->getNumChannels(); ++c)
    {
        const auto* x = overtone.getReadPointer (std::min (c, overtone.getNumChannels() - 1));
        auto* y = preview->getWritePointer (c) + p0;
        for (std::int64_t i = 0; i < n; ++i)
        {
            // The preview dips by 5 % under the overtone at full gain.
            const float g = regionWindowGain (i, n, in, out);
            y[i] = (1.0f - 0.05f * g) * y[i] + g * linearSampleAt (x, 0, last, (double) i * step);
        }
    }
    return done;
}
} // namespace

namespace
{
// Renders the overtone layer, then `mix (overtone, its rate)`.
template <typename Mix>
int overlayWith (QuorvalenEngine& engine, const OvertoneOverlay& o, double r, Mix&& mix)
{
    if (o.sourceId < 1)
        return done;
    juce::AudioBuffer<float> overtone;
    double rO = 0.0;
    if (const int code = takeOvertoneLayer (engine, o, r, overtone, rO))
        return code;
    return mix (overtone, rO);
}
} // namespace

int overlayFoundryOvertone (QuorvalenEngine& engine, const OvertoneOverlay& o, double r)
{
    return overlayWith (engine, o, r, [&] (const juce::AudioBuffer<float>& overtone, double rO) {
        const auto lock = lockEngine (engine);
        return mixOvertone (writablePlaybackBufferSlot (engine), overtone, rO, o, r);
    });
}

int overlayFoundryOvertone (QuorvalenEngine& engine, const OvertoneOverlay& o, double r,
                            std::unique_ptr<juce::AudioBuffer<float>>& preview)
{
    return overlayWith (engine, o, r, [&] (const juce::AudioBuffer<float>& overtone, double rO) {
        return mixOvertone (preview, overtone, rO, o, r);
    });
}

} // namespace quorvalen::foundry
