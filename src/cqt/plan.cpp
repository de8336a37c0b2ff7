#include "cqt/plan.h"

#include "cqt/fft.h"
#include "cqt/window.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <numbers>
#include <utility>

namespace quorvalen::cqt::detail {

namespace {

// Lets a reference of exactly 0.5 put a band on the Nyquist frequency, and a
// minimum frequency on a centre keep that band, despite rounding in log2.
constexpr double kPositionTolerance = 1e-9;
// Largest reach of an atom, in samples, that we accept: beyond it the scale is
// far too fine for the sample rate (e.g. 20 Hz at several MHz) and the frames
// would not fit in memory.
constexpr std::int64_t kMaxReach = std::int64_t{1} << 23;
constexpr int kMaxBands = 1 << 14;
// Steps are chosen so that a window spans at most this fraction of its grid,
// leaving room for the bins at both ends of the support.
constexpr double kGridFill = 0.99;
// Frame size of the blocked top bands: their band transforms (up to an eighth of
// it) stay in cache.
constexpr std::int64_t kBlockSize = std::int64_t{1} << 16;
// Bands are blocked while their margin stays within this fraction of a block:
// wider margins cost more than the large transforms they avoid.
constexpr std::int64_t kMarginDivisor = 32;

void validate(const CqtParams& p) {
    const auto& s = p.scale;
    if (s.bandsPerOctave < 1 || s.bandsPerOctave > 1024)
        throw Error("cqt: bands per octave must be in 1..1024");
    if (!(std::isfinite(s.minFreq) && s.minFreq > 0.0))
        throw Error("cqt: the minimum frequency must be finite and above 0");
    if (!(std::isfinite(s.refFreq) && s.refFreq > 0.0))
        throw Error("cqt: the reference frequency must be finite and above 0");
    if (!(p.overlap > 0.0 && p.overlap < 1.0)) throw Error("cqt: overlap must be in (0, 1)");
    if (!(p.maxError > 0.0 && p.maxError <= 1e-2)) throw Error("cqt: maximum error must be in (0, 0.01]");
}

int stepShift(double width) {
    int s = static_cast<int>(std::floor(std::log2(kGridFill / width)));
    return std::clamp(s, 0, 40);
}

bool isSmooth(std::int64_t m) {
    for (std::int64_t p : {2, 3, 5, 7})
        while (m % p == 0) m /= p;
    return m == 1;
}

bool isCoarse(std::int64_t m) {
    while (m % 2 == 0) m /= 2;
    return m == 1 || m == 3;
}

// Bins of a band's window at transform size n.
struct BinRange {
    std::int64_t first, bins;
};

BinRange binRange(const BandInfo& band, bool lowpass, std::int64_t n) {
    const double dn = static_cast<double>(n);
    if (lowpass) {
        const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(std::floor(band.hi * dn)), n / 2);
        return {0, last + 1};
    }
    const std::int64_t first = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(band.lo * dn)));
    const std::int64_t last = std::min<std::int64_t>(static_cast<std::int64_t>(std::floor(band.hi * dn)), n - 1);
    return {first, std::max<std::int64_t>(0, last - first + 1)};
}

// Time extent of the atom whose spectrum is spectrum(nu) on [lo, hi] (cycles per
// sample), measured on samples `spacing` apart over a period of k * spacing:
// the largest |t| where the envelope exceeds each threshold times its peak.
struct Extent {
    double atThreshold[3];
};

template <class Spectrum>
Extent atomExtent(Spectrum&& spectrum, double lo, double hi, bool twoSided, std::int64_t spacing, std::size_t k,
                  const double (&thresholds)[3]) {
    auto buf = allocComplex(k);
    std::fill(buf.get(), buf.get() + k, std::complex<double>{});
    const double period = static_cast<double>(spacing) * static_cast<double>(k);
    const auto kk = static_cast<std::int64_t>(k);
    const auto place = [&](std::int64_t i, double value) {
        buf[static_cast<std::size_t>(((i % kk) + kk) % kk)] += value;
    };
    if (twoSided) {
        std::int64_t last = static_cast<std::int64_t>(std::floor(hi * period));
        const auto half = static_cast<std::int64_t>(period) / 2;
        const bool full = last >= half;
        if (full) last = half;
        for (std::int64_t i = full ? -(half - 1) : -last; i <= last; ++i)
            place(i, spectrum(static_cast<double>(i) / period));
    } else {
        const auto first = static_cast<std::int64_t>(std::ceil(lo * period));
        const auto last = static_cast<std::int64_t>(std::floor(hi * period));
        for (std::int64_t i = first; i <= last; ++i) place(i, spectrum(static_cast<double>(i) / period));
    }
    FftPlan<double>::get(FftKind::Backward, k)->run(buf.get());
    double peak = 0.0;
    for (std::size_t j = 0; j < k; ++j) peak = std::max(peak, std::abs(buf[j]));
    Extent e{{0.0, 0.0, 0.0}};
    for (std::size_t j = 0; j < k; ++j) {
        const double mag = std::abs(buf[j]);
        const auto sj = static_cast<std::int64_t>(j);
        const double t = static_cast<double>(std::abs(sj < kk / 2 ? sj : sj - kk) * spacing);
        for (int q = 0; q < 3; ++q)
            if (mag > thresholds[q] * peak) e.atThreshold[q] = std::max(e.atThreshold[q], t);
    }
    return e;
}

