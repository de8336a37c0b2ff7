#include "cqt/cqt.h"

#include "cqt/fft.h"
#include "cqt/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace quorvalen::cqt {

using detail::allocComplex;
using detail::BandPlan;
using detail::FftKind;
using detail::FftPlan;
using detail::Grid;
using detail::GridBand;
using detail::IndexRange;
using cf = std::complex<float>;

namespace {

// Per band, which stored coefficients a frame reads or writes: indices [begin, end).
using Selection = std::vector<IndexRange>;

// Precision of the blocked frames' own transforms. The band transforms are in
// single precision everywhere: their results are stored as floats anyway, and
// they are most of the work. Frames over the whole signal stay in double, whose
// transform sums millions of samples into every bin.
using BlockReal = float;

// Work arrays for frames of `size` samples whose smallest step is 2^minShift,
// reused from frame to frame; Real is the precision of the frame's transform.
// Frames over the whole signal transform out of place: at millions of samples
// FFTW is markedly faster so.
template <class Real>
struct Scratch {
    Scratch(std::int64_t size, int minShift, bool inPlace)
        : n(size),
          spectrum(allocComplex<Real>(static_cast<std::size_t>(size / 2 + 1))),
          separate(inPlace ? nullptr : detail::allocReal<Real>(static_cast<std::size_t>(size))),
          band(allocComplex<float>(static_cast<std::size_t>(size >> minShift))),
          bandOut(allocComplex<float>(static_cast<std::size_t>(size >> minShift))) {}
    Real* samples() const { return separate ? separate.get() : reinterpret_cast<Real*>(spectrum.get()); }
    void toSpectrum() {
        const auto plan = FftPlan<Real>::get(FftKind::RealToComplex, static_cast<std::size_t>(n), !separate);
        if (separate)
            plan->run(separate.get(), spectrum.get());
        else
            plan->run(spectrum.get());
    }
    void toSamples() {
        const auto plan = FftPlan<Real>::get(FftKind::ComplexToReal, static_cast<std::size_t>(n), !separate);
        if (separate)
            plan->run(separate.get(), spectrum.get());
        else
            plan->run(spectrum.get());
    }
    std::int64_t n;
    // The frame's spectrum; in place, it holds the samples before the transform.
    detail::FftwArray<std::complex<Real>> spectrum;
    detail::FftwArray<Real> separate;  // the samples, out of place
    detail::FftwArray<cf> band;     // analysis: a band's spectrum; synthesis: its coefficients, then spectrum
    detail::FftwArray<cf> bandOut;  // the analysis's band coefficients
};

// The bands [bandBegin, bandEnd) on a frame of grid.size samples whose index 0
// is at absolute time `origin`, a multiple of each of their steps.
struct Frame {
    const BandPlan& plan;
    const Grid& grid;
    std::int64_t origin;
    int bandBegin, bandEnd;
};

// Frame samples: the signal where it exists, zeros elsewhere.
template <class Real>
void loadFrame(std::span<const float> signal, std::int64_t origin, std::int64_t n, Real* out) {
    const auto length = static_cast<std::int64_t>(signal.size());
    const std::int64_t b = std::clamp<std::int64_t>(-origin, 0, n);
    const std::int64_t e = std::clamp<std::int64_t>(length - origin, b, n);
    std::fill(out, out + b, Real{});
    for (std::int64_t i = b; i < e; ++i) {
        const float v = signal[static_cast<std::size_t>(origin + i)];
        out[i] = std::isfinite(v) ? v : Real{};
    }
    std::fill(out + e, out + n, Real{});
}

// Splits the bins [first, first + count) of a band's window into runs that are
// contiguous on its grid of m points (f mod m) and lie wholly below, at or above
// the Nyquist bin `half`: fn(firstBin, gridIndex, length, offsetInWindow).
template <class Fn>
void forRuns(std::int64_t first, std::int64_t count, std::int64_t m, std::int64_t half, Fn&& fn) {
    const std::int64_t end = first + count;
    for (std::int64_t f = first; f < end;) {
        const std::int64_t idx = f % m;
        std::int64_t next = std::min(end, f + (m - idx));
        if (f < half)
            next = std::min(next, half);
        else if (f == half)
            next = half + 1;
        fn(f, idx, next - f, f - first);
        f = next;
    }
}

// Zeroes the points of a grid of m that a window of `bins` bins starting at
// grid index `idx` leaves untouched.
void clearOutside(cf* t, std::int64_t m, std::int64_t idx, std::int64_t bins) {
    if (bins >= m) return;
    const std::int64_t endIdx = (idx + bins) % m;
    if (endIdx > idx) {
        std::fill(t, t + idx, cf{});
        std::fill(t + endIdx, t + m, cf{});
    } else {
        std::fill(t + endIdx, t + idx, cf{});
    }
}

template <class Real>
cf toFloat(std::complex<Real> v) {
    return {static_cast<float>(v.real()), static_cast<float>(v.imag())};
}

// Analyses s.samples() (the frame) into the selected coefficients.
template <class Real>
void analyzeFrame(const Frame& fr, const Selection& sel, CoefStore& store, Scratch<Real>& s) {
    using C = std::complex<Real>;
    const std::int64_t n = fr.grid.size;
    const std::int64_t half = n / 2;
    s.toSpectrum();
    const C* x = s.spectrum.get();
    for (int b = fr.bandBegin; b < fr.bandEnd; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        const IndexRange r = sel[bi];
        if (r.end <= r.begin) continue;
        const bool lowpass = b == fr.plan.bandpass;
        const int shift = fr.plan.bands[bi].shift;
        const std::int64_t m = n >> shift;
        const GridBand& gb = fr.grid.bands[bi];
        const float* gain = fr.grid.gain.data() + gb.offset;
        cf* t = s.band.get();
        if (lowpass) {
            std::fill(t, t + m, cf{});
            // A real band: both signs of frequency, so its coefficients are real.
            const Real scale = Real{1} / static_cast<Real>(n);
            for (std::int64_t f = 0; f < gb.bins; ++f) {
                const cf v = toFloat(x[f] * (gain[f] * scale));
                t[f % m] += v;
                if (f != 0 && 2 * f != n) t[(m - f % m) % m] += std::conj(v);
            }
        } else {
            // The analytic band-pass output: positive frequencies doubled. Bins
            // past the Nyquist frequency read the mirror image.
            const Real scale = Real{2} / static_cast<Real>(n);
            clearOutside(t, m, gb.firstBin % m, gb.bins);
            forRuns(gb.firstBin, gb.bins, m, half, [&](std::int64_t f0, std::int64_t idx, std::int64_t len, std::int64_t i0) {
                const float* g = gain + i0;
                cf* dst = t + idx;
                if (f0 <= half) {
                    const C* src = x + f0;
                    for (std::int64_t i = 0; i < len; ++i) dst[i] = toFloat(src[i] * (g[i] * scale));
                } else {
                    const C* src = x + (n - f0);
                    for (std::int64_t i = 0; i < len; ++i) dst[i] = toFloat(std::conj(src[-i]) * (g[i] * scale));
                }
            });
        }
        FftPlan<float>::get(FftKind::Backward, static_cast<std::size_t>(m), false)->run(t, s.bandOut.get());
        cf* out = store.band(b).data() - store.firstIndex(b) + r.begin;
        const cf* src = s.bandOut.get() + (r.begin - (fr.origin >> shift));
        const std::int64_t count = r.end - r.begin;
        std::copy(src, src + count, out);
        if (lowpass)
            for (std::int64_t k = 0; k < count; ++k) out[k].imag(0.0f);
    }
}

// Synthesises the selected coefficients into s.samples() (the frame).
template <class Real>
void synthesizeFrame(const Frame& fr, const Selection& sel, const CoefStore& store, Scratch<Real>& s) {
    using C = std::complex<Real>;
    const std::int64_t n = fr.grid.size;
    const std::int64_t half = n / 2;
    C* y = s.spectrum.get();
    std::fill(y, y + half + 1, C{});
    const double* dual = fr.grid.dual.data();
    for (int b = fr.bandBegin; b < fr.bandEnd; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        const IndexRange r = sel[bi];
        if (r.end <= r.begin) continue;
        const bool lowpass = b == fr.plan.bandpass;
        const int shift = fr.plan.bands[bi].shift;
        const std::int64_t m = n >> shift;
        const GridBand& gb = fr.grid.bands[bi];
        const float* gain = fr.grid.gain.data() + gb.offset;
        cf* t = s.band.get();
        const std::int64_t begin = r.begin - (fr.origin >> shift);
        const std::int64_t count = r.end - r.begin;
        std::fill(t, t + begin, cf{});
        std::fill(t + begin + count, t + m, cf{});
        const cf* in = store.band(b).data() - store.firstIndex(b) + r.begin;
        std::copy(in, in + count, t + begin);
        if (lowpass)
            for (std::int64_t k = 0; k < count; ++k) t[begin + k].imag(0.0f);
        FftPlan<float>::get(FftKind::Forward, static_cast<std::size_t>(m))->run(t);
        const double step = std::ldexp(1.0, shift);
        if (lowpass) {
            for (std::int64_t f = 0; f < gb.bins; ++f)
                y[f] += C(t[f % m]) * static_cast<Real>(step * gain[f] * dual[f]);
            continue;
        }
        // Back to the real signal: half of each analytic component, mirrored
        // onto positive frequencies past the Nyquist bin.
        const double h = 0.5 * step;
        forRuns(gb.firstBin, gb.bins, m, half, [&](std::int64_t f0, std::int64_t idx, std::int64_t len, std::int64_t i0) {
            const float* g = gain + i0;
            const cf* src = t + idx;
            if (f0 < half) {
                C* dst = y + f0;
                const double* d = dual + f0;
                for (std::int64_t i = 0; i < len; ++i) dst[i] += C(src[i]) * static_cast<Real>(h * g[i] * d[i]);
            } else if (f0 > half) {
                C* dst = y + (n - f0);
                const double* d = dual + (n - f0);
                for (std::int64_t i = 0; i < len; ++i)
                    dst[-i] += C(std::conj(src[i])) * static_cast<Real>(h * g[i] * d[-i]);
            } else {
                y[half] += static_cast<Real>(src[0].real() * (step * g[0] * dual[half]));
            }
        });
    }
    y[0].imag(0.0);
    y[half].imag(0.0);
    s.toSamples();
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int minShift(const BandPlan& plan, int b0, int b1) {
    int shift = 64;
    for (int b = b0; b < b1; ++b) shift = std::min(shift, plan.bands[static_cast<std::size_t>(b)].shift);
    return shift;
}

const detail::BandInfo& bandInfo(const BandPlan& plan, int band) {
    if (band < 0 || band > plan.bandpass) throw Error("cqt: band number out of range");
    return plan.bands[static_cast<std::size_t>(band)];
}

// Selection of every coefficient of the bands [b0, b1) whose time lies in
// [t0 - reach, t1 + reach), reach being the band's `reachOf`.
template <class ReachOf>
Selection around(const CoefStore& store, const BandPlan& plan, int b0, int b1, std::int64_t t0, std::int64_t t1,
                 ReachOf reachOf) {
    Selection sel(plan.bands.size(), IndexRange{0, 0});
    for (int b = b0; b < b1; ++b) {
        const auto& info = plan.bands[static_cast<std::size_t>(b)];
        const std::int64_t r = reachOf(info);
        sel[static_cast<std::size_t>(b)] =
            detail::indexRange(store.firstIndex(b), store.band(b).size(), info.shift, t0 - r, t1 + r);
    }
    return sel;
}

}  // namespace

Analyzer::Analyzer(const CqtParams& params) : params_(params), plan_(detail::bandPlan(params)) {}

int Analyzer::bandCount() const noexcept { return plan_->bandpass; }

double Analyzer::bandCentre(int band) const { return bandInfo(*plan_, band).centre; }

int Analyzer::bandTimeShift(int band) const { return bandInfo(*plan_, band).shift; }

double Analyzer::bandSupport(int band, double factor) const {
    return static_cast<double>(bandInfo(*plan_, band).support) * factor;
}

void Analyzer::analyze(std::span<const float> signal, CoefStore& out) const {
    if (!detail::sameScale(out.plan_->params, plan_->params))
        throw Error("cqt: the store belongs to an analyzer with other parameters");
    const auto length = static_cast<std::int64_t>(signal.size());
    out.layout(length);
    if (length == 0) return;
    const BandPlan& plan = *plan_;
    const int split = plan.blockedBands;
    const int bands = static_cast<int>(plan.bands.size());
    const auto all = [&](int b0, int b1) {
        return around(out, plan, b0, b1, std::numeric_limits<std::int64_t>::min() / 4,
                      std::numeric_limits<std::int64_t>::max() / 4, [](const detail::BandInfo&) { return 0; });
    };
    {
        // The long-atom bands: one frame over the padded signal.
        const std::int64_t n = plan.frameSize(length + 2 * plan.padding, false, split);
        const auto g = detail::grid(plan_, n, split, false);
        Scratch<double> s(n, minShift(plan, split, bands), false);
        loadFrame(signal, -plan.padding, n, s.samples());
        analyzeFrame(Frame{plan, *g, -plan.padding, split, bands}, all(split, bands), out, s);
    }
    if (split == 0) return;
    // The short-atom bands, block by block: each block keeps the coefficients in
    // its middle, whose atoms lie within the block's margins.
    const std::int64_t n = plan.blockSize;
    const std::int64_t keep = n - 2 * plan.blockMargin;
    const auto g = detail::grid(plan_, n, 0, false);
    Scratch<BlockReal> s(n, minShift(plan, 0, split), true);
    std::int64_t lo = 0, hi = 0;
    for (int b = 0; b < split; ++b) {
        const int shift = plan.bands[static_cast<std::size_t>(b)].shift;
        lo = std::min(lo, out.firstIndex(b) * (std::int64_t{1} << shift));
        hi = std::max(hi, (out.firstIndex(b) + static_cast<std::int64_t>(out.band(b).size())) * (std::int64_t{1} << shift));
    }
    const std::int64_t step = std::int64_t{1} << plan.blockShift;
    for (std::int64_t t = floorDiv(lo, step) * step; t < hi; t += keep) {
        const std::int64_t origin = t - plan.blockMargin;
        loadFrame(signal, origin, n, s.samples());
        const auto sel = around(out, plan, 0, split, t, t + keep, [](const detail::BandInfo&) { return 0; });
        analyzeFrame(Frame{plan, *g, origin, 0, split}, sel, out, s);
    }
}

void Analyzer::synthesize(const CoefStore& coefs, std::int64_t t0, std::span<float> out) const {
    if (!params_.resynthesis) throw Error("cqt: this analyzer was built for analysis only");
    if (!detail::sameScale(coefs.plan_->params, plan_->params))
        throw Error("cqt: the store belongs to an analyzer with other parameters");
    if (out.empty()) return;
    const BandPlan& plan = *plan_;
    const std::int64_t length = coefs.length_;
    const auto len = static_cast<std::int64_t>(out.size());
    const std::int64_t t1 = t0 + len;
    const std::int64_t reach = plan.maxReach;
    // Nothing reaches this far from the stored coefficients.
    if (length == 0 || t1 <= -2 * reach || t0 >= length + 2 * reach) {
        std::fill(out.begin(), out.end(), 0.0f);
        return;
    }
    const int split = plan.blockedBands;
    const int bands = static_cast<int>(plan.bands.size());
    const std::int64_t maxStep = std::int64_t{1} << plan.maxShift;
    const std::int64_t fullSize = plan.frameSize(length + 2 * plan.padding, false, split);
    // A short range runs on a frame of its own, around it, with every
    // coefficient whose atom reaches into it, so that its cost follows the range
    // rather than the whole signal.
    const std::int64_t localSize = plan.frameSize(len + 2 * reach + maxStep, true);
    const bool fullCovers = t0 >= -plan.padding && t1 <= fullSize - plan.padding;
    if (!fullCovers || 4 * localSize < 3 * fullSize) {
        const std::int64_t origin = floorDiv(t0 - reach, maxStep) * maxStep;
        const auto g = detail::grid(plan_, localSize, 0, true);
        Scratch<double> s(localSize, minShift(plan, 0, bands), false);
        synthesizeFrame(Frame{plan, *g, origin, 0, bands},
                        around(coefs, plan, 0, bands, t0, t1, [](const detail::BandInfo& i) { return i.reach; }),
                        coefs, s);
        const double* y = s.samples() + (t0 - origin);
        for (std::int64_t i = 0; i < len; ++i) out[static_cast<std::size_t>(i)] = static_cast<float>(y[i]);
        return;
    }
    std::vector<double> acc(static_cast<std::size_t>(len));
    {
        const std::int64_t origin = -plan.padding;
        const auto g = detail::grid(plan_, fullSize, split, true);
        Scratch<double> s(fullSize, minShift(plan, split, bands), false);
        synthesizeFrame(Frame{plan, *g, origin, split, bands},
                        around(coefs, plan, split, bands, std::numeric_limits<std::int64_t>::min() / 4,
                               std::numeric_limits<std::int64_t>::max() / 4, [](const detail::BandInfo&) { return 0; }),
                        coefs, s);
        std::copy(s.samples() + (t0 - origin), s.samples() + (t1 - origin), acc.begin());
    }
    if (split > 0) {
        const std::int64_t n = plan.blockSize;
        const std::int64_t keep = n - 2 * plan.blockMargin;
        const std::int64_t step = std::int64_t{1} << plan.blockShift;
        const auto g = detail::grid(plan_, n, 0, true);
        Scratch<BlockReal> s(n, minShift(plan, 0, split), true);
        for (std::int64_t t = floorDiv(t0, step) * step; t < t1; t += keep) {
            const std::int64_t origin = t - plan.blockMargin;
            synthesizeFrame(Frame{plan, *g, origin, 0, split},
                            around(coefs, plan, 0, split, t, t + keep,
                                   [](const detail::BandInfo& i) { return i.blockReach; }),
                            coefs, s);
            const std::int64_t b = std::max(t, t0), e = std::min(t + keep, t1);
            for (std::int64_t u = b; u < e; ++u) acc[static_cast<std::size_t>(u - t0)] += s.samples()[u - origin];
        }
    }
    for (std::int64_t i = 0; i < len; ++i) out[static_cast<std::size_t>(i)] = static_cast<float>(acc[static_cast<std::size_t>(i)]);
}

CoefStore::CoefStore(const Analyzer& analyzer) : plan_(analyzer.plan_) { layout(0); }

bool CoefStore::sameLayout(const CoefStore& other) const noexcept {
    return length_ == other.length_ && detail::sameScale(plan_->params, other.plan_->params);
}

void CoefStore::layout(std::int64_t length) {
    const BandPlan& plan = *plan_;
    const std::size_t bands = plan.bands.size();
    if (length == length_ && offset_.size() == bands + 1) return;
    length_ = length;
    shift_.resize(bands);
    first_.resize(bands);
    offset_.assign(bands + 1, 0);
    for (std::size_t b = 0; b < bands; ++b) {
        const int shift = plan.bands[b].shift;
        const std::int64_t reach = plan.bands[b].reach;
        shift_[b] = shift;
        // Every coefficient whose time lies within the band's reach of the signal.
        const std::int64_t first = length > 0 ? -(reach >> shift) : 0;
        const std::int64_t last = length > 0 ? (length - 1 + reach) >> shift : -1;
        first_[b] = first;
        offset_[b + 1] = offset_[b] + static_cast<std::size_t>(last - first + 1);
    }
    // Left uninitialised: analysis writes every coefficient.
    data_.reset(offset_.back());
}

void CoefStore::Buffer::reset(std::size_t size) {
    if (size == size_) return;
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    if (size == 0) return;
    const std::size_t bytes = size * sizeof(std::complex<float>);
    if (bytes >= detail::kHugeArrayBytes) {
        // Whole huge pages, so that all of it can have them.
        const std::size_t rounded = (bytes + detail::kHugePageBytes - 1) / detail::kHugePageBytes * detail::kHugePageBytes;
        data_ = static_cast<std::complex<float>*>(std::aligned_alloc(detail::kHugePageBytes, rounded));
        if (!data_) throw std::bad_alloc();
        detail::adviseHugePages(data_, rounded);
    } else {
        data_ = static_cast<std::complex<float>*>(std::malloc(bytes));
        if (!data_) throw std::bad_alloc();
    }
    size_ = size;
}

CoefStore::Buffer::Buffer(const Buffer& other) {
    reset(other.size_);
    if (size_) std::memcpy(data_, other.data_, size_ * sizeof(std::complex<float>));
}

CoefStore::Buffer& CoefStore::Buffer::operator=(const Buffer& other) {
    if (this != &other) {
        reset(other.size_);
        if (size_) std::memcpy(data_, other.data_, size_ * sizeof(std::complex<float>));
    }
    return *this;
}

CoefStore::Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

CoefStore::Buffer& CoefStore::Buffer::operator=(Buffer&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

CoefStore::Buffer::~Buffer() { std::free(data_); }

}  // namespace quorvalen::cqt
