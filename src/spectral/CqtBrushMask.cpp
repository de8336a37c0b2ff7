#include "spectral/CqtBrushMask.h"

#include "spectral/CqtSettings.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::spectral
{
namespace
{
constexpr float pi = 3.14159265358979f;

// Harmonic stack: partials 2..5 with their weights.
constexpr std::array<float, 4> harmonicRatios { 2.0f, 3.0f, 4.0f, 5.0f };
constexpr std::array<float, 4> harmonicWeights { 0.70f, 0.42f, 0.27f, 0.16f };

constexpr float softCore = 0.65f, softRamp = 0.35f;
constexpr float falloff = 1.75f, harmonicFalloff = 1.6f;
constexpr float ringCore = 0.42f, ringCentre = 0.63f, ringWidth = 0.16f;
constexpr float gentleWeight = 0.075f, hardWeight = 0.998f, ringCoreWeight = 0.92f, ringWeight = 0.52f;
constexpr float gainCeiling = 2.5f;
constexpr float phaseScale = 0.65f * pi;
} // namespace

std::vector<BrushRecord> makeBrushRecords (const float* edits, const std::uint32_t* modes, int count)
{
    std::vector<BrushRecord> out ((std::size_t) std::max (count, 0));
    for (int i = 0; i < count; ++i)
    {
        const float* p = edits + (std::size_t) i * 5;
        auto& r = out[(std::size_t) i];
        r.centreTime = clampOrLow (p[0], 0.0f, 1.0f);
        r.centreBand = clampOrLow (p[1], 0.0f, 1.0f);
        r.timeRadius = clampOrLow (p[2], 0.0005f, 1.0f);
        r.bandRadius = clampOrLow (p[3], 0.0005f, 1.0f);
        r.strength = clampOrLow (p[4], 0.0f, 1.0f);
        r.mode = std::clamp ((int) (std::int32_t) modes[i], 0, 4);
    }
    return out;
}

CqtBrushMask::CqtBrushMask (std::vector<BrushRecord> brushList, int bandCount)
        : brushes (std::move (brushList)), bands (std::max (bandCount, 0)), normCount (std::max (1, bandCount))
{
    for (std::size_t i = 0; i < brushes.size(); ++i)
    {
        const auto& r = brushes[i];
        const int first =
            std::clamp ((int) std::floor ((r.centreTime - r.timeRadius) * (float) buckets), 0, buckets - 1);
        const int last = std::clamp ((int) std::ceil ((r.centreTime + r.timeRadius) * (float) buckets), 0, buckets - 1);
        for (int k = first; k <= last; ++k)
            timeIndex[(std::size_t) k].push_back ((int) i);
    }
}

std::complex<float> CqtBrushMask::apply (int b, std::int64_t t, std::int64_t n, std::complex<float> c) const
{
    if (b < 0 || b >= bands || t < 0 || t >= n)
        return c;
    const float tn = n > 1 ? (float) ((double) t / (double) (n - 1)) : 0.0f;
    const float bn = normCount > 1 ? (float) b / (float) (normCount - 1) : 0.0f;
    const int bucket = std::clamp ((int) ((float) buckets * tn), 0, buckets - 1);

    float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, ringK = 0.0f, ringR = 0.0f, harm = 0.0f;
    for (const int index : timeIndex[(std::size_t) bucket])
    {
        const auto& r = brushes[(std::size_t) index];
        const float dt = (tn - r.centreTime) / r.timeRadius;
        if (r.mode == 3)
        {
            if (std::abs (dt) > 1.0f)
                continue;
            const float centre = (float) (normCount - 1) * r.centreBand;
            const float rb = std::max (1.5f, (float) normCount * r.bandRadius);
            for (std::size_t k = 0; k < harmonicRatios.size(); ++k)
            {
                const float db = ((float) b - (centre - std::log2 (harmonicRatios[k]) * 48.0f)) / rb;
                const float d2 = db * db + dt * dt;
                if (d2 < 1.0f)
                    harm = std::max (harm, std::pow (1.0f - d2, harmonicFalloff) * harmonicWeights[k] * r.strength);
            }
            continue;
        }
        const float m = r.mode == 1 ? 0.5f : 1.5f;
        const float rb = std::max (m / (float) normCount, r.bandRadius);
        const float db = (bn - r.centreBand) / rb;
        const float d2 = db * db + dt * dt;
        if (d2 >= 1.0f)
            continue;
        if (r.mode == 0)
        {
            const float s = std::clamp ((std::sqrt (d2) - softCore) / softRamp, 0.0f, 1.0f);
            a0 = std::max (a0, r.strength * (1.0f - s * s * (3.0f - 2.0f * s)));
            continue;
        }
        const float v = r.strength * std::pow (1.0f - d2, falloff);
        if (r.mode == 1)
            a1 = std::max (a1, v);
        else if (r.mode == 2)
            a2 = std::max (a2, v);
        else
        {
            const float d = std::sqrt (d2);
            if (d < ringCore)
                ringK = std::max (ringK, (1.0f - d / ringCore) * v);
            const float u = (d - ringCentre) / ringWidth;
            ringR = std::max (ringR, r.strength * std::exp (-u * u));
        }
    }

    const float g = (1.0f - gentleWeight * a2) * (1.0f - a0) * (1.0f - hardWeight * a1)
        * (1.0f - ringCoreWeight * ringK) * (1.0f + ringWeight * ringR) * (1.0f + harm);
    if (ringK > 0.0f || ringR > 0.0f)
    {
        const float angle = phaseScale * (ringR - 0.5f * ringK);
        c *= std::complex<float> (std::cos (angle), std::sin (angle));
    }
    if (g < 0.0f)
        return {};
    return c * std::min (g, gainCeiling);
}

} // namespace quorvalen::spectral