std::shared_ptr<const BandPlan> buildPlan(const CqtParams& params) {
    validate(params);
    auto plan = std::make_shared<BandPlan>();
    BandPlan& p = *plan;
    p.params = params;
    p.params.resynthesis = false;
    const auto& s = params.scale;
    const double bpo = s.bandsPerOctave;
    const double eps = params.maxError;
    p.sigma = 1.0 / std::sqrt(-2.0 * std::log(params.overlap));
    p.window = WindowShape(params.overlap, eps);
    p.halfWidth = p.window.halfWidth();

    const double top = std::floor(bpo * std::log2(0.5 / s.refFreq) + kPositionTolerance);
    const double low = std::ceil(bpo * std::log2(s.minFreq / s.refFreq) - kPositionTolerance);
    if (top - low + 1.0 > kMaxBands) throw Error("cqt: too many bands for the size cap");
    p.topPosition = static_cast<int>(top);
    p.bandpass = static_cast<int>(std::max(0.0, top - low + 1.0));

    const auto at = [&](double position) { return s.refFreq * std::exp2(position / bpo); };
    const double sigmaOctaves = p.sigma / bpo;
    // Reach of the lowest band, from its Gaussian: refuses absurd rates before
    // anything large is built.
    const double flank = low - 1.0;
    {
        const double sigmaNu = at(flank) * sigmaOctaves * std::numbers::ln2;
        const double est = std::sqrt(2.0 * std::log(10.0 / eps)) / (2.0 * std::numbers::pi * sigmaNu);
        if (!(est < static_cast<double>(kMaxReach)))
            throw Error("cqt: the scale is too fine for this sample rate (windows beyond the size cap)");
    }

    p.bands.resize(static_cast<std::size_t>(p.bandpass) + 1);
    for (int b = 0; b < p.bandpass; ++b) {
        BandInfo& band = p.bands[static_cast<std::size_t>(b)];
        band.position = top - b;
        band.centre = at(band.position);
        band.lo = at(band.position - p.halfWidth);
        band.hi = at(band.position + p.halfWidth);
        band.shift = stepShift(band.hi - band.lo);
    }
    if (p.bandpass > 0 && p.bands[0].hi >= 1.0)
        throw Error("cqt: too few bands per octave for this overlap and maximum error");
    BandInfo& lp = p.bands.back();
    // The lowpass window stands in for the bands that would continue below the
    // lowest one, so that the sum of squared windows stays level across the
    // changeover and the lowest duals keep the shape of the others.
    lp.position = low - 1.0;
    lp.hi = at(lp.position + p.halfWidth);
    if (lp.hi >= 0.5) {
        lp.hi = 0.5;
        lp.shift = 0;
    } else {
        lp.shift = stepShift(2.0 * lp.hi);
    }
    lp.lo = -lp.hi;

    // Supports are measured on the atoms themselves (analysis windows and their
    // duals), not taken from a formula: across the Nyquist frequency the duals
    // are wider than the windows, and the lowpass band has a shape of its own.
    // The support's envelope threshold is maxError / 2 so that the bound holds on
    // the real signal even where the carrier never peaks on a sample.
    const double thresholds[3] = {eps / 2.0, eps / 10.0, eps / 100.0};
    for (int b = 0; b <= p.bandpass; ++b) {
        BandInfo& band = p.bands[static_cast<std::size_t>(b)];
        const bool lowpass = b == p.bandpass;
        const std::int64_t step = std::int64_t{1} << band.shift;
        const std::int64_t spacing = std::max<std::int64_t>(1, step / 4);
        const double sigmaNu = at(band.position) * sigmaOctaves * std::numbers::ln2;
        const double est = std::sqrt(2.0 * std::log(10.0 / eps)) / (2.0 * std::numbers::pi * sigmaNu) +
                           static_cast<double>(step);
        std::size_t k = 64;
        while (static_cast<double>(k * spacing) < 8.0 * est && k < (std::size_t{1} << 24)) k *= 2;
        for (;;) {
            const auto window = [&](double nu) { return p.gain(b, nu); };
            const auto dual = [&](double nu) { return p.gain(b, nu) / p.windowEnergy(nu); };
            const Extent ea = atomExtent(window, band.lo, band.hi, lowpass, spacing, k, thresholds);
            const Extent ed = atomExtent(dual, band.lo, band.hi, lowpass, spacing, k, thresholds);
            // Between two measured points the envelope may still exceed a threshold.
            const double margin = spacing > 1 ? static_cast<double>(spacing) : 0.0;
            double extent[3];
            for (int q = 0; q < 3; ++q) extent[q] = std::max(ea.atThreshold[q], ed.atThreshold[q]) + margin;
            if (extent[2] > 0.4 * static_cast<double>(k * spacing) && k < (std::size_t{1} << 24)) {
                k *= 2;
                continue;
            }
            band.support = static_cast<std::int64_t>(std::ceil(extent[0]));
            band.reach = std::max(band.support, static_cast<std::int64_t>(std::ceil(extent[1])));
            band.blockReach = std::max(band.reach, static_cast<std::int64_t>(std::ceil(extent[2])));
            break;
        }
        if (band.reach > kMaxReach)
            throw Error("cqt: the scale is too fine for this sample rate (windows beyond the size cap)");
        p.maxShift = std::max(p.maxShift, band.shift);
        p.maxReach = std::max(p.maxReach, band.reach);
    }
    const std::int64_t maxStep = std::int64_t{1} << p.maxShift;
    p.padding = (std::max<std::int64_t>(p.maxReach, 1) + maxStep - 1) / maxStep * maxStep;

    // The top bands, whose atoms are short, run in blocks of kBlockSize samples
    // with a margin on either side for their atoms: their transforms then stay
    // small and in cache instead of spanning the whole padded signal. The other
    // bands (few coefficients, long atoms) run on one frame over the signal.
    p.blockSize = kBlockSize;
    for (int b = 0; b < p.bandpass; ++b) {
        const BandInfo& band = p.bands[static_cast<std::size_t>(b)];
        const std::int64_t step = std::int64_t{1} << band.shift;
        const std::int64_t margin = std::max(p.blockMargin, (band.blockReach + step - 1) / step * step);
        if (kMarginDivisor * margin > kBlockSize) break;
        p.blockMargin = margin;
        p.blockShift = band.shift;
        p.blockedBands = b + 1;
    }
    if (p.blockedBands > 0 && !p.fits(kBlockSize, 0, p.blockedBands)) p.blockedBands = 0;
    // Margins are whole steps of every blocked band.
    const std::int64_t blockStep = std::int64_t{1} << p.blockShift;
    p.blockMargin = (p.blockMargin + blockStep - 1) / blockStep * blockStep;
    return plan;
}

