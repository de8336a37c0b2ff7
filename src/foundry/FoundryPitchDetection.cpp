#include "foundry/FoundryPitchDetection.h"

#include "core/Units.h"
#include "foundry/FoundryEngineAccess.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::foundry
{

float detectFoundryPitch (QuorvalenEngine& engine, std::int32_t id, float startMs)
{
    const auto lock = lockEngine (engine);
    const auto found = lookupEntry (engine, id, Needs::audio);
    if (found.entry == nullptr)
        return 0.0f;
    const auto& buffer = *found.entry->buffer;
    const double sr = found.entry->sampleRate;
    const std::int64_t length = buffer.getNumSamples();

    // NaN counts from the beginning.
    const std::int64_t s = msToSamplesAtMost (startMs, sr, length - 1);
    const std::int64_t window = std::min<std::int64_t> (length - s, (std::int64_t) (0.12 * sr));
    if (window < 256)
        return 0.0f;

    const auto* x = buffer.getReadPointer (0) + s;
    const auto shortest = (std::int64_t) (sr / 1500.0);
    const auto longest = std::min<std::int64_t> ((std::int64_t) (sr / 45.0), window / 2);
    double best = 0.0;
    std::int64_t bestLag = 0;
    for (std::int64_t lag = shortest; lag <= longest; ++lag)
    {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (std::int64_t i = 0; i < window - lag; i += 2)
        {
            const double a = x[i], b = x[i + lag];
            xy += a * b;
            xx += a * a;
            yy += b * b;
        }
        const double r = xy / std::sqrt (xx * yy + 1.0e-12);
        if (r > best) // strictly: the shortest lag wins a tie
        {
            best = r;
            bestLag = lag;
        }
    }
    return best > 0.28 && bestLag >= 1 ? (float) (sr / (double) bestLag) : 0.0f;
}

} // namespace quorvalen::foundry
