#pragma once
// The knife's cut into a session's STFT bins: each point a soft elliptical box
// whose gains multiply the bins of every channel, the points taken in input order.
#include "spectral/stft/SampleSpans.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvalen
{

// One stroke point as the knife reads it: t and y clamped to [0, 1], the radii
// and the depth as given, and how often the stroke gave it.
struct KnifePoint
{
    float t = 0.0f, y = 0.0f, timeRadius = 0.0f, frequencyRadius = 0.0f, depth = 0.0f;
    int repeats = 1;
};

// A point's box in frames [t0, t1) and bins [b0, b1) around its centre.
struct KnifeBox
{
    std::int64_t centreFrame = 0, centreBin = 0, timeRadius = 1, binRadius = 1;
    std::int64_t t0 = 0, t1 = 0, b0 = 0, b1 = 0;
    bool empty() const noexcept { return t1 <= t0 || b1 <= b0; }
    std::int64_t cells() const noexcept { return empty() ? 0 : (t1 - t0) * (b1 - b0); }
};

// The stroke's points, each distinct one once where it first came, with its
// count: a pen held still repeats its point, which then cuts as often but costs
// one cut.
std::vector<KnifePoint> knifePoints (const float* points, std::int32_t count);
KnifeBox knifeBox (const KnifePoint& point, std::int64_t frames);

// Multiplies the bins of each box by (1 - depth / 2 x w^1.9)^2, w = 1 - the
// normalised elliptical distance from the centre (none beyond the rim), for every
// channel of `bins` (frames x 513 values each). Each bin takes the gains of the
// points that reach it in input order, so the result is that of cutting point
// after point (a point given k times multiplies by its gain to the k in its
// first place: the same but for rounding). The frame spans [t0, t1) of the points whose gains differ from 1
// by more than 1e-7 somewhere, sorted and merged; empty when nothing changed.
// Points with the same radii share one table of weights, as long as the tables
// stay within `keptWeights` floats; beyond it weights are computed row by row.
// `stop` is asked between blocks of frames and every few points within one: once
// it says so the cut ends half done and nothing is returned.
inline constexpr std::size_t knifeKeptWeights = std::size_t { 16 } << 20; // 64 MB
std::vector<IndexSpan> cutKnifeBoxes (std::vector<std::vector<std::complex<float>>>& bins, std::int64_t frames,
                                      const std::vector<KnifePoint>& points, const std::vector<KnifeBox>& boxes,
                                      std::size_t keptWeights = knifeKeptWeights,
                                      const std::function<bool()>& stop = {});

} // namespace quorvalen
