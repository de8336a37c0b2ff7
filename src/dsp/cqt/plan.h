// The band plan of a scale (centres, windows, time steps, supports, levels and
// their windows), memoised: the engine builds a new analyzer for every call,
// mostly with the same settings. Nothing in it depends on a signal's length.
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

namespace quorvalen::cqt::detail
{

struct BandInfo
{
    double centre = 0.0;   // cycles per sample; 0 for the lowpass band
    double position = 0.0; // on the band axis k (centre = ref * 2^(k / bandsPerOctave)); lowpass: the top virtual band
    double lo = 0.0;       // window support in cycles per sample; the lowpass band spans [-hi, hi]
    double hi = 0.0;
    int shift = 0;               // coefficient step 2^shift samples
    std::int64_t support = 0;    // samples beyond which the atoms are below maxError / 2 of their peak
    std::int64_t reach = 0;      // samples beyond which the band's atoms are below maxError / 10 of their peak
    std::int64_t blockReach = 0; // the same for maxError / 100: what a block must add around what it keeps
};

// A band's window sampled on the bins of a transform.
struct GridBand
{
    std::int64_t firstBin = 0; // bandpass: bins [firstBin, firstBin + bins), may pass size/2
    std::int64_t bins = 0;     // lowpass: bins [0, bins) and their mirror images
    std::size_t offset = 0;    // into gain
};

// Windows on the bins of a level's blocks: bin k is k / size cycles per level
// sample, k / (size << level) per signal sample.
struct Grid
{
    std::int64_t size = 0;
    int bandBegin = 0; // windows of bands below this one are not sampled (bins = 0)
    std::vector<GridBand> bands;
    std::vector<float> gain;
    // 1 / (size * windowEnergy) at bins 0..size/2, from the windows of every
    // band there. Band b synthesises through step(b) * window * dual.
    std::vector<double> dual;
};

// Bands run in levels: level l holds the signal decimated by 2^l, exactly
// below a pass edge (what a half-band filter keeps), so that every band runs at
// a rate a few times its width and in blocks of a few thousand samples whatever
// its atoms' length. The signal enters level 0; each level filters and
// decimates its blocks into the next one's input, and on synthesis
// interpolates the next one's output into its own blocks.
struct Level
{
    int level = 0;                    // rate 2^-level of the sample rate
    int bandBegin = 0, bandEnd = 0;   // its bands
    std::int64_t size = 0;            // block transform size, level samples
    std::int64_t margin = 0;          // kept clear on either side of a block: atoms and the filter fit in it
    std::int64_t keep = 0;            // size - 2 margin: what a block analyses or synthesises
    int minShift = 0;                 // log2 of the smallest step of its bands, in level samples
    std::shared_ptr<const Grid> grid; // windows and duals on the block's bins
    // Decimation (and interpolation) gains at bins 0..size/4 of a block: 1 up
    // to the pass edge, 0 from the next level's Nyquist frequency. Empty for
    // the last level.
    std::vector<double> toNext;
};

struct BandPlan
{
    CqtParams params;            // resynthesis flag cleared: it does not shape the plan
    double sigma = 0.0;          // standard deviation in bands of the Gaussian the windows resemble
    double halfWidth = 0.0;      // windows are zero beyond this many bands from their centre
    int topPosition = 0;         // band axis position of band 0
    int bandpass = 0;            // B
    std::vector<BandInfo> bands; // B bandpass bands, then the lowpass band
    int maxShift = 0;
    std::int64_t maxReach = 0;
    std::vector<Level> levels; // level l at index l; band ranges in band order

    WindowShape window;
    // Window of a band at nu cycles per sample (bandpass: 0 < nu < 1, may pass
    // the Nyquist frequency; lowpass: any sign).
    double gain (int band, double nu) const;
    // Sum over bands of window^2 at nu (both mirror images of a real signal's
    // spectrum counted), nu folded into [0, 0.5]. Level, except near the Nyquist
    // frequency where the mirror images meet.
    double windowEnergy (double nu) const;
    bool fits (std::int64_t size, int bandBegin, int bandEnd) const;
};

std::shared_ptr<const BandPlan> bandPlan (const CqtParams& params);

bool sameScale (const CqtParams& a, const CqtParams& b);

} // namespace quorvalen::cqt::detail
