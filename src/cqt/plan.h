// The band plan of a scale (centres, windows, time steps, supports) and its
// windows sampled for one transform size, both memoised: the engine builds a new
// analyzer for every call, mostly with the same settings and signal lengths.
//
// The transform is a nonstationary Gabor frame that is "painless": each band's
// window occupies at most as many FFT bins as its coefficient grid has points, so
// the frame operator is diagonal in frequency and the canonical dual windows are
// the windows divided by it. Reconstruction is exact up to rounding.
#pragma once

#include "cqt/cqt.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen::cqt::detail {

struct BandInfo {
    double centre = 0.0;    // cycles per sample; 0 for the lowpass band
    double position = 0.0;  // on the band axis k (centre = ref * 2^(k / bandsPerOctave)); lowpass: middle of its flank
    double lo = 0.0;        // window support in cycles per sample; the lowpass band spans [-hi, hi]
    double hi = 0.0;
    int shift = 0;          // coefficient step 2^shift samples
    std::int64_t support = 0;  // samples; see Analyzer::bandSupport
    std::int64_t reach = 0;    // samples beyond which the band's atoms are below maxError / 10 of their peak
};

struct BandPlan {
    CqtParams params;  // resynthesis flag cleared: it does not shape the plan
    double sigma = 0.0;      // Gaussian width in bands
    double halfWidth = 0.0;  // windows are zero beyond this many bands from their centre
    int topPosition = 0;     // band axis position of band 0
    int bandpass = 0;        // B
    std::vector<BandInfo> bands;  // B bandpass bands, then the lowpass band
    int maxShift = 0;
    std::int64_t maxReach = 0;
    std::int64_t padding = 0;  // zeros before and after the signal in a frame; multiple of 2^maxShift

    double lowpassScale = 1.0;  // lowpass step over the lowest band's step

    // Window shape at d bands from a centre.
    double shape(double d) const;
    // Integral of shape^2 from x upward.
    double shapeEnergyAbove(double x) const;
    // Window of a band at nu cycles per sample (bandpass: 0 < nu < 1, may pass
    // the Nyquist frequency; lowpass: any sign).
    double gain(int band, double nu) const;
    // The frame operator (sum over bands of window^2 / step, both mirror images
    // counted) at nu, folded into [0, 0.5].
    double frameWeight(double nu) const;
    // Smallest usable transform size of at least minSize samples. coarse limits
    // the choice to a few sizes per octave so that varied lengths share windows.
    std::int64_t frameSize(std::int64_t minSize, bool coarse) const;
    bool fits(std::int64_t size) const;
};

std::shared_ptr<const BandPlan> bandPlan(const CqtParams& params);

// Windows of every band sampled on the bins of a transform of `size` points.
struct GridBand {
    std::int64_t firstBin = 0;  // bandpass: bins [firstBin, firstBin + bins), may pass size/2
    std::int64_t bins = 0;      // lowpass: bins [0, bins) and their mirror images
    std::size_t offset = 0;     // into gain
};

struct Grid {
    std::int64_t size = 0;
    std::vector<GridBand> bands;
    std::vector<float> gain;
    // 1 / (size * frame operator) at bins 0..size/2; empty when built for
    // analysis only.
    std::vector<double> dual;

    std::size_t bytes() const { return gain.size() * sizeof(float) + dual.size() * sizeof(double); }
};

std::shared_ptr<const Grid> grid(const std::shared_ptr<const BandPlan>& plan, std::int64_t size,
                                 bool withDual);

bool sameScale(const CqtParams& a, const CqtParams& b);

}  // namespace quorvalen::cqt::detail
