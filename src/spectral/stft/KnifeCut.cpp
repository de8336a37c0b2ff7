#include "spectral/stft/KnifeCut.h"

#include "spectral/SpectralSession.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>
#include <utility>

namespace quorvalen
{
namespace
{
// Radii beyond any session's frame or bin count, kept well inside the integer range.
constexpr double radiusLimit = 1.0e9;
// Frames cut together: their bins (both channels) stay in cache while every
// point that reaches them passes.
constexpr std::int64_t blockFrames = 32;
// Within a block, a cut asks whether to stop once per this many points.
constexpr std::size_t stopCheckPoints = 64;

std::int64_t radius (double r)
{
    return (std::int64_t) std::clamp (std::trunc (r), 1.0, radiusLimit);
}

// Upper half of the display on a steep curve, lower half on a gentle one; they
// meet at bin 32 for y = 0.5.
std::int64_t centreBin (double y)
{
    if (y <= 0.5)
        return (std::int64_t) std::trunc (stftBinCount * std::pow (1.0 - y, 4.0));
    const double v = std::max (0.0, 1.0 - 2.0 * (y - 0.5));
    return (std::int64_t) std::trunc (stftBinCount * 0.0625 * std::pow (v, 1.2));
}

// w^1.9 at frame offset i and bin offset j from a centre, 0 from the rim on. The
// distance is symmetric in the sign of both offsets, so one quadrant serves a box.
float weightAt (std::int64_t i, std::int64_t j, std::int64_t timeRadius, std::int64_t binRadius)
{
    const float dx = (float) i / (float) timeRadius;
    const float dy = (float) j / (float) binRadius;
    const float d = std::sqrt (dx * dx + dy * dy);
    const float w = std::min (1.0f, std::max (0.0f, 1.0f - d));
    return w <= 0.0f ? 0.0f : std::pow (w, 1.9f);
}

// The weights of one quadrant, shared by every point with the same radii: a drawn
// path mostly repeats a few radius pairs.
class WeightTables
{
public:
    WeightTables (const std::vector<KnifeBox>& boxes, std::size_t keptLimit) : limit (keptLimit)
    {
        index.reserve (boxes.size());
        std::map<std::pair<std::int64_t, std::int64_t>, std::size_t> byRadii;
        for (const auto& box : boxes)
        {
            const auto [it, added] = byRadii.try_emplace ({ box.timeRadius, box.binRadius }, tables.size());
            if (added)
                tables.emplace_back();
            index.push_back (it->second);
            if (box.empty())
                continue;
            auto& t = tables[it->second];
            t.rows = std::max (t.rows, std::max (box.centreFrame - box.t0, box.t1 - 1 - box.centreFrame) + 1);
            t.cols = std::max (t.cols, std::max (box.centreBin - box.b0, box.b1 - 1 - box.centreBin) + 1);
        }
    }

