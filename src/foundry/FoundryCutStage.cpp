// Cut and pitch: the first stage of every layer.
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"
#include "playback/Playback.h"

namespace quorvalen::foundry
{

int renderFoundryProcessedRegion (QuorvalenEngine& engine, std::int32_t sourceId, std::int32_t targetId,
                                  float semitones, float levelPercent, float startMs, bool skipAttack)
{
    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return notReady;
    const auto found = lookupEntry (engine, sourceId, Needs::audio);
    if (found.entry == nullptr)
        return found.code;
    const auto& in = *found.entry->buffer;
    const double r = found.entry->sampleRate;
    const std::int64_t samples = in.getNumSamples();

    std::int64_t skip = 0;
    if (skipAttack)
    {
        skip = std::min<std::int64_t> (std::llround (0.03 * r), samples - 1);
        skip = skip < 1 ? 0 : skip;
    }
    // A start that is not a number counts from 0, an infinite one from the end.
    const std::int64_t s0 = std::clamp<std::int64_t> (samplesFromMs (startMs, r, samples) + skip, 0, samples - 1);
    const std::int64_t m = std::max<std::int64_t> (samples - s0, 1);

    const double ratio = pitchRatio (semitones);
    const std::int64_t n = std::max<std::int64_t> (std::llround ((double) m / ratio), 1);
    const float gain = clampOr (levelPercent, 0.0f, 100.0f, 100.0f) / 100.0f;
    auto out = tryAllocateBuffer (in.getNumChannels(), n);
    if (out == nullptr)
        return emptyAudio; // longer than a buffer can hold, or out of memory

    for (int c = 0; c < in.getNumChannels(); ++c)
    {
        const auto* x = in.getReadPointer (c);
        auto* y = out->getWritePointer (c);
        for (std::int64_t i = 0; i < n; ++i)
            y[i] = linearSampleAt (x, s0, samples - 1, (double) i * ratio + (double) s0) * gain;
    }
    replaceEntry (engine, targetId, { std::move (out), r, processedRegionName });
    return done;
}

} // namespace quorvalen::foundry
