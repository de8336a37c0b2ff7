#include "spectral/stft/ZSculptCarve.h"

#include "spectral/IndexSearch.h"
#include "spectral/stft/StftTransform.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <tuple>

namespace quorvalen
{
namespace
{
constexpr int centreOffset = zSculptFftSize / 2;
constexpr int bucketCount = 256;
// Frames whose spans overlap: |f - g| * hop < fftSize.
constexpr std::int64_t overlappingFrames = zSculptFftSize / zSculptHop - 1;
// A carve asks whether to stop once per this many frames.
constexpr std::int64_t stopCheckFrames = 256;

float clampTo (float v, float low, float high)
{
    return v < low ? low : std::min (v, high);
}

int bucketOf (float t)
{
    return std::clamp ((int) std::floor (t * (float) bucketCount), 0, bucketCount - 1);
}

float finiteOrZero (float v)
{
    return std::isfinite (v) ? v : 0.0f;
}

// The largest d2 whose square root is inside the hole (48/56 of the radius):
// below it the gain is 0 without taking the root.
float holeLimit()
{
    float x = 0.85714287f * 0.85714287f;
    while (std::sqrt (x) > 0.85714287f)
        x = std::nextafter (x, 0.0f);
    while (std::sqrt (std::nextafter (x, 1.0f)) <= 0.85714287f)
        x = std::nextafter (x, 1.0f);
    return x;
}

// zSculptBoxGain (sqrt (d2)) for d2 < 1.
float gainOfSquare (float d2, float hole)
{
    return d2 <= hole ? 0.0f : zSculptBoxGain (std::sqrt (d2));
}

std::vector<float> hannWindow()
{
    std::vector<float> w (zSculptFftSize);
    for (int i = 0; i < zSculptFftSize; ++i)
        w[(std::size_t) i] = 0.5f - 0.5f * std::cos ((float) i * 6.2831855f * 0.00024414062f);
    return w;
}
} // namespace

float zSculptBoxGain (float d)
{
    if (d >= 1.0f)
        return 1.0f;
    if (d <= 0.85714287f)
        return 0.0f;
    if (d <= 0.9464286f)
        return 0.05f * clampTo ((d - 0.85714287f) / 0.08928573f, 0.0f, 1.0f);
    return 0.05f + 0.05f * clampTo ((d - 0.9464286f) / 0.053571403f, 0.0f, 1.0f);
}

ZSculptCarve::ZSculptCarve (const std::vector<ZSculptBox>& boxes, std::int64_t n, std::vector<float> positions)
        : numSamples (n), frameCount (std::max<std::int64_t> (1, n / zSculptHop + 1)), binY (std::move (positions))
{
    // The bins on the axis are one run (the axis spans one frequency range).
    axisBin0 = zSculptBinCount;
    for (int k = 0; k < zSculptBinCount; ++k)
        if (binY[(std::size_t) k] >= 0.0f)
        {
            axisBin0 = std::min (axisBin0, k);
            axisBin1 = k + 1;
        }
    axisBin1 = std::max (axisBin0, axisBin1);

    for (const auto& box : boxes)
    {
        const auto r = reachOf (box);
        if (r.f1 <= r.f0 || r.k1 <= r.k0)
            continue;
        reaches.push_back (r);
    }
    // Identical boxes carve alike (the least gain wins), so each is kept, and
    // costs, once.
    const auto key = [] (const Reach& r) {
        return std::make_tuple (r.f0, r.box.centreTime, r.box.centreY, r.box.halfWidth, r.box.halfHeight);
    };
    std::sort (reaches.begin(), reaches.end(), [&] (const Reach& a, const Reach& b) { return key (a) < key (b); });
    reaches.erase (std::unique (reaches.begin(), reaches.end(),
                                [&] (const Reach& a, const Reach& b) { return key (a) == key (b); }),
                   reaches.end());
    for (const auto& r : reaches)
        totalCells += (r.f1 - r.f0) * (r.k1 - r.k0);
}

float ZSculptCarve::frameTime (std::int64_t f) const noexcept
{
    return numSamples < 2 ? 0.0f : clampTo ((float) (f * zSculptHop) / (float) (numSamples - 1), 0.0f, 1.0f);
}

// The frame's time bucket is one the box spans, and the frame lies within its
// half width: the box may change some bin of it.
bool ZSculptCarve::reachesFrame (const Reach& r, std::int64_t f) const noexcept
{
    const float t = frameTime (f);
    const int bucket = bucketOf (t);
    const float dx = (t - r.box.centreTime) / r.box.halfWidth;
    return bucket >= r.bucket0 && bucket <= r.bucket1 && dx * dx < 1.0f;
}

ZSculptCarve::Reach ZSculptCarve::reachOf (const ZSculptBox& box) const
{
    Reach r;
    r.box = box;
    r.bucket0 = bucketOf (box.centreTime - box.halfWidth);
    r.bucket1 = std::max (
        r.bucket0,
        std::min ((int) std::floor ((box.centreTime + box.halfWidth) * (float) bucketCount), bucketCount - 1));

    // Frame times rise with the frame, so the frames reached are one run: found
    // near its estimate, then fitted to the exact test.
    const double scale = (double) std::max<std::int64_t> (1, numSamples - 1) / zSculptHop;
    auto lo = (std::int64_t) std::clamp (std::floor (((double) box.centreTime - box.halfWidth) * scale) - 2.0, 0.0,
                                         (double) (frameCount - 1));
    auto hi = (std::int64_t) std::clamp (std::ceil (((double) box.centreTime + box.halfWidth) * scale) + 2.0, 0.0,
                                         (double) (frameCount - 1));
    while (lo > 0 && reachesFrame (r, lo - 1))
        --lo;
    while (hi < frameCount - 1 && reachesFrame (r, hi + 1))
        ++hi;
    while (lo <= hi && ! reachesFrame (r, lo))
        ++lo;
    while (hi >= lo && ! reachesFrame (r, hi))
        --hi;
    r.f0 = lo;
    r.f1 = hi + 1;

    // Positions fall as the bin rises: the bins within the half height are one run.
    const auto dy = [&] (int k) { return (binY[(std::size_t) k] - box.centreY) / box.halfHeight; };
    const int k0 = firstFailing (axisBin0, axisBin1, [&] (int k) { return dy (k) >= 1.0f; });
    const int k1 = firstFailing (k0, axisBin1, [&] (int k) { return dy (k) > -1.0f; });
    r.k0 = k0;
    r.k1 = k1;
    return r;
}

bool ZSculptCarve::frameGains (std::int64_t f, const std::vector<std::size_t>& active, std::vector<float>& gains) const
{
    static const float hole = holeLimit();
    const float t = frameTime (f);
    const int bucket = bucketOf (t);
    std::fill (gains.begin() + axisBin0, gains.begin() + axisBin1, 1.0f);
    bool any = false;
    for (const auto i : active)
    {
        const auto& r = reaches[i];
        if (bucket < r.bucket0 || bucket > r.bucket1)
            continue;
        const float dx = (t - r.box.centreTime) / r.box.halfWidth;
        const float dx2 = dx * dx;
        if (dx2 >= 1.0f)
            continue;
        for (int k = r.k0; k < r.k1; ++k)
        {
            const float dy = (binY[(std::size_t) k] - r.box.centreY) / r.box.halfHeight;
            const float d2 = dy * dy + dx2;
            if (d2 < 1.0f)
            {
                const float v = gainOfSquare (d2, hole);
                float& g = gains[(std::size_t) k];
                g = std::min (g, v);
                any = any || g < 0.999999f;
            }
        }
    }
    return any;
}

IndexSpan ZSculptCarve::framesRun() const noexcept
{
    if (reaches.empty())
        return {};
    std::int64_t reachEnd = 0;
    for (const auto& r : reaches)
        reachEnd = std::max (reachEnd, r.f1);
    // Every frame that overlaps a frame some box reaches adds to the samples that may be rewritten.
    return { std::max<std::int64_t> (0, reaches.front().f0 - overlappingFrames),
             std::min (frameCount, reachEnd + overlappingFrames) };
}

IndexSpan ZSculptCarve::samplesReached() const noexcept
{
    const auto frames = framesRun();
    if (frames.end <= frames.start)
        return {};
    return { std::max<std::int64_t> (0, frames.start * zSculptHop - centreOffset),
             std::min (numSamples, (frames.end - 1) * zSculptHop + centreOffset) };
}

std::vector<IndexSpan> ZSculptCarve::carve (const float* const dry[2], float* const live[2], int channels,
                                            std::int64_t offset, const std::function<bool()>& stop) const
{
    if (reaches.empty())
        return {};
    const auto frames = framesRun(), reached = samplesReached();
    const auto firstFrame = frames.start, endFrame = frames.end;
    const auto s0 = reached.start, s1 = reached.end;
    const auto length = (std::size_t) std::max<std::int64_t> (0, s1 - s0);

    const auto window = hannWindow();
    const float* w = window.data();
    std::vector<float> out[2] { std::vector<float> (length), std::vector<float> (channels > 1 ? length : 0) };
    std::vector<float> wsum (length);
    std::vector<std::complex<float>> frame (zSculptFftSize);
    std::vector<float> gains (zSculptBinCount, 1.0f);
    std::vector<std::size_t> active;
    std::vector<IndexSpan> carved; // frames
    std::size_t next = 0;

    for (auto f = firstFrame; f < endFrame; ++f)
    {
        if (stop && (f - firstFrame) % stopCheckFrames == 0 && stop())
            return {};
        while (next < reaches.size() && reaches[next].f0 <= f)
            active.push_back (next++);
        std::erase_if (active, [&] (std::size_t i) { return reaches[i].f1 <= f; });

        const auto origin = f * zSculptHop - centreOffset;
        const auto from = std::max<std::int64_t> (0, origin), to = std::min (numSamples, origin + zSculptFftSize);
        for (auto n = from; n < to; ++n)
            wsum[(std::size_t) (n - s0)] += w[n - origin] * w[n - origin];
        if (active.empty() || ! frameGains (f, active, gains))
        {
            // An uncarved frame resynthesises to its own windowed input.
            for (int c = 0; c < channels; ++c)
                for (auto n = from; n < to; ++n)
                    out[c][(std::size_t) (n - s0)] += w[n - origin] * w[n - origin] * finiteOrZero (dry[c][n - offset]);
            continue;
        }
        if (! carved.empty() && carved.back().end == f)
            carved.back().end = f + 1;
        else
            carved.push_back ({ f, f + 1 });

        // Channel 0 rides in the real part and channel 1 in the imaginary part: the
        // gains are real and the same for bins k and size - k, so one transform
        // pair carves both exactly as two would.
        for (int i = 0; i < zSculptFftSize; ++i)
        {
            const auto n = origin + i;
            const bool inside = n >= 0 && n < numSamples;
            frame[(std::size_t) i] = { inside ? finiteOrZero (dry[0][n - offset]) * w[i] : 0.0f,
                                       inside && channels > 1 ? finiteOrZero (dry[1][n - offset]) * w[i] : 0.0f };
        }
        stftTransform (frame, false);
        frame[0] *= gains[0];
        frame[zSculptFftSize / 2] *= gains[zSculptFftSize / 2];
        for (int k = 1; k < zSculptFftSize / 2; ++k)
            if (const float g = gains[(std::size_t) k]; g < 0.999999f)
            {
                frame[(std::size_t) k] *= g;
                frame[(std::size_t) (zSculptFftSize - k)] *= g;
            }
        stftTransform (frame, true);
        for (auto n = from; n < to; ++n)
        {
            const auto j = (std::size_t) (n - origin);
            out[0][(std::size_t) (n - s0)] += w[j] * frame[j].real();
            if (channels > 1)
                out[1][(std::size_t) (n - s0)] += w[j] * frame[j].imag();
        }
    }

    // Only samples within reach of a carved frame are rewritten; the rest would
    // resynthesise to themselves.
    std::vector<IndexSpan> written;
    for (const auto& span : carved)
        written.push_back ({ std::max<std::int64_t> (0, span.start * zSculptHop - centreOffset),
                             std::min (numSamples, (span.end - 1) * zSculptHop + centreOffset) });
    written = mergeSpans (std::move (written));
    for (const auto& span : written)
        for (int c = 0; c < channels; ++c)
            for (auto n = span.start; n < span.end; ++n)
                if (const float sum = wsum[(std::size_t) (n - s0)]; sum > 1e-8f)
                    live[c][n - offset] = out[c][(std::size_t) (n - s0)] / sum;
    return written;
}

} // namespace quorvalen
