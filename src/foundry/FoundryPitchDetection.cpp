#include "foundry/FoundryPitchDetection.h"

#include "cache/LongWork.h"
#include "core/Units.h"
#include "foundry/FoundryEngineAccess.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace quorvalen::foundry
{

namespace
{
// Lags correlated between two looks whether to stop: a few milliseconds of work.
constexpr std::int64_t lagsPerLook = 128;

// Normalised correlation of x with itself `lag` samples later, over every second
// sample of the window.
double correlationAt (const float* x, std::int64_t window, std::int64_t lag)
{
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::int64_t i = 0; i < window - lag; i += 2)
    {
        const double a = x[i], b = x[i + lag];
        xy += a * b;
        xx += a * a;
        yy += b * b;
    }
    return xy / std::sqrt (xx * yy + 1.0e-12);
}
} // namespace

float detectFoundryPitch (QuorvalenEngine& engine, std::int32_t id, float startMs)
{
    // The window is copied under the lock (at most 120 ms of the first channel);
    // the search runs without it.
    std::optional<LongWorkWatch> watch;
    std::vector<float> copy;
    double sr = 0.0;
    {
        const auto lock = lockEngine (engine);
        const auto found = lookupEntry (engine, id, Needs::audio);
        if (found.entry == nullptr)
            return 0.0f;
        const auto& buffer = *found.entry->buffer;
        sr = found.entry->sampleRate;
        const std::int64_t length = buffer.getNumSamples();

        // NaN counts from the beginning.
        const std::int64_t s = msToSamplesAtMost (startMs, sr, length - 1);
        const std::int64_t window = std::min<std::int64_t> (length - s, (std::int64_t) (0.12 * sr));
        if (window < 256)
            return 0.0f;
        const float* first = buffer.getReadPointer (0) + s;
        copy.assign (first, first + window);
        watch.emplace (engine);
        watch->read ((std::uint32_t) id);
    }
    const auto* x = copy.data();
    const auto window = (std::int64_t) copy.size();

    // Lags from 1500 Hz (rounded up, so no reading lies above it) down to 45 Hz.
    const auto shortest = std::max<std::int64_t> ((std::int64_t) std::ceil (sr / 1500.0), 1);
    const auto longest = std::min<std::int64_t> ((std::int64_t) (sr / 45.0), window / 2);
    if (longest < shortest)
        return 0.0f;

    // r also two lags beyond each end, so that a peak just outside the range is
    // told from a slope running into it. The search gives up (0) when the entry
    // goes or the engine shuts down meanwhile.
    const std::int64_t lo = std::max<std::int64_t> (shortest - 2, 1), hi = longest + 2;
    std::vector<double> r ((size_t) (hi - lo + 1));
    for (std::int64_t lag = lo; lag <= hi; ++lag)
    {
        if ((lag - lo) % lagsPerLook == 0 && watch->stopped())
            return 0.0f;
        r[(size_t) (lag - lo)] = correlationAt (x, window, lag);
    }
    const auto at = [&] (std::int64_t lag) { return r[(size_t) (lag - lo)]; };

    double best = 0.0;
    for (std::int64_t lag = shortest; lag <= longest; ++lag)
        best = std::max (best, at (lag));
    if (! (best > 0.28))
        return 0.0f;

    // Every multiple of the period correlates about as well as the period itself,
    // so the longest of them must not win by a hair: the answer is the shortest
    // peak that comes within 3 % of the highest one. A peak's height is read from
    // the parabola through it and its neighbours, because a whole-sample lag falls
    // beside the true period by up to half a sample and a bright sound's peak is
    // narrow.
    const auto isPeak = [&] (std::int64_t lag) {
        return (lag - 1 < lo || at (lag) > at (lag - 1)) && (lag + 1 > hi || at (lag) >= at (lag + 1));
    };
    const auto height = [&] (std::int64_t lag) {
        if (lag - 1 < lo || lag + 1 > hi)
            return at (lag);
        const double a = at (lag - 1), b = at (lag), c = at (lag + 1);
        const double curve = 2.0 * b - a - c;
        return curve > 0.0 ? b + (c - a) * (c - a) / (8.0 * curve) : b;
    };
    const std::int64_t first = std::max (shortest - 1, lo), last = longest + 1;
    double highest = 0.0;
    for (std::int64_t lag = first; lag <= last; ++lag)
        if (isPeak (lag))
            highest = std::max (highest, height (lag));
    for (std::int64_t lag = first; lag <= last; ++lag)
        if (isPeak (lag) && height (lag) >= 0.97 * highest)
            return (float) (sr / (double) std::clamp (lag, shortest, longest));
    return 0.0f;
}

} // namespace quorvalen::foundry
