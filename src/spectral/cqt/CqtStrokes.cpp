#include "spectral/cqt/CqtStrokes.h"

#include "core/Log.h"
#include "spectral/cqt/CqtCoefficientStroke.h"
#include "spectral/cqt/SpectralCqt.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralStrokeEdit.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{
namespace
{
float clampTo (float v, float low, float high)
{
    return v < low ? low : std::min (v, high);
}

// Band of position y (0 the highest band) among nb bands.
int bandAt (float y, int nb)
{
    return std::clamp ((int) std::lroundf ((float) (nb - 1) * y), 0, nb - 1);
}

} // namespace

// Per band, the intervals each hit reaches (its time window, and the coefficient
// at its rounded time index), turned into the strongest attenuation per time.
CqtStrokePlan laserStrokePlan (const SpectralSession& session, const float* p, std::int32_t count, int& firstBand)
{
    const int nb = std::max (1, session.cqtBandCount);
    const std::int64_t n = session.numSamples;
    std::vector<std::vector<CoefSpan>> reach ((std::size_t) nb);
    CqtStrokePlan plan;
    firstBand = 0;
    for (std::int32_t i = 0; i < count; ++i, p += 5)
    {
        const float t = clampTo (p[0], 0.0f, 1.0f);
        const float y = clampTo (p[1], 0.0f, 1.0f);
        const float size = clampTo (p[2], 0.0005f, 1.0f);
        const float pressure = clampTo (p[4], 0.0f, 1.0f);
        const int centre = bandAt (y, nb);
        if (i == 0)
            firstBand = centre;
        const int spread = y >= 0.82f ? 2 : y >= 0.66f ? 1 : 0;
        // The window is the same in every band: the times whose file position lies
        // within size of t.
        const auto window = monotoneTimeRange (
            n, [&] (std::int64_t tau) { return fileFraction (tau, n) - t >= -size; },
            [&] (std::int64_t tau) { return fileFraction (tau, n) - t <= size; });
        const float strength = pressure * 0.95f;
        for (int o = -spread; o <= spread; ++o)
        {
            const int band = std::clamp (centre + o, 0, nb - 1);
            const int shift = session.bandTimeShift[(std::size_t) band];
            const auto index =
                (std::int64_t) std::round (std::ldexp ((double) t * (double) std::max<std::int64_t> (0, n - 1), -shift))
                << shift;
            auto& r = reach[(std::size_t) band];
            r.push_back ({ window.first, window.last, strength });
            r.push_back ({ index, index, strength });
            const float weight = o == 0 ? 1.0f : std::abs (o) == 1 ? 0.88f : 0.65f;
            plan.laser.push_back ({ band, t, size, weight * pressure });
        }
    }
    plan.bands.resize ((std::size_t) nb);
    for (std::size_t b = 0; b < reach.size(); ++b)
        if (! reach[b].empty())
            plan.bands[b] = strongestAttenuation (std::move (reach[b]));
    return plan;
}

namespace
{
struct RegionGainBox
{
    std::int64_t first, last; // sample times inside [t0, t1]
    int band0, band1;
};
} // namespace

// Per band, the union of the time ranges of the boxes that cover it, scaled by
// gain: the gain is the same for every box, so the first box in input order that
// holds a coefficient scales it exactly as the union does, once.
CqtStrokePlan regionGainPlan (const SpectralSession& session, const float* p, std::int32_t count, float gain)
{
    const int nb = std::max (1, session.cqtBandCount);
    const std::int64_t n = session.numSamples;
    std::vector<RegionGainBox> boxes;
    boxes.reserve ((std::size_t) count);
    for (std::int32_t i = 0; i < count; ++i, p += 5)
    {
        const float x = clampTo (p[0], 0.0f, 1.0f), y = clampTo (p[1], 0.0f, 1.0f);
        const float w = clampTo (p[2], 0.0005f, 1.0f), h = clampTo (p[3], 0.0005f, 1.0f);
        const float t0 = std::clamp (x - w, 0.0f, 1.0f), t1 = std::clamp (x + w, 0.0f, 1.0f);
        const int band0 = std::clamp ((int) std::floor ((float) (nb - 1) * std::clamp (y - h, 0.0f, 1.0f)), 0, nb - 1);
        const int band1 =
            std::max (band0, std::min ((int) std::ceil ((float) (nb - 1) * std::clamp (y + h, 0.0f, 1.0f)), nb - 1));
        const auto range = monotoneTimeRange (
            n, [&] (std::int64_t tau) { return t0 <= fileFraction (tau, n); },
            [&] (std::int64_t tau) { return fileFraction (tau, n) <= t1; });
        if (range.first <= range.last)
            boxes.push_back ({ range.first, range.last, band0, band1 });
    }
    std::sort (boxes.begin(), boxes.end(),
               [] (const RegionGainBox& a, const RegionGainBox& b) { return a.band0 < b.band0; });

    CqtStrokePlan plan;
    plan.bands.resize ((std::size_t) nb);
    std::vector<const RegionGainBox*> active;
    std::vector<CoefSpan> ranges;
    std::size_t next = 0;
    for (int b = 0; b < nb; ++b)
    {
        std::erase_if (active, [b] (const RegionGainBox* box) { return box->band1 < b; });
        for (; next < boxes.size() && boxes[next].band0 == b; ++next)
            active.push_back (&boxes[next]);
        if (active.empty())
            continue;
        ranges.clear();
        for (const auto* box : active)
            ranges.push_back ({ box->first, box->last, gain });
        std::sort (ranges.begin(), ranges.end(),
                   [] (const CoefSpan& a, const CoefSpan& c) { return a.first < c.first; });
        auto& spans = plan.bands[(std::size_t) b];
        for (const auto& r : ranges)
            if (! spans.empty() && r.first <= spans.back().last + 1)
                spans.back().last = std::max (spans.back().last, r.last);
            else
                spans.push_back (r);
    }
    return plan;
}

int applyCqtLaser (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                   std::int32_t count)
{
    int firstBand = 0;
    bool changed = false;
    const int result = runCqtCoefficientStroke (
        work, session, [&] (const SpectralSession& s) { return laserStrokePlan (s, points, count, firstBand); },
        changed);
    if (changed)
        logOut ("[QUORVALEN CQT LASER 1.4.3] session %d stroke applied (%d points, snapped band %d %.2f Hz)\n",
                (int) sessionId, (int) count, firstBand, (double) session.bandHz[(std::size_t) firstBand]);
    return result;
}

int applyCqtRegionGain (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                        std::int32_t count, float gain, const char* modeName)
{
    if (points == nullptr || count < 1)
        return (int) StrokeError::liveGone;
    bool changed = false;
    const int result = runCqtCoefficientStroke (
        work, session, [&] (const SpectralSession& s) { return regionGainPlan (s, points, count, gain); }, changed);
    if (changed)
        logOut ("[QUORVALEN CQT REGION GAIN 1.6.1] session %d %s applied (%d box(es), coefficient gain %.3f)\n",
                (int) sessionId, modeName != nullptr ? modeName : "REGION", (int) count, (double) gain);
    return result;
}

} // namespace quorvalen