// Bounded least-recently-used memo, safe to share between threads. Values are
// built outside the lock; if two threads build the same key, one result is kept.
template <class Key, class Value, class Same>
class Memo {
public:
    Memo(std::size_t maxEntries, std::size_t maxBytes) : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    std::shared_ptr<const Value> find(const Key& key) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (Same{}(it->key, key)) {
                entries_.splice(entries_.begin(), entries_, it);
                return entries_.front().value;
            }
        }
        return nullptr;
    }

    void put(const Key& key, std::shared_ptr<const Value> value, std::size_t bytes) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (Same{}(it->key, key)) {
                bytes_ -= it->bytes;
                entries_.erase(it);
                break;
            }
        }
        entries_.push_front({key, std::move(value), bytes});
        bytes_ += bytes;
        while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes_ > maxBytes_)) {
            bytes_ -= entries_.back().bytes;
            entries_.pop_back();
        }
    }

private:
    struct Entry {
        Key key;
        std::shared_ptr<const Value> value;
        std::size_t bytes;
    };
    std::mutex mutex_;
    std::list<Entry> entries_;
    std::size_t bytes_ = 0;
    std::size_t maxEntries_, maxBytes_;
};

struct SameParams {
    bool operator()(const CqtParams& a, const CqtParams& b) const { return sameScale(a, b); }
};

