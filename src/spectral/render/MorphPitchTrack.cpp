#include "spectral/render/MorphPitchTrack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace quorvalen::spectral
{
namespace
{
constexpr float confidenceFloor = 0.1f;

struct Framing
{
    int decimation = 1;
    float decimatedRate = 0.0f;
    std::int64_t window = 0, hop = 1;
    int frameLength = 32;
    int minLag = 2, maxLag = 0;
};

Framing framingFor (std::int64_t n, double sr)
{
    Framing f;
    f.decimation = std::max (1, (int) std::floor (sr / 11025.0));
    f.decimatedRate = (float) (sr / f.decimation);
    f.window = std::min<std::int64_t> (std::max<std::int64_t> (512L * f.decimation, std::lround (0.092 * sr)), n);
    f.hop = std::max<std::int64_t> (1, std::lround (0.012 * sr));
    f.frameLength = (int) std::max<std::int64_t> (32, f.window / f.decimation);
    f.minLag = std::max (2, (int) std::floor (f.decimatedRate / 1200.0f));
    f.maxLag = std::min (f.frameLength - 3, (int) std::ceil (f.decimatedRate / 35.0f));
    return f;
}

// Cross sums of a block of lags, lane by lane: each lag's sum adds its products
// in k order, as a loop over k for that lag alone would, so the sums are the
// same to the bit however many lags share the pass. Products of two floats are
// exact in double, so a fused multiply-add rounds them as the separate add does.
constexpr int lagBlock = 32;

typedef double Pair __attribute__ ((vector_size (2 * sizeof (double))));
typedef double Quad __attribute__ ((vector_size (4 * sizeof (double))));


// sums[l] = sum over k < shared of y[k] y[k + lag0 + l], for l < lagBlock: eight
// running sums per pass, as many as the registers hold.
void blockSums (const double* y, int lag0, int shared, double* sums)
{
    for (int half = 0; half < lagBlock; half += 16)
    {
        Pair s[8] {};
        for (int k = 0; k < shared; ++k)
        {
            const Pair yk = { y[k], y[k] };
            const double* at = y + k + lag0 + half;
            for (int j = 0; j < 8; ++j)
            {
                Pair v;
                std::memcpy (&v, at + 2 * j, sizeof v);
                s[j] += yk * v;
            }
        }
        std::memcpy (sums + half, s, sizeof s);
    }
}

__attribute__ ((target ("avx2,fma"))) void blockSumsAvx2 (const double* y, int lag0, int shared, double* sums)
{
    Quad s[lagBlock / 4] {};
    for (int k = 0; k < shared; ++k)
    {
        const Quad yk = { y[k], y[k], y[k], y[k] };
        const double* at = y + k + lag0;
        for (int j = 0; j < lagBlock / 4; ++j)
        {
            Quad v;
            std::memcpy (&v, at + 4 * j, sizeof v);
            s[j] += yk * v;
        }
    }
    std::memcpy (sums, s, sizeof s);
}

using BlockSums = void (*) (const double*, int, int, double*);
BlockSums blockSumsForThisCpu()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma") ? blockSumsAvx2 : blockSums;
}

// Normalised autocorrelation r(L) for L in [minLag, maxLag] (index L - minLag).
void autocorrelate (const std::vector<double>& y, const Framing& f, std::vector<double>& squares, std::vector<float>& r)
{
    const int n = (int) y.size();
    squares.assign ((std::size_t) n + 1, 0.0);
    for (int k = 0; k < n; ++k)
        squares[(std::size_t) k + 1] = squares[(std::size_t) k] + y[(std::size_t) k] * y[(std::size_t) k];
    r.assign ((std::size_t) (f.maxLag - f.minLag + 1), 0.0f);
    static const BlockSums blockSumsHere = blockSumsForThisCpu();
    const double* yd = y.data();
    double cross[lagBlock];
    for (int lag0 = f.minLag; lag0 <= f.maxLag; lag0 += lagBlock)
    {
        const int lanes = std::min (lagBlock, f.maxLag - lag0 + 1);
        // k below `shared` has a partner for every lag of the block (lags past
        // maxLag in the last block included, their sums unused).
        const int shared = std::max (0, n - (lag0 + lagBlock - 1));
        blockSumsHere (yd, lag0, shared, cross);
        for (int l = 0; l < lanes; ++l)
        {
            const int lag = lag0 + l;
            double sum = cross[l];
            for (int k = shared; k < n - lag; ++k)
                sum += yd[k] * yd[k + lag];
            cross[l] = sum;
        }
        for (int l = 0; l < lanes; ++l)
        {
            const int lag = lag0 + l, count = n - lag;
            const double head = squares[(std::size_t) count];
            const double tail = squares[(std::size_t) n] - squares[(std::size_t) lag];
            r[(std::size_t) (lag - f.minLag)] = (float) (cross[l] / std::sqrt (std::max (head * tail, 1e-18)));
        }
    }
}
} // namespace

