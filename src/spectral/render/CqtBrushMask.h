#pragma once
// The brushes of an offline constant-Q edit and the gain (and phase turn) they give
// each coefficient. Positions are normalised: time 0..1 over the sound, band 0..1
// from the first band (highest) to the last bandpass band.
#include "dsp/cqt/cqt.h"

#include <array>
#include <complex>
#include <cstdint>
#include <limits>
#include <vector>

namespace quorvalen::spectral
{

struct BrushRecord
{
    float centreTime = 0.0f;
    float centreBand = 0.0f;
    float timeRadius = 0.0005f;
    float bandRadius = 0.0005f;
    float strength = 0.0f;
    int mode = 0; // 0 soft cut, 1 hard cut, 2 gentle cut, 3 harmonic stack, 4 ring
};

// One record per edit of five floats (time, band, time radius, band radius,
// strength); every field clamped, non-finite values taking their low bound.
std::vector<BrushRecord> makeBrushRecords (const float* edits, const std::uint32_t* modes, int count);

// Each coefficient of band b at time t (in a sound of n samples) takes, from every
// brush that reaches it, its mode's weight; a mode's brushes combine by maximum,
// the modes by product. A brush is looked at only where its time slice of the
// sound (one of 512) and its ellipse reach, so the work is the brushes' area in
// coefficients, not brushes x coefficients.
class CqtBrushMask
{
public:
    static constexpr int buckets = 512;

    // bandCount: the analyzer's bandpass bands (the lowpass band is never edited).
    CqtBrushMask (std::vector<BrushRecord> brushes, int bandCount);

    int bandCount() const noexcept { return bands; }

    // Coefficients of one channel that the brushes' ellipses span, summed over the
    // distinct brushes (a harmonic stack counts each partial): what apply costs.
    // Counting stops once the sum passes `limit`, so a refusal costs little.
    std::int64_t cells (const cqt::Analyzer& analyzer, std::int64_t n,
                        std::int64_t limit = std::numeric_limits<std::int64_t>::max()) const;

    // Every coefficient of bands [0, bandCount) at times [0, n) of the store with
    // the brushes that reach it applied; the others are kept.
    void apply (cqt::CoefStore& store, std::int64_t n) const;

    // One brush's ellipse, or one partial of a harmonic stack, on the band axis.
    struct Shape
    {
        int brush = 0;
        int partial = -1;         // 0..3 for a harmonic stack
        int band0 = 0, band1 = 0; // bands [band0, band1) it may reach
    };

private:
    std::vector<BrushRecord> brushes; // each distinct brush once
    int bands;
    int normCount;
    std::vector<std::array<int, 2>> bucketRange; // per brush: first and last time slice
    std::vector<Shape> shapes;                   // by first band
};

} // namespace quorvalen::spectral
