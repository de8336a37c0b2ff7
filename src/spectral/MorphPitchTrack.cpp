#include "spectral/MorphPitchTrack.h"

#include <algorithm>
#include <cmath>
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

// Normalised autocorrelation r(L) for L in [minLag, maxLag] (index L - minLag).
void autocorrelate (const std::vector<float>& y, const Framing& f, std::vector<double>& squares, std::vector<float>& r)
{
    const int n = (int) y.size();
    squares.assign ((std::size_t) n + 1, 0.0);
    for (int k = 0; k < n; ++k)
        squares[(std::size_t) k + 1] = squares[(std::size_t) k] + (double) y[(std::size_t) k] * y[(std::size_t) k];
    r.assign ((std::size_t) (f.maxLag - f.minLag + 1), 0.0f);
    for (int lag = f.minLag; lag <= f.maxLag; ++lag)
    {
        const int count = n - lag;
        double cross = 0.0;
        for (int k = 0; k < count; ++k)
            cross += (double) y[(std::size_t) k] * y[(std::size_t) (k + lag)];
        const double head = squares[(std::size_t) count];
        const double tail = squares[(std::size_t) n] - squares[(std::size_t) lag];
        r[(std::size_t) (lag - f.minLag)] = (float) (cross / std::sqrt (std::max (head * tail, 1e-18)));
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

    std::vector<float> y ((std::size_t) f.frameLength);
    std::vector<double> squares;
    std::vector<float> r;
    std::optional<float> previous; // log2 of the last confident pitch
    const auto rAt = [&] (int lag) { return r[(std::size_t) (lag - f.minLag)]; };

    for (std::int64_t s = 0; s < n; s += f.hop)
    {
        const int count = f.frameLength;
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
            const float w =
                0.5f - 0.5f * std::cos (2.0f * 3.14159265358979f * (float) k / (float) std::max (1, count - 1));
            y[(std::size_t) k] = (y[(std::size_t) k] - (float) mean) * w;
            energy += (double) y[(std::size_t) k] * y[(std::size_t) k];
        }
        const float rms = (float) std::sqrt (energy / count);

        PitchFrame frame { s, 0.0f, 0.0f };
        if (rms > 1e-5f)
        {
            autocorrelate (y, f, squares, r);
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
