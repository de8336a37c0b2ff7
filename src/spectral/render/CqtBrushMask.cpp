#include "spectral/render/CqtBrushMask.h"

#include "spectral/IndexSearch.h"
#include "spectral/cqt/CqtSettings.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <tuple>

namespace quorvalen::spectral
{
namespace
{
constexpr float pi = 3.14159265358979f;

// Harmonic stack: partials 2..5 with their weights.
constexpr std::array<float, 4> harmonicRatios { 2.0f, 3.0f, 4.0f, 5.0f };
constexpr std::array<float, 4> harmonicWeights { 0.70f, 0.42f, 0.27f, 0.16f };

constexpr float softCore = 0.65f, softRamp = 0.35f;
constexpr float harmonicFalloff = 1.6f;
constexpr float ringCore = 0.42f, ringCentre = 0.63f, ringWidth = 0.16f;
constexpr float gentleWeight = 0.075f, hardWeight = 0.998f, ringCoreWeight = 0.92f, ringWeight = 0.52f;
constexpr float gainCeiling = 2.5f;
constexpr float phaseScale = 0.65f * pi;

// The falloffs in double and rounded once, so they give the float power and
// exponential to within one unit in the last place (almost always exactly),
// from two small tables and short polynomials instead of a library call per
// coefficient.
struct FalloffTables
{
    // 2^(j / 64); and for mantissas 1 + j / 128 .. 1 + (j + 1) / 128 their
    // midpoint's reciprocal and logarithm.
    std::array<double, 64> exp2Fraction {};
    std::array<double, 128> inverseMid {}, logMid {};
    FalloffTables()
    {
        for (int j = 0; j < 64; ++j)
            exp2Fraction[(std::size_t) j] = std::exp2 (j / 64.0);
        for (int j = 0; j < 128; ++j)
        {
            const double mid = 1.0 + (j + 0.5) / 128.0;
            inverseMid[(std::size_t) j] = 1.0 / mid;
            logMid[(std::size_t) j] = std::log (mid);
        }
    }
};

const FalloffTables& falloffTables()
{
    static const FalloffTables tables;
    return tables;
}

constexpr double ln2 = 0.6931471805599453;

// ln x for a positive normal x, to about 1e-15.
double logPositive (double x, const FalloffTables& t)
{
    const auto bits = std::bit_cast<std::uint64_t> (x);
    const int e = (int) ((bits >> 52) & 0x7ff) - 1023;
    const double m = std::bit_cast<double> ((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
    const auto j = (std::size_t) ((bits >> 45) & 127);
    // |r| < 1/256: ln (1 + r) to r^5.
    const double r = (m - (1.0 + ((double) j + 0.5) / 128.0)) * t.inverseMid[j];
    const double series = r * (1.0 + r * (-0.5 + r * (1.0 / 3 + r * (-0.25 + r * 0.2))));
    return (double) e * ln2 + t.logMid[j] + series;
}

// e^y for y in [-700, 0], to about 1e-15.
double expNonPositive (double y, const FalloffTables& t)
{
    // y = (64 k + j) ln2 / 64 + r, |r| <= ln2 / 128: e^r to r^5.
    constexpr double roundingShift = 6755399441055744.0; // 1.5 x 2^52: adding it rounds to a whole number
    const double n = (y * (64.0 / ln2) + roundingShift) - roundingShift;
    // ln2 / 64 in two parts, the first exact when multiplied by n.
    const double r = (y - n * 0.01083042469326756) - n * 2.9815858269852933e-12;
    const auto whole = (std::int64_t) n;
    const auto j = (std::size_t) (whole & 63);
    const std::int64_t k = (whole - (std::int64_t) j) / 64;
    const double p = 1.0 + r * (1.0 + r * (0.5 + r * (1.0 / 6 + r * (1.0 / 24 + r * (1.0 / 120)))));
    const double scale =
        std::bit_cast<double> (std::bit_cast<std::uint64_t> (t.exp2Fraction[j]) + ((std::uint64_t) k << 52));
    return p * scale;
}

// u^1.75 for u in (0, 1].
float falloffPower (float u)
{
    const double d = u;
    return (float) (d * std::sqrt (d * std::sqrt (d)));
}

// u^1.6 for u in (0, 1] (u >= 2^-24): the exponent is the float 1.6.
float harmonicPower (float u, const FalloffTables& t)
{
    return (float) expNonPositive ((double) harmonicFalloff * logPositive (u, t), t);
}

// e^z for z in [-700, 0].
float bell (float z, const FalloffTables& t)
{
    return (float) expNonPositive (z, t);
}

float timeOf (std::int64_t t, std::int64_t n)
{
    return n > 1 ? (float) ((double) t / (double) (n - 1)) : 0.0f;
}

int bucketOfTime (float tn)
{
    return std::clamp ((int) ((float) CqtBrushMask::buckets * tn), 0, CqtBrushMask::buckets - 1);
}

// What the brushes leave on a run of one band's coefficients.
struct Accumulators
{
    std::vector<float> tn, a0, a1, a2, ringK, ringR, harm;
    void reset (std::size_t size)
    {
        for (auto* v : { &tn, &a0, &a1, &a2, &ringK, &ringR, &harm })
            v->assign (size, 0.0f);
    }
};
} // namespace

std::vector<BrushRecord> makeBrushRecords (const float* edits, const std::uint32_t* modes, int count)
{
    std::vector<BrushRecord> out ((std::size_t) std::max (count, 0));
    for (int i = 0; i < count; ++i)
    {
        const float* p = edits + (std::size_t) i * 5;
        auto& r = out[(std::size_t) i];
        r.centreTime = clampToRange (p[0], 0.0f, 1.0f);
        r.centreBand = clampToRange (p[1], 0.0f, 1.0f);
        r.timeRadius = clampToRange (p[2], 0.0005f, 1.0f);
        r.bandRadius = clampToRange (p[3], 0.0005f, 1.0f);
        r.strength = clampToRange (p[4], 0.0f, 1.0f);
        r.mode = std::clamp ((int) (std::int32_t) modes[i], 0, 4);
    }
    return out;
}

CqtBrushMask::CqtBrushMask (std::vector<BrushRecord> brushList, int bandCount)
        : brushes (std::move (brushList)), bands (std::max (bandCount, 0)), normCount (std::max (1, bandCount))
{
    // A brush given twice reaches the same coefficients with the same weight, and
    // a mode's brushes combine by maximum: it counts, and costs, once.
    const auto key = [] (const BrushRecord& r) {
        return std::make_tuple (r.mode, r.centreTime, r.centreBand, r.timeRadius, r.bandRadius, r.strength);
    };
    std::sort (brushes.begin(), brushes.end(), [&] (const auto& a, const auto& b) { return key (a) < key (b); });
    brushes.erase (std::unique (brushes.begin(), brushes.end(),
                                [&] (const auto& a, const auto& b) { return key (a) == key (b); }),
                   brushes.end());

    const auto bandRun = [&] (auto position) {
        // position (b) rises with b; the bands where it lies in (-1, 1).
        const int b0 = firstFailing (0, bands, [&] (int b) { return position (b) <= -1.0f; });
        const int b1 = firstFailing (b0, bands, [&] (int b) { return position (b) < 1.0f; });
        return std::array<int, 2> { b0, b1 };
    };
    for (std::size_t i = 0; i < brushes.size(); ++i)
    {
        const auto& r = brushes[i];
        bucketRange.push_back (
            { std::clamp ((int) std::floor ((r.centreTime - r.timeRadius) * (float) buckets), 0, buckets - 1),
              std::clamp ((int) std::ceil ((r.centreTime + r.timeRadius) * (float) buckets), 0, buckets - 1) });
        if (r.mode == 3)
        {
            const float centre = (float) (normCount - 1) * r.centreBand;
            const float rb = std::max (1.5f, (float) normCount * r.bandRadius);
            for (int k = 0; k < (int) harmonicRatios.size(); ++k)
            {
                const float partial = centre - std::log2 (harmonicRatios[(std::size_t) k]) * 48.0f;
                const auto run = bandRun ([&] (int b) { return ((float) b - partial) / rb; });
                if (run[1] > run[0])
                    shapes.push_back ({ (int) i, k, run[0], run[1] });
            }
            continue;
        }
        const float m = r.mode == 1 ? 0.5f : 1.5f;
        const float rb = std::max (m / (float) normCount, r.bandRadius);
        const auto run = bandRun ([&] (int b) {
            const float bn = normCount > 1 ? (float) b / (float) (normCount - 1) : 0.0f;
            return (bn - r.centreBand) / rb;
        });
        if (run[1] > run[0])
            shapes.push_back ({ (int) i, -1, run[0], run[1] });
    }
    std::sort (shapes.begin(), shapes.end(), [] (const Shape& a, const Shape& b) { return a.band0 < b.band0; });
}

std::int64_t CqtBrushMask::cells (const cqt::Analyzer& analyzer, std::int64_t n, std::int64_t limit) const
{
    std::int64_t total = 0;
    for (const auto& s : shapes)
    {
        if (total > limit)
            break;
        const auto& r = brushes[(std::size_t) s.brush];
        const double last = (double) std::max<std::int64_t> (0, n - 1);
        const double tA = std::clamp (((double) r.centreTime - r.timeRadius) * last, 0.0, last);
        const double tB = std::clamp (((double) r.centreTime + r.timeRadius) * last, 0.0, last);
        std::int64_t area = 0;
        for (int b = s.band0; b < s.band1; ++b)
        {
            const double step = std::ldexp (1.0, analyzer.bandTimeShift (b));
            area += (std::int64_t) (std::floor (tB / step) - std::ceil (tA / step)) + 1;
        }
        total += area;
    }
    return total;
}

void CqtBrushMask::apply (cqt::CoefStore& store, std::int64_t n) const
{
    if (shapes.empty() || n < 1)
        return;
    const auto& tables = falloffTables();
    Accumulators acc;
    struct Run
    {
        const Shape* shape;
        std::int64_t begin, end;
    };
    std::vector<Run> runs;
    std::vector<const Shape*> active;
    std::size_t next = 0;
    int lastBand = 0;
    for (const auto& s : shapes)
        lastBand = std::max (lastBand, s.band1);
    lastBand = std::min ({ lastBand, bands, store.bands() });

    for (int b = shapes.front().band0; b < lastBand; ++b)
    {
        while (next < shapes.size() && shapes[next].band0 <= b)
            active.push_back (&shapes[next++]);
        std::erase_if (active, [b] (const Shape* s) { return s->band1 <= b; });
        if (active.empty())
            continue;

        const auto coefs = store.band (b);
        const int shift = store.timeShift (b);
        const std::int64_t first = store.firstIndex (b);
        const auto row = cqt::detail::indexRange (first, coefs.size(), shift, 0, n);
        if (row.end <= row.begin)
            continue;
        const auto timeAt = [&] (std::int64_t idx) { return timeOf (idx << shift, n); };

        // Each shape's run of coefficients: those in its time slices and within its
        // time radius (times rise with the index, so they are one run).
        runs.clear();
        std::int64_t lo = row.end, hi = row.begin;
        for (const Shape* s : active)
        {
            const auto& r = brushes[(std::size_t) s->brush];
            const auto& slices = bucketRange[(std::size_t) s->brush];
            const auto reaches = [&] (std::int64_t idx) {
                const float tn = timeAt (idx);
                const int bucket = bucketOfTime (tn);
                const float dt = (tn - r.centreTime) / r.timeRadius;
                return bucket >= slices[0] && bucket <= slices[1] && dt * dt < 1.0f;
            };
            const auto before = [&] (std::int64_t idx) {
                const float tn = timeAt (idx);
                return bucketOfTime (tn) < slices[0] || (tn - r.centreTime) / r.timeRadius <= -1.0f;
            };
            const auto begin = firstFailing (row.begin, row.end, before);
            const auto end = firstFailing (begin, row.end, reaches);
            if (end <= begin)
                continue;
            runs.push_back ({ s, begin, end });
            lo = std::min (lo, begin);
            hi = std::max (hi, end);
        }
        if (runs.empty())
            continue;

        acc.reset ((std::size_t) (hi - lo));
        for (auto idx = lo; idx < hi; ++idx)
            acc.tn[(std::size_t) (idx - lo)] = timeAt (idx);
        const float bn = normCount > 1 ? (float) b / (float) (normCount - 1) : 0.0f;
        for (const auto& run : runs)
        {
            const auto& r = brushes[(std::size_t) run.shape->brush];
            const auto i0 = (std::size_t) (run.begin - lo), i1 = (std::size_t) (run.end - lo);
            if (r.mode == 3)
            {
                const auto k = (std::size_t) run.shape->partial;
                const float centre = (float) (normCount - 1) * r.centreBand;
                const float rb = std::max (1.5f, (float) normCount * r.bandRadius);
                const float db = ((float) b - (centre - std::log2 (harmonicRatios[k]) * 48.0f)) / rb;
                const float db2 = db * db;
                for (auto i = i0; i < i1; ++i)
                {
                    const float dt = (acc.tn[i] - r.centreTime) / r.timeRadius;
                    const float d2 = db2 + dt * dt;
                    if (d2 < 1.0f)
                        acc.harm[i] =
                            std::max (acc.harm[i], harmonicPower (1.0f - d2, tables) * harmonicWeights[k] * r.strength);
                }
                continue;
            }
            const float m = r.mode == 1 ? 0.5f : 1.5f;
            const float rb = std::max (m / (float) normCount, r.bandRadius);
            const float db = (bn - r.centreBand) / rb;
            const float db2 = db * db;
            for (auto i = i0; i < i1; ++i)
            {
                const float dt = (acc.tn[i] - r.centreTime) / r.timeRadius;
                const float d2 = db2 + dt * dt;
                if (d2 >= 1.0f)
                    continue;
                if (r.mode == 0)
                {
                    const float s = std::clamp ((std::sqrt (d2) - softCore) / softRamp, 0.0f, 1.0f);
                    acc.a0[i] = std::max (acc.a0[i], r.strength * (1.0f - s * s * (3.0f - 2.0f * s)));
                    continue;
                }
                const float v = r.strength * falloffPower (1.0f - d2);
                if (r.mode == 1)
                    acc.a1[i] = std::max (acc.a1[i], v);
                else if (r.mode == 2)
                    acc.a2[i] = std::max (acc.a2[i], v);
                else
                {
                    const float d = std::sqrt (d2);
                    if (d < ringCore)
                        acc.ringK[i] = std::max (acc.ringK[i], (1.0f - d / ringCore) * v);
                    const float u = (d - ringCentre) / ringWidth;
                    acc.ringR[i] = std::max (acc.ringR[i], r.strength * bell (-u * u, tables));
                }
            }
        }

        for (auto idx = lo; idx < hi; ++idx)
        {
            const auto i = (std::size_t) (idx - lo);
            const float a0 = acc.a0[i], a1 = acc.a1[i], a2 = acc.a2[i], ringK = acc.ringK[i], ringR = acc.ringR[i],
                        harm = acc.harm[i];
            if (a0 == 0.0f && a1 == 0.0f && a2 == 0.0f && ringK == 0.0f && ringR == 0.0f && harm == 0.0f)
                continue; // a gain of exactly 1
            auto& c = coefs[(std::size_t) (idx - first)];
            const float g = (1.0f - gentleWeight * a2) * (1.0f - a0) * (1.0f - hardWeight * a1)
                * (1.0f - ringCoreWeight * ringK) * (1.0f + ringWeight * ringR) * (1.0f + harm);
            if (ringK > 0.0f || ringR > 0.0f)
            {
                const float angle = phaseScale * (ringR - 0.5f * ringK);
                c *= std::complex<float> (std::cos (angle), std::sin (angle));
            }
            c = g < 0.0f ? std::complex<float> {} : c * std::min (g, gainCeiling);
        }
    }
}

} // namespace quorvalen::spectral
