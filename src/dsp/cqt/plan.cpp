#include "cqt/plan.h"

#include "cqt/fft.h"
#include "cqt/window.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <numbers>
#include <utility>

namespace quorvalen::cqt::detail
{

namespace
{

// Lets a reference of exactly 0.5 put a band on the Nyquist frequency, and a
// minimum frequency on a centre keep that band, despite rounding in log2.
constexpr double kPositionTolerance = 1e-9;
// Largest reach of an atom, in samples, that we accept: beyond it the scale is
// far too fine for the sample rate (e.g. 20 Hz at several MHz) and the frames
// would not fit in memory.
constexpr std::int64_t kMaxReach = std::int64_t { 1 } << 23;
constexpr int kMaxBands = 1 << 14;
// Steps are chosen so that a window spans at most this fraction of its grid,
// leaving room for the bins at both ends of the support.
constexpr double kGridFill = 0.99;
// Levels: a level keeps its input exactly below kPassEdge of its rate and
// drops it from kStopEdge (the next level's Nyquist frequency), with a smooth
// transition between, whose impulse response is short. A band runs on the
// deepest level whose pass band (in the previous level) holds its window.
constexpr double kPassEdge = 0.21;
constexpr double kStopEdge = 0.25;
// Blocks are at least this many times their margins (a seventh or less of the
// work is then on margins), and at least kMinBlock samples. From kLocalLevel
// on, where a level's share of the work is small, blocks are shorter: an
// analysis of a few coefficients there (an edit) reads seconds of the signal
// through every level above, not minutes.
constexpr double kBlockPerMargin = 16;
constexpr double kLocalBlockPerMargin = 4;
constexpr int kLocalLevel = 4;
constexpr double kDeepBlockPerMargin = 2.5;
constexpr int kDeepLevel = 7;
constexpr std::int64_t kMinBlock = 1024;

void validate (const CqtParams& p)
{
    const auto& s = p.scale;
    if (s.bandsPerOctave < 1 || s.bandsPerOctave > 1024)
        throw Error ("cqt: bands per octave must be in 1..1024");
    if (! (std::isfinite (s.minFreq) && s.minFreq > 0.0))
        throw Error ("cqt: the minimum frequency must be finite and above 0");
    if (! (std::isfinite (s.refFreq) && s.refFreq > 0.0))
        throw Error ("cqt: the reference frequency must be finite and above 0");
    if (! (p.overlap > 0.0 && p.overlap < 1.0))
        throw Error ("cqt: overlap must be in (0, 1)");
    if (! (p.maxError > 0.0 && p.maxError <= 1e-2))
        throw Error ("cqt: maximum error must be in (0, 0.01]");
}

int stepShift (double width)
{
    int s = static_cast<int> (std::floor (std::log2 (kGridFill / width)));
    return std::clamp (s, 0, 40);
}

// Bins of a band's window at transform size n.
struct BinRange
{
    std::int64_t first, bins;
};

BinRange binRange (const BandInfo& band, bool lowpass, std::int64_t n)
{
    const double dn = static_cast<double> (n);
    if (lowpass)
    {
        const std::int64_t last = std::min<std::int64_t> (static_cast<std::int64_t> (std::floor (band.hi * dn)), n / 2);
        return { 0, last + 1 };
    }
    const std::int64_t first = std::max<std::int64_t> (1, static_cast<std::int64_t> (std::ceil (band.lo * dn)));
    const std::int64_t last = std::min<std::int64_t> (static_cast<std::int64_t> (std::floor (band.hi * dn)), n - 1);
    return { first, std::max<std::int64_t> (0, last - first + 1) };
}

// Time extent of the atom whose spectrum is spectrum(nu) on [lo, hi] (cycles per
// sample), measured on samples `spacing` apart over a period of k * spacing:
// the largest |t| where the envelope exceeds each threshold times its peak.
struct Extent
{
    double atThreshold[3];
};

template <class Spectrum>
Extent atomExtent (Spectrum&& spectrum, double lo, double hi, bool twoSided, std::int64_t spacing, std::size_t k,
                   const double (&thresholds)[3])
{
    auto buf = allocComplex (k);
    std::fill (buf.get(), buf.get() + k, std::complex<double> {});
    const double period = static_cast<double> (spacing) * static_cast<double> (k);
    const auto kk = static_cast<std::int64_t> (k);
    const auto place = [&] (std::int64_t i, double value) {
        buf[static_cast<std::size_t> (((i % kk) + kk) % kk)] += value;
    };
    if (twoSided)
    {
        std::int64_t last = static_cast<std::int64_t> (std::floor (hi * period));
        const auto half = static_cast<std::int64_t> (period) / 2;
        const bool full = last >= half;
        if (full)
            last = half;
        for (std::int64_t i = full ? -(half - 1) : -last; i <= last; ++i)
            place (i, spectrum (static_cast<double> (i) / period));
    }
    else
    {
        const auto first = static_cast<std::int64_t> (std::ceil (lo * period));
        const auto last = static_cast<std::int64_t> (std::floor (hi * period));
        for (std::int64_t i = first; i <= last; ++i)
            place (i, spectrum (static_cast<double> (i) / period));
    }
    // A plan of its own: sizes used only while a scale is planned need not stay.
    FftPlan<double> (FftKind::Backward, k, true).run (buf.get());
    double peak = 0.0;
    for (std::size_t j = 0; j < k; ++j)
        peak = std::max (peak, std::abs (buf[j]));
    Extent e { { 0.0, 0.0, 0.0 } };
    for (std::size_t j = 0; j < k; ++j)
    {
        const double mag = std::abs (buf[j]);
        const auto sj = static_cast<std::int64_t> (j);
        const double t = static_cast<double> (std::abs (sj < kk / 2 ? sj : sj - kk) * spacing);
        for (int q = 0; q < 3; ++q)
            if (mag > thresholds[q] * peak)
                e.atThreshold[q] = std::max (e.atThreshold[q], t);
    }
    return e;
}

void buildLevels (BandPlan& p);

std::shared_ptr<const BandPlan> buildPlan (const CqtParams& params)
{
    validate (params);
    auto plan = std::make_shared<BandPlan>();
    BandPlan& p = *plan;
    p.params = params;
    p.params.resynthesis = false;
    const auto& s = params.scale;
    const double bpo = s.bandsPerOctave;
    const double eps = params.maxError;
    // The published meaning of overlap: a band's Gaussian window has the
    // standard deviation overlap * (2^(1/bpo) - 1) * its centre frequency, that
    // is sigma bands on the log-frequency axis. Our windows answer a neighbour's
    // centre as that Gaussian does.
    p.sigma = params.overlap * (std::exp2 (1.0 / bpo) - 1.0) * bpo / std::numbers::ln2;
    p.window = WindowShape (std::exp (-0.5 / (p.sigma * p.sigma)), eps);
    p.halfWidth = p.window.halfWidth();

    const double top = std::floor (bpo * std::log2 (0.5 / s.refFreq) + kPositionTolerance);
    const double low = std::ceil (bpo * std::log2 (s.minFreq / s.refFreq) - kPositionTolerance);
    if (top - low + 1.0 > kMaxBands)
        throw Error ("cqt: too many bands for the size cap");
    p.topPosition = static_cast<int> (top);
    p.bandpass = static_cast<int> (std::max (0.0, top - low + 1.0));

    const auto at = [&] (double position) { return s.refFreq * std::exp2 (position / bpo); };
    const double sigmaOctaves = p.sigma / bpo;
    // Reach of the lowest band, from its Gaussian: refuses absurd rates before
    // anything large is built.
    const double flank = low - 1.0;
    {
        const double sigmaNu = at (flank) * sigmaOctaves * std::numbers::ln2;
        const double est = std::sqrt (2.0 * std::log (10.0 / eps)) / (2.0 * std::numbers::pi * sigmaNu);
        if (! (est < static_cast<double> (kMaxReach)))
            throw Error ("cqt: the scale is too fine for this sample rate (windows beyond the size cap)");
    }

    p.bands.resize (static_cast<std::size_t> (p.bandpass) + 1);
    for (int b = 0; b < p.bandpass; ++b)
    {
        BandInfo& band = p.bands[static_cast<std::size_t> (b)];
        band.position = top - b;
        band.centre = at (band.position);
        band.lo = at (band.position - p.halfWidth);
        band.hi = at (band.position + p.halfWidth);
        band.shift = stepShift (band.hi - band.lo);
    }
    if (p.bandpass > 0 && p.bands[0].hi >= 1.0)
        throw Error ("cqt: too few bands per octave for this overlap and maximum error");
    BandInfo& lp = p.bands.back();
    // The lowpass window stands in for the bands that would continue below the
    // lowest one, so that the sum of squared windows stays level across the
    // changeover and the lowest duals keep the shape of the others.
    lp.position = low - 1.0;
    lp.hi = at (lp.position + p.halfWidth);
    if (lp.hi >= 0.5)
    {
        lp.hi = 0.5;
        lp.shift = 0;
    }
    else
    {
        lp.shift = stepShift (2.0 * lp.hi);
    }
    lp.lo = -lp.hi;

    // Supports are measured on the atoms themselves (analysis windows and their
    // duals), not taken from a formula: across the Nyquist frequency the duals
    // are wider than the windows, and the lowpass band has a shape of its own.
    // The support's envelope threshold is maxError / 2 so that the bound holds on
    // the real signal even where the carrier never peaks on a sample.
    const double thresholds[3] = { eps / 2.0, eps / 10.0, eps / 100.0 };
    for (int b = 0; b <= p.bandpass; ++b)
    {
        BandInfo& band = p.bands[static_cast<std::size_t> (b)];
        const bool lowpass = b == p.bandpass;
        const std::int64_t step = std::int64_t { 1 } << band.shift;
        const std::int64_t spacing = std::max<std::int64_t> (1, step / 4);
        const double sigmaNu = at (band.position) * sigmaOctaves * std::numbers::ln2;
        const double est =
            std::sqrt (2.0 * std::log (10.0 / eps)) / (2.0 * std::numbers::pi * sigmaNu) + static_cast<double> (step);
        std::size_t k = 64;
        while (static_cast<double> (k * spacing) < 8.0 * est && k < (std::size_t { 1 } << 24))
            k *= 2;
        for (;;)
        {
            const auto window = [&] (double nu) { return p.gain (b, nu); };
            const auto dual = [&] (double nu) { return p.gain (b, nu) / p.windowEnergy (nu); };
            const Extent ea = atomExtent (window, band.lo, band.hi, lowpass, spacing, k, thresholds);
            const Extent ed = atomExtent (dual, band.lo, band.hi, lowpass, spacing, k, thresholds);
            // Between two measured points the envelope may still exceed a threshold.
            const double margin = spacing > 1 ? static_cast<double> (spacing) : 0.0;
            double extent[3];
            for (int q = 0; q < 3; ++q)
                extent[q] = std::max (ea.atThreshold[q], ed.atThreshold[q]) + margin;
            if (extent[2] > 0.4 * static_cast<double> (k * spacing) && k < (std::size_t { 1 } << 24))
            {
                k *= 2;
                continue;
            }
            band.support = static_cast<std::int64_t> (std::ceil (extent[0]));
            band.reach = std::max (band.support, static_cast<std::int64_t> (std::ceil (extent[1])));
            band.blockReach = std::max (band.reach, static_cast<std::int64_t> (std::ceil (extent[2])));
            break;
        }
        if (band.reach > kMaxReach)
            throw Error ("cqt: the scale is too fine for this sample rate (windows beyond the size cap)");
        p.maxShift = std::max (p.maxShift, band.shift);
        p.maxReach = std::max (p.maxReach, band.reach);
    }
    buildLevels (p);
    return plan;
}

// Bounded least-recently-used memo, safe to share between threads. Values are
// built outside the lock; if two threads build the same key, one result is kept.
template <class Key, class Value, class Same>
class Memo
{
public:
    Memo (std::size_t maxEntries, std::size_t maxBytes) : maxEntries_ (maxEntries), maxBytes_ (maxBytes) {}

