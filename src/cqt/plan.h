// The band plan of a scale (centres, windows, time steps, supports) and its
// windows sampled for one transform size, both memoised: the engine builds a new
// analyzer for every call, mostly with the same settings and signal lengths.
//
// The transform is a nonstationary Gabor frame that is "painless": each band's
// window occupies at most as many FFT bins as its coefficient grid has points, so
// the frame operator is diagonal in frequency and dual windows are a division
// away. We synthesise through step * window / (sum of squared windows) rather
// than the canonical window / (sum of squared windows / step): both reconstruct
// exactly, but the canonical duals change shape wherever the step doubles and
// their atoms then ring twice as long; these keep the shape of the windows.
#pragma once

#include "cqt/cqt.h"
#include "cqt/window.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen::cqt::detail {

struct BandInfo {
    double centre = 0.0;    // cycles per sample; 0 for the lowpass band
    double position = 0.0;  // on the band axis k (centre = ref * 2^(k / bandsPerOctave)); lowpass: the top virtual band
    double lo = 0.0;        // window support in cycles per sample; the lowpass band spans [-hi, hi]
    double hi = 0.0;
    int shift = 0;          // coefficient step 2^shift samples
    std::int64_t support = 0;  // samples beyond which the atoms are below maxError / 2 of their peak
    std::int64_t reach = 0;    // samples beyond which the band's atoms are below maxError / 10 of their peak
    std::int64_t blockReach = 0;  // the same for maxError / 100: what a block must add around what it keeps
};

struct BandPlan {
    CqtParams params;  // resynthesis flag cleared: it does not shape the plan
    double sigma = 0.0;      // width in bands of the Gaussian the windows resemble (for estimates)
    double halfWidth = 0.0;  // windows are zero beyond this many bands from their centre
    int topPosition = 0;     // band axis position of band 0
    int bandpass = 0;        // B
    std::vector<BandInfo> bands;  // B bandpass bands, then the lowpass band
    int maxShift = 0;
    std::int64_t maxReach = 0;
    std::int64_t padding = 0;  // zeros before and after the signal in a frame; multiple of 2^maxShift

    // Bands [0, blockedBands) run in blocks of blockSize samples, keeping the
    // middle and adding blockMargin samples on either side; blockShift is their
    // largest shift.
    int blockedBands = 0;
    int blockShift = 0;
    std::int64_t blockSize = 0;
    std::int64_t blockMargin = 0;

    WindowShape window;
    // Window of a band at nu cycles per sample (bandpass: 0 < nu < 1, may pass
    // the Nyquist frequency; lowpass: any sign).
    double gain(int band, double nu) const;
    // Sum over bands of window^2 at nu (both mirror images of a real signal's
    // spectrum counted), nu folded into [0, 0.5]. Level, except near the Nyquist
    // frequency where the mirror images meet.
    double windowEnergy(double nu) const;
    // Smallest usable transform size of at least minSize samples for the bands
    // [bandBegin, end): a multiple of their steps on which each window fits its
    // grid. coarse limits the choice to a few sizes per octave so that varied
    // lengths share windows.
    std::int64_t frameSize(std::int64_t minSize, bool coarse, int bandBegin = 0) const;
    bool fits(std::int64_t size, int bandBegin, int bandEnd) const;
};

std::shared_ptr<const BandPlan> bandPlan(const CqtParams& params);

// A band's window sampled on the bins of a transform.
struct GridBand {
    std::int64_t firstBin = 0;  // bandpass: bins [firstBin, firstBin + bins), may pass size/2
    std::int64_t bins = 0;      // lowpass: bins [0, bins) and their mirror images
    std::size_t offset = 0;     // into gain
};

struct Grid {
    std::int64_t size = 0;
    int bandBegin = 0;  // windows of bands below this one are not sampled (bins = 0)
    std::vector<GridBand> bands;
    std::vector<float> gain;
    // 1 / (size * windowEnergy) at bins 0..size/2; empty when built for
    // analysis only. Band b synthesises through step(b) * window * dual.
    std::vector<double> dual;

    std::size_t bytes() const { return gain.size() * sizeof(float) + dual.size() * sizeof(double); }
};

// Windows for the bands [bandBegin, end) at a transform size (and the duals,
// correct on their bins, when asked).
std::shared_ptr<const Grid> grid(const std::shared_ptr<const BandPlan>& plan, std::int64_t size, int bandBegin,
                                 bool withDual);

bool sameScale(const CqtParams& a, const CqtParams& b);

}  // namespace quorvalen::cqt::detail