struct GridKey {
    CqtParams params;
    std::int64_t size;
    int bandBegin;
};
struct SameGrid {
    bool operator()(const GridKey& a, const GridKey& b) const {
        return a.size == b.size && a.bandBegin == b.bandBegin && sameScale(a.params, b.params);
    }
};

std::shared_ptr<Grid> sampleGains(const BandPlan& p, std::int64_t n, int bandBegin) {
    auto g = std::make_shared<Grid>();
    g->size = n;
    // The duals of the bands asked for also need the windows of the bands that
    // overlap theirs.
    g->bandBegin = std::max(0, bandBegin - static_cast<int>(std::ceil(2.0 * p.halfWidth)) - 1);
    g->bands.resize(p.bands.size());
    std::size_t total = 0;
    for (std::size_t b = static_cast<std::size_t>(g->bandBegin); b < p.bands.size(); ++b) {
        const BinRange r = binRange(p.bands[b], b + 1 == p.bands.size(), n);
        g->bands[b] = {r.first, r.bins, total};
        total += static_cast<std::size_t>(r.bins);
    }
    g->gain.resize(total);
    // Band-axis position of every bin the bandpass windows touch, computed once:
    // each bin lies under about 2 * halfWidth bands.
    std::int64_t maxBin = 0;
    for (int b = g->bandBegin; b < p.bandpass; ++b) {
        const GridBand& gb = g->bands[static_cast<std::size_t>(b)];
        maxBin = std::max(maxBin, gb.firstBin + gb.bins);
    }
    const double bpo = p.params.scale.bandsPerOctave;
    const double offset = bpo * std::log2(static_cast<double>(n) * p.params.scale.refFreq);
    std::vector<double> position(static_cast<std::size_t>(maxBin));
    for (std::int64_t f = 1; f < maxBin; ++f)
        position[static_cast<std::size_t>(f)] = bpo * std::log2(static_cast<double>(f)) - offset;
    for (int b = g->bandBegin; b < p.bandpass; ++b) {
        const GridBand& gb = g->bands[static_cast<std::size_t>(b)];
        const double centre = p.bands[static_cast<std::size_t>(b)].position;
        float* out = g->gain.data() + gb.offset;
        for (std::int64_t i = 0; i < gb.bins; ++i)
            out[i] = static_cast<float>(p.window(position[static_cast<std::size_t>(gb.firstBin + i)] - centre));
    }
    const GridBand& lp = g->bands.back();
    for (std::int64_t f = 0; f < lp.bins; ++f)
        g->gain[lp.offset + static_cast<std::size_t>(f)] =
            static_cast<float>(p.gain(p.bandpass, static_cast<double>(f) / static_cast<double>(n)));
    return g;
}

void computeDual(const BandPlan& p, Grid& g) {
    const std::int64_t n = g.size;
    const std::int64_t half = n / 2;
    std::vector<double> frame(static_cast<std::size_t>(half) + 1, 0.0);
    for (int b = g.bandBegin; b < p.bandpass; ++b) {
        const GridBand& gb = g.bands[static_cast<std::size_t>(b)];
        const float* gain = g.gain.data() + gb.offset;
        for (std::int64_t i = 0; i < gb.bins; ++i) {
            const std::int64_t f = gb.firstBin + i;
            const double w = static_cast<double>(gain[i]) * gain[i];
            // Both mirror images of a real signal's spectrum meet at the Nyquist bin.
            if (f < half)
                frame[static_cast<std::size_t>(f)] += w;
            else if (f > half)
                frame[static_cast<std::size_t>(n - f)] += w;
            else
                frame[static_cast<std::size_t>(f)] += 2.0 * w;
        }
    }
    const GridBand& lp = g.bands.back();
    for (std::int64_t f = 0; f < lp.bins; ++f) {
        const double gain = g.gain[lp.offset + static_cast<std::size_t>(f)];
        frame[static_cast<std::size_t>(f)] += gain * gain;
    }
    g.dual.resize(frame.size());
    for (std::size_t f = 0; f < frame.size(); ++f) {
        // Zero only above the bands sampled here, where no dual is read.
        if (!(frame[f] > 0.0) && g.bandBegin == 0)
            throw Error("cqt: internal error: the frame does not cover every frequency");
        g.dual[f] = frame[f] > 0.0 ? 1.0 / (static_cast<double>(n) * frame[f]) : 0.0;
    }
}

}  // namespace

