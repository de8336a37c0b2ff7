#include "cqt/cqt.h"

#include "cqt/fft.h"
#include "cqt/plan.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::cqt {

using detail::allocComplex;
using detail::allocReal;
using detail::BandPlan;
using detail::FftPlan;
using detail::Grid;
using detail::GridBand;
using cd = std::complex<double>;

namespace {

// Which stored coefficients of each band a frame takes: indices [begin, end).
using Selection = std::vector<detail::IndexRange>;

// Runs the bands of a frame of grid.size samples whose index 0 is at absolute
// time `origin` (a multiple of every band's step).
struct Frame {
    const BandPlan& plan;
    const Grid& grid;
    std::int64_t origin;

    std::int64_t n() const { return grid.size; }
    std::int64_t gridOffset(int band) const {
        // Grid index of coefficient 0 (absolute time 0).
        return -(origin >> plan.bands[static_cast<std::size_t>(band)].shift);
    }
};

void analyzeFrame(const Frame& fr, const double* signalFrame, CoefStore& store,
                  const std::vector<std::int64_t>& first) {
    const std::int64_t n = fr.n();
    const std::int64_t half = n / 2;
    auto spectrum = allocComplex(static_cast<std::size_t>(half) + 1);
    {
        auto in = allocReal(static_cast<std::size_t>(n));
        std::copy(signalFrame, signalFrame + n, in.get());
        FftPlan::get(FftPlan::Kind::RealToComplex, static_cast<std::size_t>(n))->run(in.get(), spectrum.get());
    }
    const cd* x = spectrum.get();
    const int bands = static_cast<int>(fr.plan.bands.size());
    auto tmp = allocComplex(static_cast<std::size_t>(n));
    for (int b = 0; b < bands; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        const bool lowpass = b == fr.plan.bandpass;
        const int shift = fr.plan.bands[bi].shift;
        const std::int64_t m = n >> shift;
        const GridBand& gb = fr.grid.bands[bi];
        const float* gain = fr.grid.gain.data() + gb.offset;
        cd* t = tmp.get();
        std::fill(t, t + m, cd{});
        if (lowpass) {
            // A real band: both signs of frequency, so its coefficients are real.
            const double scale = 1.0 / static_cast<double>(n);
            for (std::int64_t f = 0; f < gb.bins; ++f) {
                const cd v = x[f] * (gain[f] * scale);
                t[f % m] += v;
                if (f != 0 && 2 * f != n) t[(m - f % m) % m] += std::conj(v);
            }
        } else {
            // The analytic band-pass output: positive frequencies doubled. Bins
            // past the Nyquist frequency read the mirror image.
            const double scale = 2.0 / static_cast<double>(n);
            std::int64_t idx = gb.firstBin % m;
            for (std::int64_t i = 0; i < gb.bins; ++i) {
                const std::int64_t f = gb.firstBin + i;
                const cd xv = f <= half ? x[f] : std::conj(x[n - f]);
                t[idx] = xv * (gain[i] * scale);
                if (++idx == m) idx = 0;
            }
        }
        FftPlan::get(FftPlan::Kind::Backward, static_cast<std::size_t>(m))->run(t);
        auto out = store.band(b);
        const std::int64_t j0 = first[bi] + fr.gridOffset(b);
        if (lowpass) {
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = {static_cast<float>(t[j0 + static_cast<std::int64_t>(i)].real()), 0.0f};
        } else {
            for (std::size_t i = 0; i < out.size(); ++i) {
                const cd v = t[j0 + static_cast<std::int64_t>(i)];
                out[i] = {static_cast<float>(v.real()), static_cast<float>(v.imag())};
            }
        }
    }
}

// Returns the frame's samples (grid.size of them, index 0 at fr.origin).
detail::FftwArray<double> synthesizeFrame(const Frame& fr, const CoefStore& store, const Selection& sel) {
    const std::int64_t n = fr.n();
    const std::int64_t half = n / 2;
    auto spectrum = allocComplex(static_cast<std::size_t>(half) + 1);
    cd* y = spectrum.get();
    std::fill(y, y + half + 1, cd{});
    const double* dual = fr.grid.dual.data();
    auto tmp = allocComplex(static_cast<std::size_t>(n));
    const int bands = static_cast<int>(fr.plan.bands.size());
    for (int b = 0; b < bands; ++b) {
        const auto bi = static_cast<std::size_t>(b);
        const detail::IndexRange r = sel[bi];
        if (r.end <= r.begin) continue;
        const bool lowpass = b == fr.plan.bandpass;
        const int shift = fr.plan.bands[bi].shift;
        const std::int64_t m = n >> shift;
        const GridBand& gb = fr.grid.bands[bi];
        const float* gain = fr.grid.gain.data() + gb.offset;
        cd* t = tmp.get();
        std::fill(t, t + m, cd{});
        const auto coefs = store.band(b);
        const std::int64_t first = store.firstIndex(b);
        const std::int64_t off = fr.gridOffset(b);
        for (std::int64_t k = r.begin; k < r.end; ++k) {
            const std::complex<float> c = coefs[static_cast<std::size_t>(k - first)];
            t[k + off] = lowpass ? cd{c.real(), 0.0} : cd{c.real(), c.imag()};
        }
        FftPlan::get(FftPlan::Kind::Forward, static_cast<std::size_t>(m))->run(t);
        if (lowpass) {
            for (std::int64_t f = 0; f < gb.bins; ++f) y[f] += t[f % m] * (gain[f] * dual[f]);
        } else {
            // Back to the real signal: half of each analytic component, mirrored
            // onto positive frequencies past the Nyquist bin.
            std::int64_t idx = gb.firstBin % m;
            for (std::int64_t i = 0; i < gb.bins; ++i) {
                const std::int64_t f = gb.firstBin + i;
                const cd v = t[idx];
                if (++idx == m) idx = 0;
                if (f < half)
                    y[f] += v * (0.5 * gain[i] * dual[f]);
                else if (f > half)
                    y[n - f] += std::conj(v) * (0.5 * gain[i] * dual[n - f]);
                else
                    y[f] += v.real() * (gain[i] * dual[f]);
            }
        }
    }
    y[0].imag(0.0);
    y[half].imag(0.0);
    auto out = allocReal(static_cast<std::size_t>(n));
    FftPlan::get(FftPlan::Kind::ComplexToReal, static_cast<std::size_t>(n))->run(y, out.get());
    return out;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

Analyzer::Analyzer(const CqtParams& params) : params_(params), plan_(detail::bandPlan(params)) {}

int Analyzer::bandCount() const noexcept { return plan_->bandpass; }

namespace {
const detail::BandInfo& bandInfo(const BandPlan& plan, int band) {
    if (band < 0 || band > plan.bandpass) throw Error("cqt: band number out of range");
    return plan.bands[static_cast<std::size_t>(band)];
}
}  // namespace

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
    const std::int64_t n = plan.frameSize(length + 2 * plan.padding, false);
    const auto g = detail::grid(plan_, n, false);
    auto frame = allocReal(static_cast<std::size_t>(n));
    std::fill(frame.get(), frame.get() + n, 0.0);
    double* x = frame.get() + plan.padding;
    for (std::int64_t i = 0; i < length; ++i) {
        const float v = signal[static_cast<std::size_t>(i)];
        x[i] = std::isfinite(v) ? v : 0.0;
    }
    analyzeFrame(Frame{plan, *g, -plan.padding}, frame.get(), out, out.first_);
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
    const std::int64_t step = std::int64_t{1} << plan.maxShift;
    const std::int64_t fullSize = plan.frameSize(length + 2 * plan.padding, false);
    // A short range runs on a frame of its own, around it, with every
    // coefficient whose atom reaches into it, so that its cost follows the range
    // rather than the whole signal.
    const std::int64_t localSize = plan.frameSize(len + 2 * reach + step, true);
    const bool fullCovers = t0 >= -plan.padding && t1 <= fullSize - plan.padding;
    const bool useFull = fullCovers && 4 * localSize >= 3 * fullSize;
    const std::int64_t origin = useFull ? -plan.padding : floorDiv(t0 - reach, step) * step;
    const std::int64_t size = useFull ? fullSize : localSize;

    Selection sel(plan.bands.size());
    for (std::size_t b = 0; b < plan.bands.size(); ++b) {
        const auto count = coefs.band(static_cast<int>(b)).size();
        const std::int64_t first = coefs.first_[b];
        if (useFull) {
            sel[b] = {first, first + static_cast<std::int64_t>(count)};
        } else {
            const std::int64_t r = plan.bands[b].reach;
            sel[b] = detail::indexRange(first, count, plan.bands[b].shift, t0 - r, t1 + r);
        }
    }
    const auto g = detail::grid(plan_, size, true);
    const auto samples = synthesizeFrame(Frame{plan, *g, origin}, coefs, sel);
    const double* s = samples.get() + (t0 - origin);
    for (std::int64_t i = 0; i < len; ++i) out[static_cast<std::size_t>(i)] = static_cast<float>(s[i]);
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
    data_.assign(offset_.back(), std::complex<float>{});
}

}  // namespace quorvalen::cqt