    std::shared_ptr<const Value> find (const Key& key)
    {
        std::lock_guard lock (mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
        {
            if (Same {}(it->key, key))
            {
                entries_.splice (entries_.begin(), entries_, it);
                return entries_.front().value;
            }
        }
        return nullptr;
    }

    void put (const Key& key, std::shared_ptr<const Value> value, std::size_t bytes)
    {
        std::lock_guard lock (mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
        {
            if (Same {}(it->key, key))
            {
                bytes_ -= it->bytes;
                entries_.erase (it);
                break;
            }
        }
        entries_.push_front ({ key, std::move (value), bytes });
        bytes_ += bytes;
        while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes_ > maxBytes_))
        {
            bytes_ -= entries_.back().bytes;
            entries_.pop_back();
        }
    }

private:
    struct Entry
    {
        Key key;
        std::shared_ptr<const Value> value;
        std::size_t bytes;
    };
    std::mutex mutex_;
    std::list<Entry> entries_;
    std::size_t bytes_ = 0;
    std::size_t maxEntries_, maxBytes_;
};

struct SameParams
{
    bool operator() (const CqtParams& a, const CqtParams& b) const { return sameScale (a, b); }
};

// Windows of the bands from bandBegin on (and of the bands above that overlap
// theirs, for the duals) at the bins of a level's blocks of `size` samples.
std::shared_ptr<Grid> sampleGains (const BandPlan& p, int level, std::int64_t size, int bandBegin)
{
    const std::int64_t n = size << level; // the same bins at the signal's rate
    auto g = std::make_shared<Grid>();
    g->size = size;
    g->bandBegin = std::max (0, bandBegin - static_cast<int> (std::ceil (2.0 * p.halfWidth)) - 1);
    g->bands.resize (p.bands.size());
    std::size_t total = 0;
    for (std::size_t b = static_cast<std::size_t> (g->bandBegin); b < p.bands.size(); ++b)
    {
        const BinRange r = binRange (p.bands[b], b + 1 == p.bands.size(), n);
        g->bands[b] = { r.first, r.bins, total };
        total += static_cast<std::size_t> (r.bins);
    }
    g->gain.resize (total);
    // Band-axis position of every bin the bandpass windows touch, computed once:
    // each bin lies under about 2 * halfWidth bands.
    std::int64_t maxBin = 0;
    for (int b = g->bandBegin; b < p.bandpass; ++b)
    {
        const GridBand& gb = g->bands[static_cast<std::size_t> (b)];
        maxBin = std::max (maxBin, gb.firstBin + gb.bins);
    }
    const double bpo = p.params.scale.bandsPerOctave;
    const double offset = bpo * std::log2 (static_cast<double> (n) * p.params.scale.refFreq);
    std::vector<double> position (static_cast<std::size_t> (maxBin));
    for (std::int64_t f = 1; f < maxBin; ++f)
        position[static_cast<std::size_t> (f)] = bpo * std::log2 (static_cast<double> (f)) - offset;
    for (int b = g->bandBegin; b < p.bandpass; ++b)
    {
        const GridBand& gb = g->bands[static_cast<std::size_t> (b)];
        const double centre = p.bands[static_cast<std::size_t> (b)].position;
        float* out = g->gain.data() + gb.offset;
        for (std::int64_t i = 0; i < gb.bins; ++i)
            out[i] = static_cast<float> (p.window (position[static_cast<std::size_t> (gb.firstBin + i)] - centre));
    }
    const GridBand& lp = g->bands.back();
    for (std::int64_t f = 0; f < lp.bins; ++f)
        g->gain[lp.offset + static_cast<std::size_t> (f)] =
            static_cast<float> (p.gain (p.bandpass, static_cast<double> (f) / static_cast<double> (n)));
    return g;
}

// Duals at bins 0..size/2 from the squared windows sampled there. On level 0
// the bins past size/2 are mirror images; deeper levels have no content there.
void computeDual (const BandPlan& p, Grid& g, int level)
{
    const std::int64_t n = g.size;
    const std::int64_t half = n / 2;
    std::vector<double> frame (static_cast<std::size_t> (half) + 1, 0.0);
    for (int b = g.bandBegin; b < p.bandpass; ++b)
    {
        const GridBand& gb = g.bands[static_cast<std::size_t> (b)];
        const float* gain = g.gain.data() + gb.offset;
        for (std::int64_t i = 0; i < gb.bins; ++i)
        {
            const std::int64_t f = gb.firstBin + i;
            const double w = static_cast<double> (gain[i]) * gain[i];
            // Both mirror images of a real signal's spectrum meet at the Nyquist bin.
            if (f < half)
                frame[static_cast<std::size_t> (f)] += w;
            else if (level > 0)
                break;
            else if (f > half)
                frame[static_cast<std::size_t> (n - f)] += w;
            else
                frame[static_cast<std::size_t> (f)] += 2.0 * w;
        }
    }
    const GridBand& lp = g.bands.back();
    for (std::int64_t f = 0; f < std::min (lp.bins, half + 1); ++f)
    {
        const double gain = g.gain[lp.offset + static_cast<std::size_t> (f)];
        frame[static_cast<std::size_t> (f)] += gain * gain;
    }
    g.dual.resize (frame.size());
    for (std::size_t f = 0; f < frame.size(); ++f)
    {
        // Zero only above the bands sampled here, where no dual is read.
        if (! (frame[f] > 0.0) && g.bandBegin == 0 && level == 0)
            throw Error ("cqt: internal error: the frame does not cover every frequency");
        g.dual[f] = frame[f] > 0.0 ? 1.0 / (static_cast<double> (n) * frame[f]) : 0.0;
    }
}

// The decimation filter's gain at f cycles per level sample: an erfc step
// from the pass edge to the stop edge, exactly 1 and 0 beyond them.
double passGain (double f)
{
    constexpr double width = (kStopEdge - kPassEdge) / 12.0;
    constexpr double centre = kStopEdge - 6.0 * width;
    f = std::abs (f);
    if (f <= kPassEdge)
        return 1.0;
    if (f >= kStopEdge)
        return 0.0;
    return 0.5 * std::erfc ((f - centre) / (width * std::numbers::sqrt2));
}

// Level samples beyond which the filter's impulse response stays below
// threshold times its peak.
std::int64_t filterReach (double threshold)
{
    constexpr std::size_t k = std::size_t { 1 } << 14;
    auto buf = allocComplex (k);
    const auto kk = static_cast<std::int64_t> (k);
    for (std::int64_t i = 0; i < kk; ++i)
    {
        const std::int64_t f = i < kk / 2 ? i : i - kk;
        buf[static_cast<std::size_t> (i)] = passGain (static_cast<double> (f) / static_cast<double> (kk));
    }
    // A plan of its own: sizes used only while a scale is planned need not stay.
    FftPlan<double> (FftKind::Backward, k, true).run (buf.get());
    double peak = 0.0;
    for (std::size_t j = 0; j < k; ++j)
        peak = std::max (peak, std::abs (buf[j]));
    std::int64_t reach = 0;
    for (std::int64_t j = 0; j < kk / 2; ++j)
        if (std::abs (buf[static_cast<std::size_t> (j)]) > threshold * peak)
            reach = j;
    return reach + 1;
}

void buildLevels (BandPlan& p)
{
    const int count = static_cast<int> (p.bands.size());
    // Deepest level each band fits: its window below the pass edge of the level
    // above, and whole level samples between its coefficients.
    const auto deepest = [&] (int b) {
        const BandInfo& band = p.bands[static_cast<std::size_t> (b)];
        int level = 0;
        while (level < band.shift && band.hi * std::ldexp (1.0, level + 1) <= 2.0 * kPassEdge)
            ++level;
        return level;
    };
    const int last = deepest (count - 1); // the lowpass band's, the deepest of all
    std::vector<int> levelOf (static_cast<std::size_t> (count));
    int running = 0;
    for (int b = 0; b < count; ++b)
    {
        running = std::max (running, std::min (deepest (b), last));
        levelOf[static_cast<std::size_t> (b)] = b + 1 == count ? last : running;
    }
    const std::int64_t reach = filterReach (p.params.maxError / 1000.0);
    p.levels.resize (static_cast<std::size_t> (last) + 1);
    int b = 0;
    for (int l = 0; l <= last; ++l)
    {
        Level& lv = p.levels[static_cast<std::size_t> (l)];
        lv.level = l;
        lv.bandBegin = b;
        while (b < count && levelOf[static_cast<std::size_t> (b)] == l)
            ++b;
        lv.bandEnd = b;
        const bool next = l < last;
        std::int64_t margin = next ? reach : 1;
        int maxShift = 1;
        lv.minShift = 64;
        for (int k = lv.bandBegin; k < lv.bandEnd; ++k)
        {
            const BandInfo& band = p.bands[static_cast<std::size_t> (k)];
            const std::int64_t scale = std::int64_t { 1 } << l;
            margin = std::max (margin, (band.blockReach + scale - 1) / scale);
            maxShift = std::max (maxShift, band.shift - l);
            lv.minShift = std::min (lv.minShift, band.shift - l);
        }
        if (lv.bandBegin == lv.bandEnd)
            lv.minShift = 0;
        // Whole steps of every band, and even: blocks start on the next level's samples.
        const std::int64_t step = std::int64_t { 1 } << maxShift;
        lv.margin = (margin + step - 1) / step * step;
        std::int64_t size = kMinBlock;
        const double perMargin = l < kLocalLevel ? kBlockPerMargin
            : l < kDeepLevel                     ? kLocalBlockPerMargin
                                                 : kDeepBlockPerMargin;
        while ((double) size < perMargin * (double) lv.margin || ! p.fits (size << l, lv.bandBegin, lv.bandEnd))
            size *= 2;
        lv.size = size;
        lv.keep = size - 2 * lv.margin;
        auto g = sampleGains (p, l, size, lv.bandBegin);
        computeDual (p, *g, l);
        lv.grid = std::move (g);
        if (next)
        {
            lv.toNext.resize (static_cast<std::size_t> (size / 4) + 1);
            for (std::size_t k = 0; k < lv.toNext.size(); ++k)
                lv.toNext[k] = passGain (static_cast<double> (k) / static_cast<double> (size));
        }
    }
}

} // namespace

bool sameScale (const CqtParams& a, const CqtParams& b)
{
    return a.scale.bandsPerOctave == b.scale.bandsPerOctave && a.scale.minFreq == b.scale.minFreq
        && a.scale.refFreq == b.scale.refFreq && a.overlap == b.overlap && a.maxError == b.maxError;
}

double BandPlan::gain (int band, double nu) const
{
    const double bpo = params.scale.bandsPerOctave;
    const BandInfo& info = bands[static_cast<std::size_t> (band)];
    if (band == bandpass)
    {
        // The energy of the virtual bands at and below the lowpass position;
        // level from 0 Hz up to where they start to drop out.
        nu = std::abs (nu);
        const double pos = nu > 0.0 ? bpo * std::log2 (nu / params.scale.refFreq) : -HUGE_VAL;
        if (pos <= info.position - halfWidth)
            return std::sqrt (window.energySum());
        double sum = 0.0;
        for (double k = std::ceil (pos - halfWidth); k <= info.position; ++k)
        {
            const double w = window (pos - k);
            sum += w * w;
        }
        return std::sqrt (sum);
    }
    if (! (nu > 0.0))
        return 0.0;
    return window (bpo * std::log2 (nu / params.scale.refFreq) - info.position);
}

double BandPlan::windowEnergy (double nu) const
{
    nu -= std::floor (nu);
    if (nu > 0.5)
        nu = 1.0 - nu;
    const double lpGain = gain (bandpass, nu);
    double sum = lpGain * lpGain;
    if (nu <= 0.0)
        return sum;
    const double bpo = params.scale.bandsPerOctave;
    for (const double v : { nu, 1.0 - nu })
    {
        const double pos = bpo * std::log2 (v / params.scale.refFreq);
        const int bFirst = std::max (0, static_cast<int> (std::ceil (topPosition - pos - halfWidth)));
        const int bLast = std::min (bandpass - 1, static_cast<int> (std::floor (topPosition - pos + halfWidth)));
        for (int b = bFirst; b <= bLast; ++b)
        {
            const double g = window (pos - bands[static_cast<std::size_t> (b)].position);
            sum += g * g;
        }
    }
    return sum;
}

bool BandPlan::fits (std::int64_t size, int bandBegin, int bandEnd) const
{
    for (int b = bandBegin; b < bandEnd; ++b)
    {
        const auto bi = static_cast<std::size_t> (b);
        const bool lowpass = b == bandpass;
        const std::int64_t m = size >> bands[bi].shift;
        const BinRange r = binRange (bands[bi], lowpass, size);
        const std::int64_t occupied = lowpass ? (2 * (r.bins - 1) >= size ? size : 2 * r.bins - 1) : r.bins;
        if (occupied > m)
            return false;
    }
    return true;
}

std::shared_ptr<const BandPlan> bandPlan (const CqtParams& params)
{
    static Memo<CqtParams, BandPlan, SameParams> memo (16, ~std::size_t { 0 });
    if (auto p = memo.find (params))
        return p;
    auto p = buildPlan (params);
    memo.put (params, p, 0);
    return p;
}

} // namespace quorvalen::cqt::detail