PitchTrack trackMorphPitch (const float* x, std::int64_t n, double sr)
{
    PitchTrack track;
    if (n < 1 || ! (sr > 0.0))
        return track;
    const Framing f = framingFor (n, sr);
    if (f.maxLag <= f.minLag)
        return track;

    const int count = f.frameLength;
    std::vector<float> y ((std::size_t) count);
    std::vector<double> yd ((std::size_t) count);
    std::vector<float> window ((std::size_t) count);
    for (int k = 0; k < count; ++k)
        window[(std::size_t) k] =
            0.5f - 0.5f * std::cos (2.0f * 3.14159265358979f * (float) k / (float) std::max (1, count - 1));
    std::vector<double> squares;
    std::vector<float> r;
    std::optional<float> previous; // log2 of the last confident pitch
    const auto rAt = [&] (int lag) { return r[(std::size_t) (lag - f.minLag)]; };

    for (std::int64_t s = 0; s < n; s += f.hop)
    {
        double mean = 0.0;
        for (int k = 0; k < count; ++k)
        {
            const std::int64_t i =
                std::clamp<std::int64_t> ((std::int64_t) k * f.decimation + s - f.window / 2, 0, n - 1);
            y[(std::size_t) k] = x[i];
            mean += x[i];
        }
        mean /= count;
        double energy = 0.0;
        for (int k = 0; k < count; ++k)
        {
            y[(std::size_t) k] = (y[(std::size_t) k] - (float) mean) * window[(std::size_t) k];
            yd[(std::size_t) k] = y[(std::size_t) k];
            energy += yd[(std::size_t) k] * yd[(std::size_t) k];
        }
        const float rms = (float) std::sqrt (energy / count);

        PitchFrame frame { s, 0.0f, 0.0f };
        if (rms > 1e-5f)
        {
            autocorrelate (yd, f, squares, r);
            const float threshold = std::max (0.72f * *std::max_element (r.begin(), r.end()), 0.38f);
            int taken = 0;
            float best = 0.0f;
            for (int lag = f.minLag + 1; lag <= f.maxLag - 1; ++lag)
            {
                const float v = rAt (lag);
                if (v < threshold || v < rAt (lag - 1) || v < rAt (lag + 1))
                    continue;
                if (! previous)
                {
                    taken = lag;
                    break;
                }
                const float score =
                    v - std::min (0.18f * std::abs (std::log2 (f.decimatedRate / (float) lag) - *previous), 0.42f);
                if (taken == 0 || score > best)
                {
                    taken = lag;
                    best = score;
                }
            }
            if (taken != 0)
            {
                const float before = rAt (taken - 1), at = rAt (taken), after = rAt (taken + 1);
                const float den = before - 2.0f * at + after;
                const float offset =
                    std::abs (den) <= 1e-6f ? 0.0f : std::clamp (0.5f * (before - after) / den, -0.5f, 0.5f);
                float lf = std::log2 (std::max (f.decimatedRate / ((float) taken + offset), 1.0f));
                if (previous)
                {
                    while (lf - *previous > 0.75f)
                        lf -= 1.0f;
                    while (*previous - lf > 0.75f)
                        lf += 1.0f;
                    lf = 0.42f * lf + 0.58f * *previous;
                }
                frame.f0 = std::exp2 (lf);
                frame.confidence =
                    std::clamp (rms / 0.012f, 0.0f, 1.0f) * std::clamp ((at - 0.28f) / 0.55f, 0.0f, 1.0f);
                if (frame.confidence >= confidenceFloor)
                    previous = lf;
            }
        }
        track.push_back (frame);
    }
    return track;
}

PitchFrame samplePitchTrack (const PitchTrack& track, std::int64_t t)
{
    if (track.empty())
        return {};
    if (t <= track.front().time)
        return track.front();
    if (t >= track.back().time)
        return track.back();
    const auto e = std::lower_bound (track.begin(), track.end(), t,
                                     [] (const PitchFrame& f, std::int64_t time) { return f.time < time; });
    const auto& p = *(e - 1);
    if (p.f0 > 0.0f && e->f0 > 0.0f && p.confidence >= confidenceFloor && e->confidence >= confidenceFloor)
    {
        const float u = (float) (t - p.time) / (float) std::max<std::int64_t> (e->time - p.time, 1);
        return { t, std::exp ((1.0f - u) * std::log (p.f0) + u * std::log (e->f0)),
                 std::min (p.confidence, e->confidence) };
    }
    return { t, 0.0f, 0.0f };
}

} // namespace quorvalen::spectral
