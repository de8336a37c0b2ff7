// One block of one level: its bands' analysis and synthesis, and the filter
// between it and the next level, on scratch space that a Workspace holds.
//
// A block of level l starts at `origin` level samples (a multiple of its
// bands' steps, and even) and spans lv.size samples; it analyses or
// synthesises the coefficients whose times lie in the middle lv.keep samples,
// whose atoms then fit in the block.
#pragma once

#include "cqt/cqt.h"
#include "cqt/fft.h"
#include "cqt/plan.h"

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen::cqt::detail
{

using cf = std::complex<float>;
// Precision of the levels' own transforms, streams and filters. A low band's
// signal passes through a filter and a transform pair on every level above
// it, so their rounding adds up: in single precision a 25 Hz tone came back
// with 3e-6 of error. The band transforms, most of the work, stay in single
// precision (their results are stored as floats anyway).
using Real = double;
using cr = std::complex<Real>;

// A stretch [start, end) of a level's samples, held while blocks still read
// it; samples outside it read as 0.
class Stream
{
public:
    void reset (std::size_t capacity);
    std::int64_t end() const { return start_ + count_; }
    // Samples at time t onward; t is end() unless the stream is empty.
    void append (std::int64_t t, const Real* x, std::int64_t n);
    void appendZeros (std::int64_t t, std::int64_t n);
    void drop (std::int64_t before);
    // Copies [t, t + n) to out; false (and nothing copied) when all of it is 0.
    bool read (std::int64_t t, std::int64_t n, Real* out) const;
    std::size_t bytes() const { return buf_.capacity() * sizeof (Real); }

private:
    Real* reserve (std::int64_t t, std::int64_t n);
    std::vector<Real> buf_;
    std::int64_t head_ = 0, start_ = 0, count_ = 0;
};

// FFTW plans of one level's sizes, fetched once per workspace.
struct LevelFfts
{
    std::shared_ptr<const FftPlan<Real>> toSpectrum, toSamples;         // size, in place
    std::shared_ptr<const FftPlan<Real>> halfToSpectrum, halfToSamples; // size / 2, in place
    // Band transforms by shift - minShift: backward out of place, forward in place.
    std::vector<std::shared_ptr<const FftPlan<float>>> bandBackward, bandForward;
};

struct WorkState
{
    // Sizes the arrays and plans for plan's levels; keeps what is large enough.
    void prepare (const std::shared_ptr<const BandPlan>& plan);
    std::size_t bytes() const;
    // The block's samples (in place: the spectrum's storage).
    Real* samples() const { return reinterpret_cast<Real*> (spectrum.get()); }
    Real* halfSamples() const { return reinterpret_cast<Real*> (half.get()); }

    std::shared_ptr<const BandPlan> plan; // what the plans below were made for
    bool streamStores = false;            // analysis writes the store past the caches
    std::int64_t spectrumSize = 0, bandSize = 0;
    FftwArray<cr> spectrum; // a block's spectrum, bins 0..size/2
    FftwArray<cf> band;     // analysis: a band's spectrum; synthesis: its coefficients, then spectrum
    FftwArray<cf> bandOut;  // analysis: a band's coefficients
    FftwArray<cr> half;     // the next level's samples of a block, and their spectrum
    std::vector<LevelFfts> ffts;
    // Per level: its input (analysis) or output (synthesis); for synthesis,
    // the next block and whether it has run any.
    std::vector<Stream> streams;
    std::vector<std::int64_t> next;
    std::vector<bool> started;
};

// Analyses the block whose spectrum is in work.spectrum into the store.
void analyzeBands (const BandPlan& plan, const Level& lv, std::int64_t origin, CoefStore& store, WorkState& work);
// Orders the analysis's streamed store writes before what follows.
void storeFence();
// Zeroes the block's coefficients in the store (a block of zeros).
void clearBands (const Level& lv, std::int64_t origin, CoefStore& store);
// The block's samples filtered and decimated into work.halfSamples() (size / 2).
void decimate (const Level& lv, WorkState& work);
// True when the block has coefficients to synthesise.
bool hasCoefficients (const BandPlan& plan, const Level& lv, std::int64_t origin, const CoefStore& store);
// Synthesises into work.samples(): the block's bands, plus (withLower) the next
// level's output in work.halfSamples() interpolated.
void synthesizeBlock (const BandPlan& plan, const Level& lv, std::int64_t origin, const CoefStore& store,
                      bool withLower, WorkState& work);

// Time range [begin, end) in signal samples of a block's kept middle.
inline IndexRange keptTimes (const Level& lv, std::int64_t origin)
{
    return { (origin + lv.margin) << lv.level, (origin + lv.margin + lv.keep) << lv.level };
}

} // namespace quorvalen::cqt::detail
