// Constant-Q analysis and resynthesis on a logarithmic frequency scale.
//
// Frequencies are fractions of the sample rate and times are sample indices, so
// nothing here needs to know the rate itself. Bands are numbered from 0 at the
// highest centre frequency downward, each one band step below the previous; the
// bandCount() bandpass bands are followed by one lowpass band (number
// bandCount()) that covers what lies below the lowest bandpass band.
//
// Band b keeps its coefficients at the absolute times n * 2^bandTimeShift(b)
// (n may be negative): a store holds every coefficient of a band whose time lies
// within that band's reach of the analysed signal, on both sides. Coefficient
// values are the band's analytic band-pass output at those times, so a sinusoid
// of amplitude a at a band's centre reads |c| = a in that band.
//
// An Analyzer is immutable and may be shared between threads; a CoefStore is
// not synchronised. Every refusal (bad parameters, a scale too fine for the
// size cap, misuse) throws cqt::Error; memory exhaustion throws std::bad_alloc.
#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace quorvalen::cqt
{

class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Centres are refFreq * 2^(k / bandsPerOctave) for whole k, from minFreq up to
// the Nyquist frequency (0.5) inclusive.
struct LogScale
{
    int bandsPerOctave = 48;
    double minFreq = 0.0; // fraction of the sample rate
    double refFreq = 0.0; // fraction of the sample rate
};

struct CqtParams
{
    LogScale scale;
    // Width of the bands, in the usual constant-Q sense: a band's window is
    // Gaussian-shaped with a standard deviation of overlap * (2^(1/bpo) - 1) times
    // its centre frequency, sigma = overlap * (2^(1/bpo) - 1) * bpo / ln 2 bands
    // on the log-frequency axis. A band answers its neighbour's centre with
    // exp(-1 / (2 sigma^2)): 0.366 at overlap 0.7, 0.506 at 0.85 (48 per octave).
    double overlap = 0.7;
    // Windows are cut where they fall below this; it also sets what a band's
    // support bounds (see Analyzer::bandSupport).
    double maxError = 1e-5;
    // False for analysis-only use: the synthesis windows are then never built and
    // synthesize() throws. Analysis results are the same either way.
    bool resynthesis = true;
};

namespace detail
{
struct BandPlan;
struct WorkState;
} // namespace detail

class CoefStore;

// Coefficient times [begin, end) of one band, in samples.
struct TimeSpan
{
    std::int64_t begin = 0, end = 0;
};

// Scratch space of analysis and synthesis: about 1.3 MB for the engine's
// scales, whatever the signal's length. Calls without one use a
// temporary; a caller that analyses or synthesises again and again (an editor
// session) keeps one, with its store, so that neither is allocated anew. Not
// synchronised: one per thread.
class Workspace
{
public:
    Workspace();
    ~Workspace();
    Workspace (Workspace&&) noexcept;
    Workspace& operator= (Workspace&&) noexcept;
    // Bytes held now.
    std::size_t bytes() const noexcept;

private:
    friend class Analyzer;
    std::unique_ptr<detail::WorkState> state_;
};

class Analyzer
{
public:
    // Throws Error for invalid parameters or a scale whose windows would exceed
    // the size cap (a sample rate far beyond audio rates for the given minFreq).
    explicit Analyzer (const CqtParams& params);

    const CqtParams& params() const noexcept { return params_; }

    // Number of bandpass bands B (0 when none fits below the Nyquist frequency).
    int bandCount() const noexcept;
    // The lowpass band's number, B.
    int lowpassBand() const noexcept { return bandCount(); }

    // Centre frequency of a band as a fraction of the sample rate; 0 for the
    // lowpass band. Bands 0..B; anything else throws Error.
    double bandCentre (int band) const;
    // log2 of the time step, in samples, between two coefficients of a band.
    int bandTimeShift (int band) const;
    // Time support of a band in samples, times factor. It is a bound, measured
    // on the band's atoms: changing a coefficient of the band at time t changes a
    // synthesis outside [t - support, t + support] by less than maxError times
    // the change's own peak.
    double bandSupport (int band, double factor = 1.0) const;

    // Analyses signal (sample i at time i) into out, replacing its contents.
    // Non-finite samples count as 0. out must have been made for an analyzer
    // with the same parameters (else Error).
    void analyze (std::span<const float> signal, CoefStore& out) const;
    void analyze (std::span<const float> signal, CoefStore& out, Workspace& work) const;
    // Analyses only part of signal: band b's coefficients at times in
    // bandTimes[b] (clipped to what a whole analysis holds; bands past the
    // span's end hold none). out then holds just those, with the values a
    // whole analysis gives them, bit for bit, at the cost of the blocks they
    // depend on: an edit of a few coefficients analyses seconds, not the sound,
    // and parts far apart cost each their own blocks, not those between them.
    void analyze (std::span<const float> signal, std::span<const TimeSpan> bandTimes, CoefStore& out,
                  Workspace& work) const;
    // The samples [begin, end) of a signal of length samples that the analysis
    // of these parts reads (empty when it reads none): a caller that copies a
    // signal out may copy just those.
    TimeSpan analysisInput (std::int64_t length, std::span<const TimeSpan> bandTimes) const;
    // The same parts analysis of a signal of length samples of which window
    // holds samples [windowStart, windowStart + window.size()): bit for bit
    // the analysis of the whole signal. The window must hold
    // analysisInput (length, bandTimes) (else Error).
    void analyze (std::span<const float> window, std::int64_t windowStart, std::int64_t length,
                  std::span<const TimeSpan> bandTimes, CoefStore& out, Workspace& work) const;

    // Writes to out[i] the synthesis of coefs at time t0 + i, for every i: the
    // same samples a synthesis of the whole signal would give there, with the
    // contribution of coefficients outside the range. out is overwritten.
    // Throws Error when the analyzer was built without resynthesis.
    void synthesize (const CoefStore& coefs, std::int64_t t0, std::span<float> out) const;
    void synthesize (const CoefStore& coefs, std::int64_t t0, std::span<float> out, Workspace& work) const;

private:
    friend class CoefStore;
    void analyzeInto (std::span<const float> signal, std::int64_t signalStart, std::int64_t length,
                      const std::span<const TimeSpan>* bandTimes, CoefStore& out, Workspace& work) const;
    CqtParams params_;
    std::shared_ptr<const detail::BandPlan> plan_;
};

// The coefficients of one signal (one channel), laid out per band. Analysing
// into a store again reuses its memory when the new signal needs no more and
// at least half of it.
class CoefStore
{
public:
    explicit CoefStore (const Analyzer& analyzer);

    // Bands held: the bandpass bands and the lowpass band, B + 1.
    int bands() const noexcept { return static_cast<int> (first_.size()); }
    // Length of the analysed signal in samples; 0 before any analysis.
    std::int64_t signalLength() const noexcept { return length_; }
    int timeShift (int band) const { return shift_.at (static_cast<std::size_t> (band)); }
    // Element i of band(b) is the coefficient at time (firstIndex(b) + i) << timeShift(b).
    std::int64_t firstIndex (int band) const { return first_.at (static_cast<std::size_t> (band)); }
    std::span<std::complex<float>> band (int band)
    {
        const auto b = static_cast<std::size_t> (band);
        return { data_.data() + offset_.at (b), offset_.at (b + 1) - offset_[b] };
    }
    std::span<const std::complex<float>> band (int band) const
    {
        const auto b = static_cast<std::size_t> (band);
        return { data_.data() + offset_.at (b), offset_.at (b + 1) - offset_[b] };
    }
    // True when both hold the same coefficient positions (same scale and
    // parameters, same signal length and parts), as two-store visits require.
    bool sameLayout (const CoefStore& other) const noexcept;

private:
    friend class Analyzer;
    // Every coefficient of a signal of this length, or (bandTimes given) those
    // of the parts.
    void layout (std::int64_t length, const std::span<const TimeSpan>* bandTimes = nullptr);

    std::shared_ptr<const detail::BandPlan> plan_;
    std::int64_t length_ = 0;
    bool whole_ = true; // every coefficient of the signal, not parts
    std::vector<int> shift_;
    std::vector<std::int64_t> first_;
    std::vector<std::size_t> offset_;
    // Coefficients of all bands back to back. Not a vector: a store is large and
    // written whole by analysis, so zero-filling it first would cost a pass.
    class Buffer
    {
    public:
        Buffer() = default;
        Buffer (const Buffer& other);
        Buffer& operator= (const Buffer& other);
        Buffer (Buffer&& other) noexcept;
        Buffer& operator= (Buffer&& other) noexcept;
        ~Buffer();
        void reset (std::size_t size);
        std::complex<float>* data() const noexcept { return data_; }

    private:
        std::complex<float>* data_ = nullptr;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    } data_;
};

namespace detail
{
// Index range [begin, end) of the coefficients of one band whose times lie in
// [t0, t1), clipped to what the band holds.
struct IndexRange
{
    std::int64_t begin, end;
};
inline std::int64_t ceilShift (std::int64_t t, int shift)
{
    return -((-t) >> shift);
}
inline IndexRange indexRange (std::int64_t first, std::size_t count, int shift, std::int64_t t0, std::int64_t t1)
{
    // Keep the negations in ceilShift clear of overflow.
    constexpr std::int64_t lim = std::int64_t { 1 } << 62;
    t0 = std::clamp (t0, -lim, lim);
    t1 = std::clamp (t1, -lim, lim);
    const std::int64_t b = std::max (first, ceilShift (t0, shift));
    const std::int64_t e = std::min (first + static_cast<std::int64_t> (count), ceilShift (t1, shift));
    return { b, std::max (b, e) };
}
} // namespace detail

// Calls fn(band, time, coef) for every stored coefficient of the bands
// [bandBegin, bandEnd) whose time (in samples) lies in [timeBegin, timeEnd), band
// by band, each in time order. coef is a reference into the store: writes stick
// (a const store gives const references).
template <class Store, class Fn>
requires std::is_same_v<std::remove_const_t<Store>, CoefStore>
void visit (Store& store, int bandBegin, int bandEnd, std::int64_t timeBegin, std::int64_t timeEnd, Fn&& fn)
{
    bandBegin = std::max (bandBegin, 0);
    bandEnd = std::min (bandEnd, store.bands());
    for (int b = bandBegin; b < bandEnd; ++b)
    {
        const auto coefs = store.band (b);
        const int shift = store.timeShift (b);
        const std::int64_t first = store.firstIndex (b);
        const auto r = detail::indexRange (first, coefs.size(), shift, timeBegin, timeEnd);
        for (std::int64_t n = r.begin; n < r.end; ++n)
            fn (b, n * (std::int64_t { 1 } << shift), coefs[static_cast<std::size_t> (n - first)]);
    }
}

// Two stores side by side: fn(band, time, coefA, coefB) for the coefficients at
// the same band and time. The stores must have the same layout (else Error).
template <class Fn>
void visit (CoefStore& a, CoefStore& b, int bandBegin, int bandEnd, std::int64_t timeBegin, std::int64_t timeEnd,
            Fn&& fn)
{
    if (! a.sameLayout (b))
        throw Error ("cqt::visit: the two stores differ in layout");
    bandBegin = std::max (bandBegin, 0);
    bandEnd = std::min (bandEnd, a.bands());
    for (int band = bandBegin; band < bandEnd; ++band)
    {
        const auto ca = a.band (band);
        const auto cb = b.band (band);
        const int shift = a.timeShift (band);
        const std::int64_t first = a.firstIndex (band);
        const auto r = detail::indexRange (first, ca.size(), shift, timeBegin, timeEnd);
        for (std::int64_t n = r.begin; n < r.end; ++n)
        {
            const auto i = static_cast<std::size_t> (n - first);
            fn (band, n * (std::int64_t { 1 } << shift), ca[i], cb[i]);
        }
    }
}

} // namespace quorvalen::cqt