    // Row i (frame offset) of point p's quadrant, cols values.
    const float* row (std::size_t p, const KnifeBox& box, std::int64_t i)
    {
        auto& t = tables[index[p]];
        if (! t.w.empty())
            return t.w.data() + (std::size_t) (i * t.cols);
        const auto size = (std::size_t) (t.rows * t.cols);
        if (! t.decided && kept + size <= limit)
        {
            t.w.resize (size);
            for (std::int64_t r = 0; r < t.rows; ++r)
                for (std::int64_t j = 0; j < t.cols; ++j)
                    t.w[(std::size_t) (r * t.cols + j)] = weightAt (r, j, box.timeRadius, box.binRadius);
            kept += size;
            t.decided = true;
            return t.w.data() + (std::size_t) (i * t.cols);
        }
        // Beyond what is kept: this row alone, for this use.
        t.decided = true;
        scratch.resize ((std::size_t) t.cols);
        for (std::int64_t j = 0; j < t.cols; ++j)
            scratch[(std::size_t) j] = weightAt (i, j, box.timeRadius, box.binRadius);
        return scratch.data();
    }

private:
    struct Entry
    {
        std::int64_t rows = 0, cols = 0; // frame offsets 0..rows-1, bin offsets 0..cols-1
        std::vector<float> w;            // row-major; empty until made, or when too large to keep
        bool decided = false;            // kept, or too large to keep
    };
    std::vector<Entry> tables;
    std::vector<std::size_t> index; // per point
    std::vector<float> scratch;
    std::size_t limit;
    std::size_t kept = 0;
};

// One point's gains over frame f of its box, applied to every channel. `changed`
// is set once some gain differs from 1 by more than 1e-7 (then it is not tested again).
void cutRow (std::vector<std::vector<std::complex<float>>>& bins, const KnifeBox& box, std::int64_t f,
             const float* weights, float halfDepth, int repeats, std::vector<float>& gains, bool& changed)
{
    const auto width = box.b1 - box.b0;
    gains.resize ((std::size_t) width);
    float* g = gains.data();
    const auto cb = box.centreBin;
    // Bins below the centre read the quadrant backwards.
    for (auto b = box.b0; b < std::min (cb, box.b1); ++b)
    {
        const float h = 1.0f - halfDepth * weights[cb - b];
        g[b - box.b0] = h * h;
    }
    for (auto b = std::max (box.b0, cb); b < box.b1; ++b)
    {
        const float h = 1.0f - halfDepth * weights[b - cb];
        g[b - box.b0] = h * h;
    }
    if (repeats > 1)
        for (std::int64_t k = 0; k < width; ++k)
            g[k] = (float) std::pow ((double) g[k], repeats);
    for (std::int64_t k = 0; k < width && ! changed; ++k)
        changed = std::abs (g[k] - 1.0f) > 1e-7f;
    for (auto& channel : bins)
    {
        auto* x = reinterpret_cast<float*> (channel.data() + f * stftBinCount + box.b0);
        for (std::int64_t k = 0; k < width; ++k)
        {
            x[2 * k] *= g[k];
            x[2 * k + 1] *= g[k];
        }
    }
}
} // namespace

std::vector<KnifePoint> knifePoints (const float* p, std::int32_t count)
{
    std::vector<KnifePoint> given ((std::size_t) std::max (count, 0));
    for (std::int32_t i = 0; i < count; ++i, p += 5)
        given[(std::size_t) i] = { std::clamp (p[0], 0.0f, 1.0f), std::clamp (p[1], 0.0f, 1.0f), p[2], p[3], p[4] };
    const auto key = [&] (std::size_t i) {
        const auto& k = given[i];
        return std::make_tuple (k.t, k.y, k.timeRadius, k.frequencyRadius, k.depth);
    };
    // Equal points side by side, each run led by its first in input order.
    std::vector<std::size_t> order (given.size());
    std::iota (order.begin(), order.end(), std::size_t { 0 });
    std::stable_sort (order.begin(), order.end(), [&] (std::size_t a, std::size_t b) { return key (a) < key (b); });
    std::vector<char> kept (given.size(), 0);
    for (std::size_t i = 0; i < order.size();)
    {
        std::size_t j = i + 1;
        while (j < order.size() && key (order[j]) == key (order[i]))
            ++j;
        kept[order[i]] = 1;
        given[order[i]].repeats = (int) (j - i);
        i = j;
    }
    std::vector<KnifePoint> out;
    for (std::size_t i = 0; i < given.size(); ++i)
        if (kept[i])
            out.push_back (given[i]);
    return out;
}

KnifeBox knifeBox (const KnifePoint& p, std::int64_t frames)
{
    KnifeBox box;
    box.centreFrame = (std::int64_t) std::trunc ((double) frames * p.t);
    box.centreBin = centreBin (p.y);
    // Sizes in double and clamped before conversion: the radii are not bounded.
    const auto tr0 = radius ((double) frames * p.timeRadius);
    const auto fr0 = radius ((double) p.frequencyRadius * stftBinCount * (std::pow (1.0 - p.y, 4.5) * 32.0 + 1.6));
    box.timeRadius = radius ((double) tr0 * 1.1);
    box.binRadius = radius ((double) fr0 * 2.4);
    box.t0 = std::max<std::int64_t> (0, box.centreFrame - box.timeRadius);
    box.t1 = std::min<std::int64_t> (frames, box.centreFrame + box.timeRadius);
    box.b0 = std::max<std::int64_t> (0, box.centreBin - box.binRadius);
    box.b1 = std::min<std::int64_t> (stftBinCount, box.centreBin + box.binRadius);
    return box;
}

std::vector<IndexSpan> cutKnifeBoxes (std::vector<std::vector<std::complex<float>>>& bins, std::int64_t frames,
                                      const std::vector<KnifePoint>& points, const std::vector<KnifeBox>& boxes,
                                      std::size_t keptWeights, const std::function<bool()>& stop)
{
    std::int64_t first = frames, last = 0;
    for (const auto& box : boxes)
        if (! box.empty())
        {
            first = std::min (first, box.t0);
            last = std::max (last, box.t1);
        }
    WeightTables tables (boxes, keptWeights);
    std::vector<char> changed (boxes.size(), 0);
    std::vector<float> gains;
    // Block by block, and within a block point after point in input order: every
    // bin meets its points in the order of a point-by-point cut.
    for (auto start = first; start < last; start += blockFrames)
    {
        if (stop && stop())
            return {};
        const auto end = std::min (start + blockFrames, last);
        for (std::size_t p = 0; p < boxes.size(); ++p)
        {
            if (stop && p % stopCheckPoints == stopCheckPoints - 1 && stop())
                return {};
            const auto& box = boxes[p];
            if (box.empty() || box.t1 <= start || box.t0 >= end)
                continue;
            const float halfDepth = 0.5f * points[p].depth;
            for (auto f = std::max (start, box.t0); f < std::min (end, box.t1); ++f)
            {
                const float* w = tables.row (p, box, std::abs (f - box.centreFrame));
                bool rowChanged = changed[p] != 0;
                cutRow (bins, box, f, w, halfDepth, points[p].repeats, gains, rowChanged);
                changed[p] = rowChanged ? 1 : 0;
            }
        }
    }
    std::vector<IndexSpan> spans;
    for (std::size_t p = 0; p < boxes.size(); ++p)
        if (changed[p])
            spans.push_back ({ boxes[p].t0, boxes[p].t1 });
    return mergeSpans (std::move (spans));
}

} // namespace quorvalen
