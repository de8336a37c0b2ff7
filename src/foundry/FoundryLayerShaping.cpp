// Static filters, mono and polarity, transient shaping, heat and stereo width of a
// layer entry, each in place.
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryNonlinear.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"

namespace quorvalen::foundry
{

int applyFoundryLayerFilters (QuorvalenEngine& engine, std::int32_t id, const LayerFilterSettings& f)
{
    if (! f.highPassOn && ! f.lowPassOn)
        return done;
    return withEntryForWriting (engine, id, Needs::audio, [&] (CacheEntry& entry) {
        const double fs = 4.0 * entry.sampleRate;
        SoftClipFilterParams p;
        p.highPassOn = f.highPassOn;
        p.lowPassOn = f.lowPassOn;
        if (f.highPassOn)
            p.highPass = makeFoundryFilterBiquad (true, fs, f.highPassHz, f.highPassResonance);
        if (f.lowPassOn)
            p.lowPass = makeFoundryFilterBiquad (false, fs, f.lowPassHz, f.lowPassResonance);
        softClipOversampled (*entry.buffer, p);
        return done;
    });
}

int applyFoundryMonoInvert (QuorvalenEngine& engine, std::int32_t id, bool mono, bool invert)
{
    if (! mono && ! invert)
        return done;
    return withEntryForWriting (engine, id, Needs::buffer, [&] (CacheEntry& entry) {
        auto& b = *entry.buffer;
        const int channels = b.getNumChannels();
        if (mono && channels >= 2)
        {
            for (int i = 0; i < b.getNumSamples(); ++i)
            {
                float sum = 0.0f;
                for (int c = 0; c < channels; ++c)
                    sum += b.getSample (c, i);
                for (int c = 0; c < channels; ++c)
                    b.setSample (c, i, sum / (float) channels);
            }
        }
        if (invert)
            b.applyGain (-1.0f);
        return done;
    });
}

int shapeFoundryTransient (QuorvalenEngine& engine, std::int32_t id, float amountPercent)
{
    const auto lock = lockEngine (engine);
    const auto found = lookupEntry (engine, id, Needs::buffer);
    if (found.entry == nullptr)
        return unknownId; // this stage reports a missing buffer as a missing id
    auto* entry = found.entry;
    const double r = entry->sampleRate;
    if (! (r > 0.0) || entry->buffer->getNumSamples() < 1)
        return badRate;
    const float a = clampOr (amountPercent / 100.0f, -1.0f, 1.0f, 0.0f);
    if (! (a > 0.0f))
        return done;
    detachPlaybackOf (engine, id);
    markCacheEntryChanged (engine, *entry);

    std::int64_t samples = entry->buffer->getNumSamples();
    if (a > 0.5f && samples >= 2)
    {
        const auto cut =
            std::min<std::int64_t> (std::llroundf ((float) samples * std::min (a - 0.5f, 0.5f)), samples - 1);
        if (cut > 0)
        {
            auto rest = tryAllocateBuffer (entry->buffer->getNumChannels(), samples - cut);
            if (rest == nullptr)
                return badRate;
            for (int c = 0; c < rest->getNumChannels(); ++c)
                rest->copyFrom (c, 0, *entry->buffer, c, (int) cut, (int) (samples - cut));
            entry->buffer = std::move (rest);
            samples -= cut;
        }
    }

    const std::int64_t n = std::min<std::int64_t> (
        std::max<std::int64_t> (std::llround (std::pow ((double) a, 1.15) * 350.0 * r / 1000.0), 1), samples);
    if (n > 1)
    {
        const double norm = 1.0 - std::exp (-1.5);
        for (int c = 0; c < entry->buffer->getNumChannels(); ++c)
        {
            auto* x = entry->buffer->getWritePointer (c);
            for (std::int64_t i = 0; i < n; ++i)
                x[i] *= (float) ((1.0 - std::exp (-1.5 * (double) i / (double) (n - 1))) / norm);
        }
    }
    return done;
}

int applyFoundryLayerHeat (QuorvalenEngine& engine, std::int32_t id, float amountPercent, int mode, bool bodyVariant)
{
    const float a = clampOr (amountPercent / 100.0f, -1.0f, 1.0f, 0.0f);
    if (a <= 0.0001f)
        return done;
    return withEntryForWriting (engine, id, Needs::buffer, [&] (CacheEntry& entry) {
        heatOversampled (*entry.buffer, { bodyVariant, a, std::clamp (mode, 0, 2) });
        return done;
    });
}

int applyFoundryStereoWidth (QuorvalenEngine& engine, std::int32_t id, float widthPercent)
{
    const float w = clampOr (widthPercent / 100.0f, -1.0f, 1.0f, 0.0f);
    if (std::abs (w) <= 0.0001f)
        return done;
    return withEntryForWriting (engine, id, Needs::buffer, [&] (CacheEntry& entry) {
        auto& b = *entry.buffer;
        if (b.getNumChannels() >= 2)
        {
            const float g = std::clamp (w + 1.0f, 0.0f, 2.0f);
            auto* l = b.getWritePointer (0);
            auto* r = b.getWritePointer (1);
            for (int i = 0; i < b.getNumSamples(); ++i)
                scaleSide (l[i], r[i], g);
            return done;
        }
        if (b.getNumChannels() == 1 && w > 0.0001f && entry.sampleRate > 0.0)
        {
            // A mono layer gains width from a 0.37 ms difference signal.
            const int n = b.getNumSamples();
            const auto d = (int) std::max<std::int64_t> (std::llround (entry.sampleRate * 0.00037), 1);
            const float k = 0.42f * w;
            auto wide = tryAllocateBuffer (2, n);
            if (wide == nullptr)
                return n < 1 ? done : noBuffer;
            const auto* x = b.getReadPointer (0);
            for (int i = 0; i < n; ++i)
            {
                const float e = (x[i] - x[std::max (i - d, 0)]) * k;
                wide->setSample (0, i, x[i] + e);
                wide->setSample (1, i, x[i] - e);
            }
            entry.buffer = std::move (wide);
        }
        return done;
    });
}

} // namespace quorvalen::foundry