bool sameScale(const CqtParams& a, const CqtParams& b) {
    return a.scale.bandsPerOctave == b.scale.bandsPerOctave && a.scale.minFreq == b.scale.minFreq &&
           a.scale.refFreq == b.scale.refFreq && a.overlap == b.overlap && a.maxError == b.maxError;
}

double BandPlan::gain(int band, double nu) const {
    const double bpo = params.scale.bandsPerOctave;
    const BandInfo& info = bands[static_cast<std::size_t>(band)];
    if (band == bandpass) {
        // The energy of the virtual bands at and below the lowpass position;
        // level from 0 Hz up to where they start to drop out.
        nu = std::abs(nu);
        const double pos = nu > 0.0 ? bpo * std::log2(nu / params.scale.refFreq) : -HUGE_VAL;
        if (pos <= info.position - halfWidth) return std::sqrt(window.energySum());
        double sum = 0.0;
        for (double k = std::ceil(pos - halfWidth); k <= info.position; ++k) {
            const double w = window(pos - k);
            sum += w * w;
        }
        return std::sqrt(sum);
    }
    if (!(nu > 0.0)) return 0.0;
    return window(bpo * std::log2(nu / params.scale.refFreq) - info.position);
}

double BandPlan::windowEnergy(double nu) const {
    nu -= std::floor(nu);
    if (nu > 0.5) nu = 1.0 - nu;
    const double lpGain = gain(bandpass, nu);
    double sum = lpGain * lpGain;
    if (nu <= 0.0) return sum;
    const double bpo = params.scale.bandsPerOctave;
    for (const double v : {nu, 1.0 - nu}) {
        const double pos = bpo * std::log2(v / params.scale.refFreq);
        const int bFirst = std::max(0, static_cast<int>(std::ceil(topPosition - pos - halfWidth)));
        const int bLast = std::min(bandpass - 1, static_cast<int>(std::floor(topPosition - pos + halfWidth)));
        for (int b = bFirst; b <= bLast; ++b) {
            const double g = window(pos - bands[static_cast<std::size_t>(b)].position);
            sum += g * g;
        }
    }
    return sum;
}

bool BandPlan::fits(std::int64_t size, int bandBegin, int bandEnd) const {
    for (int b = bandBegin; b < bandEnd; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        const bool lowpass = b == bandpass;
        const std::int64_t m = size >> bands[bi].shift;
        const BinRange r = binRange(bands[bi], lowpass, size);
        const std::int64_t occupied = lowpass ? (2 * (r.bins - 1) >= size ? size : 2 * r.bins - 1) : r.bins;
        if (occupied > m) return false;
    }
    return true;
}

std::int64_t BandPlan::frameSize(std::int64_t minSize, bool coarse, int bandBegin) const {
    const int bandEnd = static_cast<int>(bands.size());
    int shift = 0;
    for (int b = bandBegin; b < bandEnd; ++b) shift = std::max(shift, bands[static_cast<std::size_t>(b)].shift);
    const std::int64_t step = std::int64_t{1} << shift;
    std::int64_t m = std::max<std::int64_t>(1, (minSize + step - 1) / step);
    for (;; ++m) {
        if (coarse ? !isCoarse(m) : !isSmooth(m)) continue;
        const std::int64_t n = m * step;
        if (n % 2 != 0) continue;
        if (fits(n, bandBegin, bandEnd)) return n;
    }
}

std::shared_ptr<const BandPlan> bandPlan(const CqtParams& params) {
    static Memo<CqtParams, BandPlan, SameParams> memo(16, ~std::size_t{0});
    if (auto p = memo.find(params)) return p;
    auto p = buildPlan(params);
    memo.put(params, p, 0);
    return p;
}

std::shared_ptr<const Grid> grid(const std::shared_ptr<const BandPlan>& plan, std::int64_t size, int bandBegin,
                                 bool withDual) {
    static Memo<GridKey, Grid, SameGrid> memo(12, std::size_t{256} << 20);
    const GridKey key{plan->params, size, bandBegin};
    auto cached = memo.find(key);
    if (cached && (!withDual || !cached->dual.empty())) return cached;
    std::shared_ptr<Grid> g;
    if (cached) {
        g = std::make_shared<Grid>(*cached);
    } else {
        g = sampleGains(*plan, size, bandBegin);
    }
    if (withDual) computeDual(*plan, *g);
    memo.put(key, g, g->bytes());
    return g;
}

}  // namespace quorvalen::cqt::detail
